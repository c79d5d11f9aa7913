#include "host/desktop/RefusalWindow.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "host/cli/InputText.h"
#include "host/desktop/DesktopIdentity.h"

namespace host::desktop {

std::variant<std::string, Refusal> readShareText(const std::optional<std::string>& input,
                                                 const QString& clipboard, std::uint64_t maxSize) {
    if (input) {
        auto read = readInputText(*input, maxSize);
        if (const auto* problem = std::get_if<InputProblem>(&read))
            return Refusal{problem->message};
        return std::move(std::get<std::string>(read));
    }
    // The clipboard's text, under the same size cap as a file's.
    const QByteArray text = clipboard.toUtf8();
    if (text.isEmpty())
        return Refusal{"the clipboard holds no text: give a FILE, or - for standard input"};
    if (static_cast<std::uint64_t>(text.size()) > maxSize)
        return Refusal{"the clipboard's text is larger than the size cap; nothing was sent"};
    return std::string(text.constData(), static_cast<std::size_t>(text.size()));
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
    // The reason starts lower case, as on standard error; a sentence here.
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
