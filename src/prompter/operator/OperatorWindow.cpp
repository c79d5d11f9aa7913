#include "prompter/operator/OperatorWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QTime>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "prompter/remote/RemoteQr.h"

namespace prompter::operate {
namespace {

constexpr int kQrScale = 3;  // pixels a module

// "1:02:03" past an hour, "2:03" below.
QString duration(double seconds) {
    const auto whole = static_cast<long long>(std::max(0.0, std::round(seconds)));
    const long long hours = whole / 3600;
    const long long minutes = whole / 60 % 60;
    const long long rest = whole % 60;
    if (hours > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(rest, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(minutes).arg(rest, 2, 10, QLatin1Char('0'));
}

QString escaped(const std::string& text) {
    return QString::fromStdString(text).toHtmlEscaped();
}

}  // namespace

OperatorWindow::OperatorWindow(remote::PromptRemote& control, PromptView& view,
                               ScriptLibrary& library, QWidget* parent)
    : QWidget(parent),
      control_(control),
      view_(view),
      library_(library),
      state_(new QLabel(this)),
      times_(new QLabel(this)),
      clock_(new QLabel(this)),
      message_(new QLabel(this)),
      editor_(new ScriptEditor(library, this)),
      lines_(new QLabel(this)),
      sections_(new QListWidget(this)),
      speed_(new QSpinBox(this)),
      paragraph_(new QSpinBox(this)),
      remotePanel_(new QWidget(this)),
      qr_(new QLabel(remotePanel_)),
      address_(new QLabel(remotePanel_)) {
    setWindowTitle(QStringLiteral("Operator \u2014 Teleprompter"));
    setAccessibleName(QStringLiteral("Operator"));

    // The band at the top: the state, the times and a clock, large enough to read at a glance.
    QFont large = font();
    large.setPointSizeF(large.pointSizeF() * 1.6);
    large.setBold(true);
    for (QLabel* label : {state_, times_, clock_})
        label->setFont(large);
    state_->setAccessibleName(QStringLiteral("State"));
    times_->setAccessibleName(QStringLiteral("Elapsed and left"));
    clock_->setAccessibleName(QStringLiteral("Clock"));
    auto* band = new QHBoxLayout;
    band->addWidget(state_, 1);
    band->addWidget(times_);
    band->addSpacing(24);
    band->addWidget(clock_);
    message_->setWordWrap(true);
    message_->setStyleSheet(QStringLiteral("color: #b3261e"));
    message_->hide();

    // Beside the editor: the lines, the sections, the controls, the remote.
    lines_->setWordWrap(true);
    lines_->setTextFormat(Qt::RichText);
    lines_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    lines_->setMinimumHeight(120);
    lines_->setAccessibleName(QStringLiteral("Reading now and next"));
    sections_->setAccessibleName(QStringLiteral("Sections"));
    const auto jumpToSection = [this](QListWidgetItem* item) {
        remote::Command command;
        command.kind = remote::CommandKind::jump;
        command.section = sections_->row(item) + 1;
        send(command);
    };
    connect(sections_, &QListWidget::itemClicked, this, jumpToSection);
    connect(sections_, &QListWidget::itemActivated, this, jumpToSection);

    speed_->setRange(static_cast<int>(remote::Command::kMinSpeed),
                     static_cast<int>(remote::Command::kMaxSpeed));
    speed_->setSingleStep(static_cast<int>(PromptView::kSpeedStep));
    speed_->setSuffix(QStringLiteral(" wpm"));
    speed_->setAccessibleName(QStringLiteral("Speed in words a minute"));
    connect(speed_, &QSpinBox::valueChanged, this, [this](int value) {
        remote::Command command;
        command.kind = remote::CommandKind::speed;
        command.value = value;
        send(command);
    });
    paragraph_->setRange(1, 1);
    paragraph_->setAccessibleName(QStringLiteral("Paragraph to jump to"));

    auto* controls = new QGridLayout;
    controls->addWidget(
        addButton(QStringLiteral("Start"), QStringLiteral("Count down, then move from here"),
                  remote::CommandKind::start),
        0, 0);
    pause_ = addButton(QStringLiteral("Pause"), QStringLiteral("Stop, or move on from here"),
                       remote::CommandKind::toggle);
    controls->addWidget(pause_, 0, 1);
    controls->addWidget(
        addButton(QStringLiteral("Slower"), QStringLiteral("10 words a minute less"),
                  remote::CommandKind::slower),
        1, 0);
    controls->addWidget(
        addButton(QStringLiteral("Faster"), QStringLiteral("10 words a minute more"),
                  remote::CommandKind::faster),
        1, 1);
    controls->addWidget(addButton(QStringLiteral("Back a paragraph"),
                                  QStringLiteral("To the start of this paragraph, then the one "
                                                 "before"),
                                  remote::CommandKind::jump, -1),
                        2, 0);
    controls->addWidget(addButton(QStringLiteral("On a paragraph"),
                                  QStringLiteral("To the next paragraph holding text"),
                                  remote::CommandKind::jump, 1),
                        2, 1);
    controls->addWidget(
        addButton(QStringLiteral("Back a screen"), QStringLiteral("One screen back"),
                  remote::CommandKind::screens, -1),
        3, 0);
    controls->addWidget(addButton(QStringLiteral("On a screen"), QStringLiteral("One screen on"),
                                  remote::CommandKind::screens, 1),
                        3, 1);
    auto* speedRow = new QHBoxLayout;
    speedRow->addWidget(new QLabel(QStringLiteral("Speed"), this));
    speedRow->addWidget(speed_, 1);
    auto* paragraphRow = new QHBoxLayout;
    paragraphRow->addWidget(new QLabel(QStringLiteral("Paragraph"), this));
    paragraphRow->addWidget(paragraph_, 1);
    auto* go = new QPushButton(QStringLiteral("Go to paragraph"), this);
    go->setFocusPolicy(Qt::NoFocus);
    buttons_ << go;
    connect(go, &QPushButton::clicked, this, [this] {
        remote::Command command;
        command.kind = remote::CommandKind::jump;
        command.paragraph = paragraph_->value();
        send(command);
    });
    connect(paragraph_, &QSpinBox::editingFinished, go, &QPushButton::click);
    paragraphRow->addWidget(go);
    auto* leave = new QPushButton(QStringLiteral("Stop prompting"), this);
    leave->setToolTip(QStringLiteral("Back to the library on both screens"));
    leave->setFocusPolicy(Qt::NoFocus);
    buttons_ << leave;
    connect(leave, &QPushButton::clicked, this, &OperatorWindow::leaveRequested);

    auto* remoteLayout = new QHBoxLayout(remotePanel_);
    remoteLayout->setContentsMargins(0, 0, 0, 0);
    qr_->setAccessibleName(QStringLiteral("QR code of the remote's address"));
    address_->setWordWrap(true);
    address_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    remoteLayout->addWidget(qr_);
    remoteLayout->addWidget(address_, 1);
    remotePanel_->hide();

    auto* side = new QVBoxLayout;
    side->addWidget(lines_);
    side->addWidget(new QLabel(QStringLiteral("<b>Sections</b>"), this));
    side->addWidget(sections_, 1);
    side->addLayout(controls);
    side->addLayout(speedRow);
    side->addLayout(paragraphRow);
    side->addWidget(leave);
    side->addWidget(remotePanel_);

    // Read at arm's length, beside a camera: larger than the library's editor.
    QFont script = editor_->text()->font();
    script.setPointSizeF(script.pointSizeF() * 1.3);
    editor_->text()->setFont(script);
    auto* body = new QHBoxLayout;
    body->addWidget(editor_, 3);
    body->addLayout(side, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(band);
    layout->addWidget(message_);
    layout->addLayout(body, 1);

    connect(editor_, &ScriptEditor::message, this, [this](const QString& text) {
        message_->setText(text);
        message_->setVisible(!text.isEmpty());
    });
    connect(&library_, &ScriptLibrary::scriptChanged, editor_, &ScriptEditor::changedOnDisk);
    // A script not of the library is shown as the prompt has it: each new version of it too
    // (an edit on disk, or the whole of a big script once it is read).
    connect(&view_, &PromptView::scriptChanged, this, [this] {
        if (isVisible() && !inLibrary(path_))
            showScript(path_);
    });
    // A change of the editor's text redraws the shading on the new lines.
    connect(editor_->text()->document(), &QTextDocument::contentsChanged, this, [this] {
        highlighted_ = -1;
        scheduleRefresh();
    });

    refreshTimer_.setSingleShot(true);
    refreshTimer_.setInterval(kRefreshMs);
    connect(&refreshTimer_, &QTimer::timeout, this, &OperatorWindow::refresh);
    connect(&control_, &remote::PromptRemote::changed, this, &OperatorWindow::scheduleRefresh);
    clockTimer_.setInterval(1000);
    connect(&clockTimer_, &QTimer::timeout, this, &OperatorWindow::refresh);
    clockTimer_.start();
    resize(1280, 800);
    refresh();
}

QPushButton* OperatorWindow::addButton(const QString& text, const QString& tip,
                                       remote::CommandKind kind, double value) {
    auto* button = new QPushButton(text, this);
    button->setToolTip(tip);
    // Keys stay with the window (and go on to the prompt), never click a button pressed before.
    button->setFocusPolicy(Qt::NoFocus);
    buttons_ << button;
    connect(button, &QPushButton::clicked, this, [this, kind, value] {
        remote::Command command;
        command.kind = kind;
        command.value = value;
        if (kind == remote::CommandKind::jump)
            command.by = static_cast<std::int64_t>(value);
        send(command);
    });
    return button;
}

QPushButton* OperatorWindow::button(const QString& text) const {
    for (QPushButton* button : buttons_)
        if (button->text().remove(QLatin1Char('&')) == text)
            return button;
    return nullptr;
}

void OperatorWindow::send(const remote::Command& command) {
    const auto failure = control_.apply(command);
    message_->setText(failure ? QString::fromStdString(*failure) : QString());
    message_->setVisible(failure.has_value());
    refresh();
}

void OperatorWindow::scheduleRefresh() {
    if (!refreshTimer_.isActive())
        refreshTimer_.start();
}

bool OperatorWindow::inLibrary(const QString& path) const {
    return !path.isEmpty() &&
           QFileInfo(path).absolutePath() == QFileInfo(library_.folder()).absoluteFilePath();
}

void OperatorWindow::showScript(const QString& path) {
    path_ = path;
    const QFileInfo info(path);
    if (inLibrary(path)) {
        if (const auto failure = editor_->open(info.fileName())) {
            message_->setText(*failure);
            message_->show();
        }
    } else {
        // Not the library's: shown as the prompt has it, to read, not to edit here.
        editor_->open({});
        if (const auto& script = view_.script()) {
            std::string text;
            script->forEachPiece([&text](std::string_view piece) { text.append(piece); });
            editor_->text()->setPlainText(QString::fromStdString(text));
        }
        editor_->text()->document()->setModified(false);
        editor_->text()->setEnabled(true);
        editor_->text()->setReadOnly(true);
        if (!path.isEmpty()) {
            message_->setText(QStringLiteral("%1 is not in the library: it is shown here to "
                                             "read; scripts of the library can be edited.")
                                  .arg(QDir::toNativeSeparators(path)));
            message_->show();
        }
    }
    highlighted_ = -1;
    refresh();
}

void OperatorWindow::setRemoteAddress(const QString& address) {
    remotePanel_->setVisible(!address.isEmpty());
    if (address.isEmpty())
        return;
    if (const auto qr = remote::RemoteQr::encode(address))
        qr_->setPixmap(QPixmap::fromImage(qr->image(kQrScale)));
    else
        qr_->clear();
    address_->setText(QStringLiteral("<b>Remote control</b><br>Scan the code with a phone on "
                                     "this network, or open<br><tt>%1</tt>")
                          .arg(address.toHtmlEscaped()));
}

void OperatorWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void OperatorWindow::refresh() {
    if (!isVisible())
        return;  // brought up to date when shown
    clock_->setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    const remote::RemoteState state = control_.snapshot();
    const bool prompting = control_.isPrompting();
    const double now = control_.now();
    QString text;
    if (!prompting)
        text = QStringLiteral("Not prompting");
    else if (!state.connected)
        text = QStringLiteral("Holding: the prompter this one follows does not answer");
    else if (state.following)
        text = QStringLiteral("Following the voice");
    else if (state.countingDown)
        text = QStringLiteral("Starting in %1")
                   .arg(static_cast<int>(std::ceil(view_.motion().countdownLeft(now) / 1000.0)));
    else if (state.length > 0 && state.position >= state.length)
        text = QStringLiteral("At the end");
    else if (state.running)
        text = QStringLiteral("Running");
    else if (state.position == 0)
        text = QStringLiteral("Ready");
    else
        text = QStringLiteral("Paused");
    state_->setText(text);
    pause_->setText(state.running ? QStringLiteral("Pause") : QStringLiteral("Resume"));
    times_->setText(prompting ? QStringLiteral("Elapsed %1 \u00b7 Left %2")
                                    .arg(duration(view_.elapsedSeconds()),
                                         view_.isIndexing() ? QStringLiteral("counting words\u2026")
                                                            : duration(view_.minutesLeft() * 60))
                              : QString());
    {
        const QSignalBlocker quiet(speed_);
        speed_->setValue(static_cast<int>(std::lround(state.speed)));
    }
    {
        const QSignalBlocker quiet(paragraph_);
        paragraph_->setRange(1, static_cast<int>(std::max<std::size_t>(1, state.paragraphs)));
    }
    for (QPushButton* button : buttons_)
        button->setEnabled(prompting || button->text() == QLatin1String("Stop prompting"));

    // The lines read now and next.
    QString lines;
    for (std::size_t i = 0; i < state.lines.size(); ++i) {
        if (i == 0)
            lines += QStringLiteral("<p><b>Now</b> (paragraph %1 of %2)<br><big>%3</big></p>")
                         .arg(state.paragraph)
                         .arg(state.paragraphs)
                         .arg(escaped(state.lines[i]));
        else
            lines += QStringLiteral("<p><b>Next</b><br>%1</p>").arg(escaped(state.lines[i]));
    }
    lines_->setText(lines);

    // The sections, the one being read selected.
    if (state.sections != sectionTitles_) {
        sectionTitles_ = state.sections;
        sections_->clear();
        for (std::size_t i = 0; i < sectionTitles_.size(); ++i)
            sections_->addItem(
                QStringLiteral("%1. %2").arg(i + 1).arg(QString::fromStdString(sectionTitles_[i])));
    }
    {
        const QSignalBlocker quiet(sections_);
        sections_->setCurrentRow(state.section ? static_cast<int>(*state.section) - 1 : -1);
    }

    if (!prompting || state.paragraph == 0) {
        highlight(-1, 0);
        return;
    }
    const std::size_t paragraph = state.paragraph - 1;
    const double weight = view_.index().weight(paragraph);
    const double fraction =
        weight > 0
            ? std::clamp((state.position - view_.paragraphStart(paragraph)) / weight, 0.0, 1.0)
            : 0.0;
    highlight(static_cast<int>(paragraph), fraction);
}

// The editor's paragraph `paragraph` shaded, its line at `fraction` of it marked, and scrolled
// into view a third of the way down (unless the operator is typing).
void OperatorWindow::highlight(int paragraph, double fraction) {
    QPlainTextEdit* text = editor_->text();
    QTextDocument* document = text->document();
    if (paragraph < 0 || paragraph >= document->blockCount()) {
        if (highlighted_ != -1)
            text->setExtraSelections({});
        highlighted_ = -1;
        return;
    }
    const QTextBlock block = document->findBlockByNumber(paragraph);
    const QTextLayout* layout = block.layout();
    const int lineCount = layout ? layout->lineCount() : 0;
    const int line =
        lineCount > 0 ? std::clamp(static_cast<int>(fraction * lineCount), 0, lineCount - 1) : 0;
    if (paragraph == highlighted_ && line == highlightedLine_)
        return;
    highlighted_ = paragraph;
    highlightedLine_ = line;

    QTextEdit::ExtraSelection whole;
    whole.cursor = QTextCursor(block);
    whole.cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    whole.format.setBackground(QColor(0xff, 0xf4, 0xc2));
    whole.format.setProperty(QTextFormat::FullWidthSelection, true);
    QTextEdit::ExtraSelection reading;
    reading.cursor = QTextCursor(block);
    if (lineCount > 0) {
        const QTextLine laid = layout->lineAt(line);
        reading.cursor.setPosition(block.position() + laid.textStart());
        reading.cursor.setPosition(block.position() + laid.textStart() + laid.textLength(),
                                   QTextCursor::KeepAnchor);
    }
    reading.format.setBackground(QColor(0xff, 0xc8, 0x3d));
    reading.format.setProperty(QTextFormat::FullWidthSelection, true);
    text->setExtraSelections({whole, reading});

    if (text->hasFocus())
        return;
    const int lineHeight = std::max(1, text->fontMetrics().lineSpacing());
    const int shown = text->viewport()->height() / lineHeight;
    text->verticalScrollBar()->setValue(block.firstLineNumber() + line - shown / 3);
}

void OperatorWindow::keyPressEvent(QKeyEvent* event) {
    // What no control here took is the prompt's (a clicker, Space, the arrows).
    QCoreApplication::sendEvent(&view_, event);
}

}  // namespace prompter::operate
