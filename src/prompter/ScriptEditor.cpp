#include "prompter/ScriptEditor.h"

#include <sys/stat.h>
#include <QFile>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextDocument>
#include <QVBoxLayout>
#include <variant>

#include "prompter/PrompterSettings.h"
#include "prompter/WholeFile.h"
#include "qttext/PlainTextSource.h"

namespace prompter {
namespace {

// The script as the prompter draws it: the title line and `#` headings bold, cues coloured.
class ScriptHighlighter : public QSyntaxHighlighter {
  public:
    explicit ScriptHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
        cue_.setForeground(PrompterSettings{}.cueColour.darker(130));
        bold_.setFontWeight(QFont::Bold);
    }

  protected:
    // Block state 1: the title line is at or before this block.
    void highlightBlock(const QString& text) override {
        const bool titleBefore = previousBlockState() == 1;
        const QString trimmed = text.trimmed();
        if (trimmed.startsWith(QLatin1Char('#')) || (!titleBefore && !trimmed.isEmpty()))
            setFormat(0, static_cast<int>(text.size()), bold_);
        setCurrentBlockState(titleBefore || !trimmed.isEmpty() ? 1 : 0);
        static const QRegularExpression cue(QStringLiteral("\\[[^\\]]*\\]"));
        for (auto match = cue.globalMatch(text); match.hasNext();) {
            const auto found = match.next();
            QTextCharFormat format = this->format(static_cast<int>(found.capturedStart()));
            format.setForeground(cue_.foreground());
            setFormat(static_cast<int>(found.capturedStart()),
                      static_cast<int>(found.capturedLength()), format);
        }
    }

  private:
    QTextCharFormat cue_;
    QTextCharFormat bold_;
};

QPushButton* button(const QString& text, const QString& name, QWidget* parent) {
    auto* made = new QPushButton(text, parent);
    made->setAccessibleName(name);
    return made;
}

}  // namespace

ScriptEditor::ScriptEditor(ScriptLibrary& library, QWidget* parent)
    : QWidget(parent),
      library_(library),
      status_(new QLabel(this)),
      conflict_(new QWidget(this)),
      conflictText_(new QLabel(conflict_)),
      pages_(new QStackedWidget(this)),
      text_(new QPlainTextEdit(pages_)),
      large_(new qttext::LazyTextView(pages_)),
      find_(new QLineEdit(this)),
      replace_(new QLineEdit(this)),
      save_(button(QStringLiteral("Save"), QStringLiteral("Save the script"), this)) {
    setAccessibleName(QStringLiteral("Editor"));
    text_->setAccessibleName(QStringLiteral("Script text"));
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setEnabled(false);
    large_->setAccessibleName(QStringLiteral("Script, read-only: click where prompting starts"));
    large_->viewport()->installEventFilter(this);
    pages_->addWidget(text_);
    pages_->addWidget(large_);
    new ScriptHighlighter(text_->document());
    status_->setAccessibleName(QStringLiteral("Editor status"));
    status_->setWordWrap(true);
    find_->setAccessibleName(QStringLiteral("Find"));
    find_->setPlaceholderText(QStringLiteral("Find (Ctrl+F)"));
    find_->setClearButtonEnabled(true);
    replace_->setAccessibleName(QStringLiteral("Replace with"));
    replace_->setPlaceholderText(QStringLiteral("Replace with"));
    auto* next = button(QStringLiteral("Next"), QStringLiteral("Find the next match"), this);
    auto* replaceOne = button(QStringLiteral("Replace"),
                              QStringLiteral("Replace the match and find the next"), this);
    auto* replaceEvery =
        button(QStringLiteral("Replace All"), QStringLiteral("Replace every match"), this);

    conflictText_->setWordWrap(true);
    conflictText_->setAccessibleName(QStringLiteral("Conflict"));
    auto* mine = button(QStringLiteral("Keep Mine"),
                        QStringLiteral("Save this text over the script on disk"), conflict_);
    auto* theirs = button(QStringLiteral("Take Theirs"),
                          QStringLiteral("Load the script as it is on disk"), conflict_);
    auto* asNew = button(QStringLiteral("Save Mine as New"),
                         QStringLiteral("Save this text as a new script"), conflict_);
    auto* conflictLayout = new QHBoxLayout(conflict_);
    conflictLayout->setContentsMargins(0, 0, 0, 0);
    conflictLayout->addWidget(conflictText_, 1);
    conflictLayout->addWidget(mine);
    conflictLayout->addWidget(theirs);
    conflictLayout->addWidget(asNew);
    conflict_->setStyleSheet(QStringLiteral("background: #fff3cd; color: #5c4400;"));
    conflict_->hide();

    auto* findRow = new QHBoxLayout;
    findRow->addWidget(find_, 1);
    findRow->addWidget(next);
    findRow->addWidget(replace_, 1);
    findRow->addWidget(replaceOne);
    findRow->addWidget(replaceEvery);
    findRow->addWidget(save_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(conflict_);
    layout->addLayout(findRow);
    layout->addWidget(pages_, 1);
    layout->addWidget(status_);

    connect(save_, &QPushButton::clicked, this, [this] { (void)save(); });
    connect(next, &QPushButton::clicked, this, &ScriptEditor::findNext);
    connect(find_, &QLineEdit::returnPressed, this, &ScriptEditor::findNext);
    connect(replaceOne, &QPushButton::clicked, this, &ScriptEditor::replaceNext);
    connect(replaceEvery, &QPushButton::clicked, this, &ScriptEditor::replaceAll);
    connect(mine, &QPushButton::clicked, this, [this] { (void)keepMine(); });
    connect(theirs, &QPushButton::clicked, this, &ScriptEditor::takeTheirs);
    connect(asNew, &QPushButton::clicked, this, [this] { (void)saveMineAsNew(); });
    auto* saveKey = new QShortcut(QKeySequence::Save, this);
    saveKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(saveKey, &QShortcut::activated, this, [this] { (void)save(); });
    auto* findKey = new QShortcut(QKeySequence::Find, this);
    findKey->setContext(Qt::WidgetWithChildrenShortcut);
    connect(findKey, &QShortcut::activated, this, [this] {
        find_->setFocus();
        find_->selectAll();
    });
    connect(text_->document(), &QTextDocument::modificationChanged, this, [this](bool modified) {
        save_->setEnabled(modified && !text_->isReadOnly());
        if (!fileName_.isEmpty() && !hasConflict())
            status_->setText(modified ? QStringLiteral("Edited, not saved (Ctrl+S saves)")
                                      : QString());
    });
    connect(text_, &QPlainTextEdit::cursorPositionChanged, this, [this] {
        const auto paragraph = static_cast<std::size_t>(text_->textCursor().blockNumber());
        if (paragraph != property("paragraph").toULongLong()) {
            setProperty("paragraph", static_cast<qulonglong>(paragraph));
            emit paragraphChanged(paragraph);
        }
    });
    save_->setEnabled(false);
}

std::size_t ScriptEditor::paragraphCount() const {
    return pages_->currentWidget() == large_ ? large_->blockCount()
                                             : static_cast<std::size_t>(text_->blockCount());
}

std::size_t ScriptEditor::currentParagraph() const {
    return pages_->currentWidget() == large_
               ? static_cast<std::size_t>(property("clicked").toULongLong())
               : static_cast<std::size_t>(text_->textCursor().blockNumber());
}

bool ScriptEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == large_->viewport() && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && !fileName_.isEmpty()) {
            const std::size_t paragraph = large_->blockAt(mouse->position());
            setProperty("clicked", static_cast<qulonglong>(paragraph));
            emit paragraphClicked(paragraph);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

std::optional<ScriptEditor::Stamp> ScriptEditor::stampOnDisk() const {
    struct stat status {};
    if (fileName_.isEmpty() ||
        ::lstat(QFile::encodeName(library_.pathOf(fileName_)).constData(), &status) != 0 ||
        !S_ISREG(status.st_mode))
        return std::nullopt;
    return Stamp{static_cast<qint64>(status.st_ino), static_cast<qint64>(status.st_size),
                 status.st_mtim.tv_sec * 1'000'000'000LL + status.st_mtim.tv_nsec};
}

bool ScriptEditor::isModified() const {
    return text_->document()->isModified();
}

// A script too large to edit comfortably is not loaded for editing: it shows read-only in the
// lazy view, from the same bytes a prompt of it uses, and the editor says why.
void ScriptEditor::load(const std::shared_ptr<const std::string>& bytes) {
    const bool tooLarge = bytes && static_cast<qint64>(bytes->size()) > kEditableBytes;
    text_->setReadOnly(tooLarge);
    if (tooLarge || !bytes)
        text_->clear();
    else
        text_->setPlainText(
            QString::fromUtf8(bytes->data(), static_cast<qsizetype>(bytes->size())));
    large_->setContent(std::make_shared<qttext::PlainTextSource>(
        tooLarge ? bytes : std::make_shared<const std::string>()));
    setProperty("clicked", qulonglong{0});
    pages_->setCurrentWidget(tooLarge ? static_cast<QWidget*>(large_) : text_);
    text_->document()->setModified(false);
    text_->setEnabled(bytes && !tooLarge);
    conflict_->hide();
    status_->setText(tooLarge ? QStringLiteral("Read-only: scripts over %1 MB are too large to "
                                               "edit comfortably here; it prompts as it is "
                                               "(click where prompting starts).")
                                    .arg(kEditableBytes >> 20)
                              : QString());
}

std::optional<QString> ScriptEditor::open(const QString& fileName) {
    if (fileName == fileName_ && !fileName.isEmpty())
        return std::nullopt;
    if (isModified() && !fileName_.isEmpty()) {
        // Nothing typed is dropped: saved to its script, or as a new one when that changed.
        const auto failure = stampOnDisk() == stamp_ ? save() : saveMineAsNew();
        if (failure)
            return failure;
    }
    fileName_ = fileName;
    stamp_.reset();
    conflict_->hide();
    if (fileName.isEmpty()) {
        load(nullptr);
        return std::nullopt;
    }
    stamp_ = stampOnDisk();
    auto read = library_.read(fileName);
    if (auto* failure = std::get_if<ScriptReadError>(&read)) {
        load(nullptr);
        status_->setText(failure->message);
        return failure->message;
    }
    load(std::get<std::shared_ptr<const std::string>>(read));
    return std::nullopt;
}

std::optional<QString> ScriptEditor::save() {
    if (fileName_.isEmpty() || text_->isReadOnly())
        return std::nullopt;
    if (hasConflict())
        return QStringLiteral("The script changed on disk: choose which text to keep first.");
    if (stampOnDisk() != stamp_) {
        showConflict(QStringLiteral("\u201c%1\u201d changed on disk since it was opened here.")
                         .arg(ScriptLibrary::shownName(fileName_)));
        return conflictText_->text();
    }
    const QByteArray bytes = text_->toPlainText().toUtf8();
    if (const QString problem = WholeFile::write(library_.pathOf(fileName_), bytes, 0600);
        !problem.isEmpty()) {
        const QString failure =
            QStringLiteral("Cannot save \u201c%1\u201d: %2 (the text is still here)")
                .arg(ScriptLibrary::shownName(fileName_), problem);
        status_->setText(failure);
        emit message(failure);
        return failure;
    }
    stamp_ = stampOnDisk();
    text_->document()->setModified(false);
    status_->setText(QStringLiteral("Saved."));
    emit saved(fileName_);
    return std::nullopt;
}

void ScriptEditor::showConflict(const QString& why) {
    conflictText_->setText(why + QStringLiteral(" Keep this text, take the one on disk, or save "
                                                "this text as a new script?"));
    conflict_->show();
    status_->setText(conflictText_->text());
}

std::optional<QString> ScriptEditor::keepMine() {
    conflict_->hide();
    stamp_ = stampOnDisk();
    if (!stamp_) {  // removed on disk: written anew under its name
        stamp_ = std::nullopt;
        const QByteArray bytes = text_->toPlainText().toUtf8();
        if (const QString problem = WholeFile::write(library_.pathOf(fileName_), bytes, 0600);
            !problem.isEmpty())
            return problem;
        stamp_ = stampOnDisk();
        text_->document()->setModified(false);
        emit saved(fileName_);
        return std::nullopt;
    }
    text_->document()->setModified(true);
    return save();
}

void ScriptEditor::takeTheirs() {
    conflict_->hide();
    const QString name = fileName_;
    fileName_.clear();
    text_->document()->setModified(false);
    (void)open(name);
}

std::optional<QString> ScriptEditor::saveMineAsNew() {
    QString added;
    if (const auto failure = library_.add(text_->toPlainText().toUtf8(), &added))
        return failure;
    conflict_->hide();
    text_->document()->setModified(false);
    const QString text = QStringLiteral("Your text was saved as the new script \u201c%1\u201d.")
                             .arg(ScriptLibrary::shownName(added));
    status_->setText(text);
    emit message(text);
    return std::nullopt;
}

void ScriptEditor::changedOnDisk(const QString& fileName) {
    if (fileName != fileName_ || fileName_.isEmpty())
        return;
    const auto now = stampOnDisk();
    if (now == stamp_)
        return;  // our own save, or nothing that matters
    if (!isModified() && now) {
        // Nothing edited here: the text on disk shows, the cursor where it was.
        const int cursor = text_->textCursor().position();
        const int scroll = text_->verticalScrollBar() ? text_->verticalScrollBar()->value() : 0;
        auto read = library_.read(fileName_);
        if (auto* bytes = std::get_if<std::shared_ptr<const std::string>>(&read)) {
            stamp_ = now;
            load(*bytes);
            QTextCursor moved = text_->textCursor();
            moved.setPosition(
                std::min(cursor, static_cast<int>(text_->document()->characterCount() - 1)));
            text_->setTextCursor(moved);
            if (text_->verticalScrollBar())
                text_->verticalScrollBar()->setValue(scroll);
        }
        return;
    }
    showConflict(now ? QStringLiteral("\u201c%1\u201d changed on disk while you edited it.")
                           .arg(ScriptLibrary::shownName(fileName_))
                     : QStringLiteral("\u201c%1\u201d was removed on disk while you edited it.")
                           .arg(ScriptLibrary::shownName(fileName_)));
}

bool ScriptEditor::findNext() {
    const QString needle = find_->text();
    if (needle.isEmpty())
        return false;
    if (text_->find(needle))
        return true;
    QTextCursor start = text_->textCursor();
    start.movePosition(QTextCursor::Start);
    text_->setTextCursor(start);
    const bool found = text_->find(needle);
    status_->setText(found ? QString()
                           : QStringLiteral("\u201c%1\u201d is not in the script.").arg(needle));
    return found;
}

bool ScriptEditor::replaceNext() {
    if (text_->isReadOnly())
        return false;
    QTextCursor cursor = text_->textCursor();
    if (cursor.hasSelection() &&
        cursor.selectedText().compare(find_->text(), Qt::CaseInsensitive) == 0)
        cursor.insertText(replace_->text());
    return findNext();
}

int ScriptEditor::replaceAll() {
    const QString needle = find_->text();
    if (needle.isEmpty() || text_->isReadOnly())
        return 0;
    int count = 0;
    QTextCursor edit(text_->document());
    edit.beginEditBlock();
    QTextCursor found = text_->document()->find(needle, 0);
    while (!found.isNull()) {
        found.insertText(replace_->text());
        ++count;
        found = text_->document()->find(needle, found);
    }
    edit.endEditBlock();
    status_->setText(QStringLiteral("%1 replaced.").arg(count));
    return count;
}

}  // namespace prompter
