#include "host/desktop/RefusalWindow.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <QClipboard>
#include <QGuiApplication>
#include <QLocale>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <climits>

#include "host/frontend/InputText.h"
#include "host/desktop/DesktopIdentity.h"

namespace host::desktop {

namespace {

constexpr const char* kClipboardEmpty =
    "The clipboard holds no text. Copy some text first, or open a text file with Send to "
    "Teleprompter.";
constexpr const char* kSelectionEmpty =
    "No text is selected. Select some text first, then choose Send Selection to Teleprompter "
    "again.";

// A file's refusal as a person reads it: the words of standard error without the pointers to
// options, as one sentence.
std::string personWords(std::string message) {
    for (const std::string advice : {" (see --max-size)", "; nothing was sent"}) {
        if (const auto at = message.find(advice); at != std::string::npos)
            message.erase(at, advice.size());
    }
    if (!message.empty() && message[0] >= 'a' && message[0] <= 'z')
        message[0] = static_cast<char>(message[0] - 'a' + 'A');
    return message + ".";
}

std::string sizeWords(std::uint64_t bytes) {
    QLocale locale(QLocale::English);
    return locale
        .formattedDataSize(static_cast<qint64>(std::min<std::uint64_t>(bytes, INT64_MAX)), 1,
                           QLocale::DataSizeIecFormat)
        .toStdString();
}

}  // namespace

std::variant<std::string, Refusal> readShareText(const std::optional<std::string>& input,
                                                 const QString& clipboard, std::uint64_t maxSize) {
    if (input) {
        auto read = readInputText(*input, maxSize);
        if (const auto* problem = std::get_if<InputProblem>(&read))
            return Refusal{problem->message, personWords(problem->message)};
        return std::move(std::get<std::string>(read));
    }
    // The clipboard's text, under the same size cap as a file's.
    const QByteArray text = clipboard.toUtf8();
    if (text.isEmpty())
        return Refusal{"the clipboard holds no text: give a FILE, or - for standard input",
                       kClipboardEmpty};
    if (static_cast<std::uint64_t>(text.size()) > maxSize)
        return Refusal{"the clipboard's text is larger than the size cap; nothing was sent",
                       "The clipboard's text is larger than " + sizeWords(maxSize) +
                           ", more than the teleprompter takes at once."};
    return std::string(text.constData(), static_cast<std::size_t>(text.size()));
}

SelectionRead readPrimarySelection(std::chrono::milliseconds patience) {
    const bool wayland = QGuiApplication::platformName().startsWith(QStringLiteral("wayland"));
    if (wayland) {
        const QString pasteProgram = QStandardPaths::findExecutable(QStringLiteral("wl-paste"));
        if (!pasteProgram.isEmpty()) {
            QProcess paste;
            paste.start(pasteProgram, {QStringLiteral("--primary"), QStringLiteral("--no-newline"),
                                       QStringLiteral("--type"), QStringLiteral("text")});
            if (!paste.waitForFinished(static_cast<int>(patience.count()))) {
                paste.kill();
                paste.waitForFinished();
                return {std::nullopt, "wl-paste --primary did not answer"};
            }
            const QByteArray error = paste.readAllStandardError();
            if (paste.exitStatus() == QProcess::NormalExit && paste.exitCode() == 0)
                return {paste.readAllStandardOutput(), ""};
            // Nothing selected is an empty selection, not a failure to read it.
            if (error.contains("No selection") || error.contains("Nothing is copied") ||
                error.contains("No suitable type"))
                return {QByteArray(), ""};
            return {std::nullopt, "wl-paste --primary failed: " +
                                      QString::fromUtf8(error).trimmed().toStdString()};
        }
    }
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection())
        return {std::nullopt, wayland ? "this Wayland desktop offers no primary selection to Qt, "
                                        "and wl-paste (wl-clipboard) is not installed"
                                      : "this desktop has no primary selection"};
    QByteArray text = clipboard->text(QClipboard::Selection).toUtf8();
    // A Wayland compositor offers the selection only to the program that has the keyboard, which
    // a program just started from a shortcut has not: Qt's answer is empty whatever is selected,
    // so only wl-paste (which takes the keyboard for a moment) can tell.
    if (wayland && text.isEmpty())
        return {std::nullopt,
                "on Wayland the selected text is read with wl-paste, which is not "
                "installed (install wl-clipboard)"};
    return {std::move(text), ""};
}

std::variant<std::string, Refusal> selectionShareText(const SelectionRead& read,
                                                      std::uint64_t maxSize) {
    if (!read.text)
        return Refusal{"the selected text cannot be read: " + read.unavailable,
                       "The selected text cannot be read on this desktop. Copy the text, then "
                       "choose Send to Teleprompter."};
    const QByteArray& text = *read.text;
    if (text.isEmpty())
        return Refusal{"no text is selected (the primary selection is empty)", kSelectionEmpty};
    if (static_cast<std::uint64_t>(text.size()) > maxSize)
        return Refusal{"the selected text is larger than the size cap; nothing was sent",
                       "The selected text is larger than " + sizeWords(maxSize) +
                           ", more than the teleprompter takes at once."};
    const std::string bytes(text.constData(), static_cast<std::size_t>(text.size()));
    if (const auto bad = firstInvalidUtf8(bytes))
        return Refusal{"the selected text is not UTF-8 (invalid byte at offset " +
                           std::to_string(*bad) + "); nothing was sent",
                       "The selected text is not in a form the teleprompter reads (it is not "
                       "UTF-8)."};
    return bytes;
}

RefusalWindow::RefusalWindow(const QString& reason, QWidget* parent)
    : QDialog(parent),
      headline_(new QLabel(QStringLiteral("The text was not sent"), this)),
      reason_(new QLabel(this)),
      close_(nullptr) {
    setWindowTitle(QString(kApplicationName));
    setWindowIcon(QIcon::fromTheme(QString(kApplicationIcon)));
    QFont bold = headline_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    headline_->setFont(bold);
    // A reason for standard error starts lower case; a sentence here.
    QString sentence = reason;
    if (!sentence.isEmpty())
        sentence[0] = sentence[0].toUpper();
    if (!sentence.endsWith(u'.'))
        sentence += u'.';
    reason_->setText(sentence);
    reason_->setTextFormat(Qt::PlainText);  // a file name is never read as markup
    reason_->setWordWrap(true);
    reason_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reason_->setMinimumWidth(360);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    close_ = buttons->button(QDialogButtonBox::Close);
    close_->setDefault(true);
    close_->setAutoDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* words = new QVBoxLayout;
    words->addWidget(headline_);
    words->addWidget(reason_);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(words, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(buttons);
    close_->setFocus();
}

bool refusalNeedsAWindow(bool standardErrorIsTerminal, bool unattended) {
    return !standardErrorIsTerminal && !unattended;
}

}  // namespace host::desktop
