#include "prompter/LibraryView.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QShortcut>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>
#include <variant>

#include "prompter/PrompterOptions.h"
#include "prompter/ScriptFile.h"

namespace prompter {
namespace {

QPushButton* button(const QString& text, const QString& name, QWidget* parent) {
    auto* made = new QPushButton(text, parent);
    made->setAccessibleName(name);
    return made;
}

}  // namespace

LibraryView::LibraryView(ScriptLibrary& library, QWidget* parent)
    : QWidget(parent),
      library_(library),
      menuBar_(new QMenuBar(this)),
      message_(new QLabel(this)),
      list_(new QTreeView(this)),
      editor_(new ScriptEditor(library, this)),
      paragraph_(new QSpinBox(this)),
      prompt_(button(QStringLiteral("Prompt"), QStringLiteral("Prompt the selected script"), this)),
      rename_(button(QStringLiteral("Rename\u2026"), QStringLiteral("Rename the selected script"),
                     this)),
      delete_(button(QStringLiteral("Delete"),
                     QStringLiteral("Move the selected script to the trash"), this)),
      open_(button(QStringLiteral("Open File\u2026"),
                   QStringLiteral("Prompt a text file from disk"), this)),
      paste_(button(QStringLiteral("Paste as Script"),
                    QStringLiteral("Paste the clipboard as a new script"), this)),
      reset_(button(QStringLiteral("Reset Settings"),
                    QStringLiteral("Reset the prompter's settings"), this)),
      undo_(button(QStringLiteral("Undo"),
                   QStringLiteral("Take the deleted script back from the trash"), this)),
      settings_(button(QStringLiteral("Settings\u2026"),
                       QStringLiteral("Open the prompter's settings"), this)),
      speedBox_(new QSpinBox(this)) {
    speedBox_->setAccessibleName(QStringLiteral("Speed, in words a minute"));
    speedBox_->setRange(20, 600);
    speedBox_->setSingleStep(10);
    speedBox_->setSuffix(QStringLiteral(" wpm"));
    speedBox_->setValue(static_cast<int>(speed_));
    undo_->hide();
    setAccessibleName(QStringLiteral("Library"));
    message_->setAccessibleName(QStringLiteral("Messages"));
    message_->setWordWrap(true);
    message_->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    message_->hide();

    list_->setAccessibleName(QStringLiteral("Scripts"));
    list_->setModel(&library_);
    list_->setRootIsDecorated(false);
    list_->setItemsExpandable(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The columns are as wide as their longest likely text, measured once rather than over every
    // row at every change.
    list_->header()->setSectionResizeMode(ScriptLibrary::kName, QHeaderView::Stretch);
    list_->header()->setStretchLastSection(false);
    const QFontMetrics metrics(list_->font());
    const int pad = metrics.horizontalAdvance(QStringLiteral("MM"));
    list_->header()->resizeSection(
        ScriptLibrary::kArrived,
        metrics.horizontalAdvance(QLocale().toString(QDateTime(QDate(2026, 12, 31), QTime(23, 59)),
                                                     QLocale::ShortFormat)) +
            pad);
    list_->header()->resizeSection(
        ScriptLibrary::kLength, metrics.horizontalAdvance(QStringLiteral("1,000,000 words")) + pad);
    list_->header()->resizeSection(ScriptLibrary::kReadingTime,
                                   metrics.horizontalAdvance(QStringLiteral("Reading time")) + pad);
    list_->installEventFilter(this);

    paragraph_->setAccessibleName(QStringLiteral("Start at paragraph"));
    paragraph_->setPrefix(QStringLiteral("From paragraph "));
    paragraph_->setMinimum(1);
    paragraph_->setMaximum(1);

    auto* buttons = new QHBoxLayout;
    for (QWidget* widget : {static_cast<QWidget*>(prompt_), static_cast<QWidget*>(paragraph_),
                            static_cast<QWidget*>(speedBox_), static_cast<QWidget*>(rename_),
                            static_cast<QWidget*>(delete_)})
        buttons->addWidget(widget);
    buttons->addStretch();
    for (QWidget* widget : {static_cast<QWidget*>(open_), static_cast<QWidget*>(paste_),
                            static_cast<QWidget*>(settings_), static_cast<QWidget*>(reset_)})
        buttons->addWidget(widget);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->addWidget(list_);
    splitter->addWidget(editor_);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);
    // The list starts as wide as the editor (equal sizes, scaled to the window when it is first
    // laid out): its date, length and reading time columns take some 400 pixels, and a name
    // squeezed into what a narrower list leaves reads as "New — W...".
    splitter->setSizes({1000, 1000});

    auto* messages = new QHBoxLayout;
    messages->addWidget(message_, 1);
    messages->addWidget(undo_);
    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar_);
    layout->addLayout(messages);
    layout->addLayout(buttons);
    layout->addWidget(splitter, 1);

    connect(&library_, &ScriptLibrary::changed, this, &LibraryView::libraryChanged);
    connect(&library_, &ScriptLibrary::scriptChanged, this, [this](const QString& fileName) {
        editor_->changedOnDisk(fileName);
        if (fileName == editor_->fileName())
            syncParagraphs();
    });
    connect(editor_, &ScriptEditor::paragraphChanged, this, [this](std::size_t paragraph) {
        paragraph_->setValue(static_cast<int>(paragraph + 1));
    });
    connect(editor_, &ScriptEditor::paragraphClicked, this, [this](std::size_t paragraph) {
        paragraph_->setValue(static_cast<int>(paragraph + 1));
        promptSelected();
    });
    connect(editor_, &ScriptEditor::message, this, &LibraryView::showMessage);
    connect(&library_, &QAbstractItemModel::modelReset, this, &LibraryView::libraryChanged);
    connect(list_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &LibraryView::openSelected);
    connect(list_, &QTreeView::activated, this, [this] { promptSelected(); });
    connect(prompt_, &QPushButton::clicked, this, &LibraryView::promptSelected);
    connect(rename_, &QPushButton::clicked, this, &LibraryView::renameSelected);
    connect(delete_, &QPushButton::clicked, this, &LibraryView::deleteSelected);
    connect(open_, &QPushButton::clicked, this, &LibraryView::openFile);
    connect(paste_, &QPushButton::clicked, this, &LibraryView::pasteClipboard);
    connect(reset_, &QPushButton::clicked, this, &LibraryView::resetSettingsRequested);
    connect(undo_, &QPushButton::clicked, this, &LibraryView::undoDelete);
    connect(settings_, &QPushButton::clicked, this, &LibraryView::settingsRequested);
    connect(speedBox_, &QSpinBox::valueChanged, this, [this](int value) {
        if (value != static_cast<int>(std::lround(speed_)))
            emit speedChangeRequested(value);
    });
    auto* undoShortcut = new QShortcut(QKeySequence::Undo, list_);
    undoShortcut->setContext(Qt::WidgetShortcut);
    connect(undoShortcut, &QShortcut::activated, this, &LibraryView::undoDelete);
    makeMenus();
    auto* pasteShortcut = new QShortcut(QKeySequence::Paste, this);
    connect(pasteShortcut, &QShortcut::activated, this, &LibraryView::pasteClipboard);
    libraryChanged();
}

// Keys that other controls own (the editor's, the list's, the window's Ctrl+Q and Ctrl+Comma,
// which work while prompting too) are shown after a tab and not taken again here: one key, one
// action.
void LibraryView::makeMenus() {
    menuBar_->setAccessibleName(QStringLiteral("Menu bar"));
    QPlainTextEdit* text = editor_->text();
    const auto add = [this](QMenu* menu, const QString& name, auto slot,
                            const QKeySequence& key = {}) {
        QAction* action = menu->addAction(name);
        if (!key.isEmpty()) {
            action->setShortcut(key);
            action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            addAction(action);
        }
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    QMenu* file = menuBar_->addMenu(QStringLiteral("&File"));
    add(file, QStringLiteral("&New Script"), &LibraryView::newScript, QKeySequence::New);
    add(file, QStringLiteral("&Open File\u2026"), &LibraryView::openFile, QKeySequence::Open);
    add(file, QStringLiteral("Paste as &Script"), &LibraryView::pasteClipboard);
    add(file, QStringLiteral("&Save\tCtrl+S"), [this] {
        if (const auto failure = editor_->save())
            showMessage(*failure);
    });
    file->addSeparator();
    add(file, QStringLiteral("&Rename\u2026\tF2"), &LibraryView::renameSelected);
    add(file, QStringLiteral("&Delete\tDel"), &LibraryView::deleteSelected);
    add(file, QStringLiteral("&Undo Delete"), &LibraryView::undoDelete);
    file->addSeparator();
    add(file, QStringLiteral("&Quit\tCtrl+Q"), &LibraryView::quitRequested);

    QMenu* edit = menuBar_->addMenu(QStringLiteral("&Edit"));
    add(edit, QStringLiteral("&Undo\tCtrl+Z"), [text] { text->undo(); });
    add(edit, QStringLiteral("&Redo\tCtrl+Shift+Z"), [text] { text->redo(); });
    edit->addSeparator();
    add(edit, QStringLiteral("Cu&t\tCtrl+X"), [text] { text->cut(); });
    add(edit, QStringLiteral("&Copy\tCtrl+C"), [text] { text->copy(); });
    add(edit, QStringLiteral("&Paste\tCtrl+V"), [text] { text->paste(); });
    add(edit, QStringLiteral("Select &All\tCtrl+A"), [text] { text->selectAll(); });
    edit->addSeparator();
    add(edit, QStringLiteral("&Find\u2026\tCtrl+F"), [this] {
        editor_->findField()->setFocus();
        editor_->findField()->selectAll();
    });
    add(edit, QStringLiteral("Find &Next"), [this] { editor_->findNext(); });
    add(edit, QStringLiteral("&Replace All"), [this] { editor_->replaceAll(); });

    QMenu* view = menuBar_->addMenu(QStringLiteral("&View"));
    add(view, QStringLiteral("&Prompt from the Paragraph"), &LibraryView::promptSelected,
        QKeySequence(Qt::CTRL | Qt::Key_Return));
    add(view, QStringLiteral("&Faster"), [this] { speedBox_->stepUp(); });
    add(view, QStringLiteral("&Slower"), [this] { speedBox_->stepDown(); });

    QMenu* settings = menuBar_->addMenu(QStringLiteral("&Settings"));
    add(settings, QStringLiteral("&Settings\u2026\tCtrl+,"), &LibraryView::settingsRequested);
    add(settings, QStringLiteral("&Reset Settings"), &LibraryView::resetSettingsRequested);

    QMenu* help = menuBar_->addMenu(QStringLiteral("&Help"));
    add(help, QStringLiteral("&Keys"), &LibraryView::showKeys, QKeySequence::HelpContents);
}

void LibraryView::showKeys() {
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Keys"),
                                QStringLiteral("Keys while prompting"), QMessageBox::Close, this);
    box->setInformativeText(
        QStringLiteral("<pre>%1</pre>"
                       "In the library: Enter or Ctrl+Return prompts the script selected, F2 "
                       "renames it, Delete moves it to the trash (Ctrl+Z in the list takes it "
                       "back), Ctrl+S saves the editor's text, Ctrl+F finds in it.")
            .arg(PrompterOptions::keysHelp().toHtmlEscaped()));
    box->setObjectName(QStringLiteral("keys"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
}

// A new, empty script named "New script" (numbered when taken), open in the editor to write.
void LibraryView::newScript() {
    QString fileName;
    const auto failure = library_.add("New script\n", &fileName);
    showMessage(failure.value_or(QString()));
    if (failure)
        return;
    select(fileName);
    editor_->text()->setFocus();
    editor_->text()->selectAll();
}

QList<QWidget*> LibraryView::controls() const {
    return {message_, list_, paragraph_, prompt_, rename_, delete_, open_, paste_, reset_, editor_};
}

void LibraryView::setSpeed(double wordsPerMinute) {
    speed_ = wordsPerMinute;
    library_.setSpeed(wordsPerMinute);
    speedBox_->setValue(static_cast<int>(std::lround(wordsPerMinute)));  // announces nothing
}

void LibraryView::showMessage(const QString& message) {
    message_->setText(message);
    message_->setVisible(!message.isEmpty());
    undo_->hide();  // offered only beside the message of a deletion
}

QString LibraryView::selectedFile() const {
    const QModelIndex current = list_->currentIndex();
    return current.isValid() ? current.siblingAtColumn(ScriptLibrary::kName)
                                   .data(ScriptLibrary::kFileNameRole)
                                   .toString()
                             : QString();
}

QString LibraryView::rowText(int row, int column) const {
    return library_.index(row, column).data().toString();
}

void LibraryView::select(const QString& fileName) {
    const int row = library_.rowOf(fileName);
    if (row >= 0)
        list_->setCurrentIndex(library_.index(row, ScriptLibrary::kName));
}

// The rows follow the model by themselves; here only what depends on there being any: a row
// chosen, the buttons, the editor, and why a refused folder shows nothing.
void LibraryView::libraryChanged() {
    if (const auto& refusal = library_.refusal()) {
        showMessage(*refusal);
    } else if (!refusedShown_.isEmpty() && message() == refusedShown_) {
        showMessage({});
    }
    refusedShown_ = library_.refusal().value_or(QString());
    if (!list_->currentIndex().isValid() && library_.rowCount() > 0) {
        // Chosen for the person, not by them: it stays marked new.
        autoSelecting_ = true;
        list_->setCurrentIndex(library_.index(0, ScriptLibrary::kName));
        autoSelecting_ = false;
    }
    const bool any = list_->currentIndex().isValid();
    for (QWidget* widget : {static_cast<QWidget*>(prompt_), static_cast<QWidget*>(rename_),
                            static_cast<QWidget*>(delete_), static_cast<QWidget*>(paragraph_)})
        widget->setEnabled(any);
    if (!any && !editor_->fileName().isEmpty())
        openSelected();
}

// The script selected opens in the editor (read once); prompting starts at its first paragraph
// until the cursor or a click says otherwise.
void LibraryView::openSelected() {
    const QString fileName = selectedFile();
    if (fileName == editor_->fileName())
        return;
    if (const auto failure = editor_->open(fileName))
        showMessage(*failure);
    if (!autoSelecting_ && !fileName.isEmpty())
        library_.markSeen(fileName);  // opened: no longer new
    paragraph_->setMaximum(1);
    syncParagraphs();
    paragraph_->setValue(1);
    emit scriptOpened(editor_->fileName());
}

void LibraryView::syncParagraphs() {
    paragraph_->setMaximum(
        static_cast<int>(std::clamp<std::size_t>(editor_->paragraphCount(), 1, INT_MAX)));
}

// What is prompted is what the editor shows: edits not yet saved are saved first (as leaving the
// script would), and a failure to save is said instead of prompting an older text.
void LibraryView::promptSelected() {
    const QString fileName = selectedFile();
    if (!fileName.isEmpty() && editor_->fileName() == fileName && editor_->isModified())
        if (const auto failure = editor_->save()) {
            showMessage(*failure);
            return;
        }
    if (!fileName.isEmpty())
        emit promptRequested(library_.pathOf(fileName),
                             static_cast<std::size_t>(paragraph_->value() - 1));
}

// The name is edited as shown (without ".txt"); the file keeps its ".txt".
void LibraryView::renameSelected() {
    const QString fileName = selectedFile();
    if (fileName.isEmpty())
        return;
    bool ok = false;
    const QString shown =
        QInputDialog::getText(this, QStringLiteral("Rename Script"), QStringLiteral("New name:"),
                              QLineEdit::Normal, ScriptLibrary::shownName(fileName), &ok);
    if (!ok)
        return;
    // Refused names are said in the message line; the list is left as it was.
    const QString newName = ScriptLibrary::fileNameFor(shown, fileName);
    if (editor_->fileName() == fileName && editor_->isModified())
        if (const auto failure = editor_->save()) {
            showMessage(*failure);
            return;
        }
    const auto failure = library_.rename(fileName, newName);
    showMessage(failure.value_or(QString()));
    if (!failure)
        select(newName);
}

// Moved to the trash at once, with Undo offered beside the message (and Ctrl+Z in the list).
void LibraryView::deleteSelected() {
    const QString fileName = selectedFile();
    if (fileName.isEmpty())
        return;
    QString trashed;
    if (const auto failure = library_.moveToTrash(fileName, &trashed)) {
        showMessage(*failure);
        return;
    }
    showMessage(QStringLiteral("\u201c%1\u201d was moved to the trash.")
                    .arg(ScriptLibrary::shownName(fileName)));
    trashed_ = trashed;
    trashedName_ = fileName;
    undo_->setVisible(!trashed.isEmpty());
}

void LibraryView::undoDelete() {
    if (trashed_.isEmpty())
        return;
    const auto failure = library_.restoreFromTrash(trashed_, trashedName_);
    showMessage(failure.value_or(QString()));
    if (!failure)
        select(trashedName_);
    trashed_.clear();
}

void LibraryView::openFile() {
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open a Script"), QString(),
        QStringLiteral("Text files (*.txt *.md *.text);;All files (*)"));
    if (!path.isEmpty())
        emit promptRequested(path, 0);
}

void LibraryView::pasteClipboard() {
    const QString text = QApplication::clipboard()->text();
    if (text.trimmed().isEmpty()) {
        showMessage(QStringLiteral("The clipboard holds no text to paste."));
        return;
    }
    QString fileName;
    const auto failure = library_.add(text.toUtf8(), &fileName);
    showMessage(failure.value_or(QString()));
    if (!failure)
        select(fileName);
}

bool LibraryView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete) {
            deleteSelected();
            return true;
        }
        if (key->key() == Qt::Key_F2) {
            renameSelected();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace prompter
