#include "host/desktop/NavigationBar.h"

#include <QKeyEvent>
#include <QPainter>
#include <algorithm>

namespace host::desktop {
namespace {

constexpr double kItemMargin = 12.0;    // points from the bar's sides
constexpr double kTitleSize = 17.0;     // points, bold
constexpr double kItemTextSize = 17.0;  // points

// A bar item drawn as a button, not as a link: a rounded outline, or for the main action (the
// right item, Send) filled with the tint; a ring in the tint around the
// item that has the keyboard's focus, so Tab is seen to move; Return and Enter press it, as
// Space does.
class BarButton : public QPushButton {
  public:
    using QPushButton::QPushButton;

    void setPrimary(bool primary) {
        if (primary_ == primary)
            return;
        primary_ = primary;
        update();
    }

    [[nodiscard]] QSize sizeHint() const override {
        const QFontMetrics metrics(font());
        const int padding = metrics.height() / 2;
        return {metrics.horizontalAdvance(text()) + 3 * padding, metrics.height() + padding};
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPalette& colours = palette();
        const QColor tint = colours.color(QPalette::Active, QPalette::Highlight);
        const QColor disabled = colours.color(QPalette::Disabled, QPalette::ButtonText);
        const QRectF shape = QRectF(rect()).adjusted(3.5, 3.5, -3.5, -3.5);
        const qreal radius = shape.height() / 4;
        if (primary_) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(isEnabled() ? tint : disabled);
            if (isDown())
                painter.setBrush(tint.darker(120));
        } else {
            painter.setPen(QPen(isEnabled() ? colours.color(QPalette::Mid) : disabled, 1));
            painter.setBrush(isDown() ? colours.color(QPalette::Mid)
                                      : colours.color(QPalette::Button));
        }
        painter.drawRoundedRect(shape, radius, radius);
        if (hasFocus()) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(tint, 2));
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), radius + 2, radius + 2);
        }
        painter.setPen(primary_ ? colours.color(QPalette::HighlightedText)
                                : colours.color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                                QPalette::ButtonText));
        painter.setFont(font());
        painter.drawText(shape, Qt::AlignCenter, text());
    }

    void keyPressEvent(QKeyEvent* event) override {
        const bool plain = !(event->modifiers() & ~Qt::KeypadModifier);
        if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
            if (isEnabled())
                animateClick();
            return;
        }
        QPushButton::keyPressEvent(event);
    }

  private:
    bool primary_ = false;
};

}  // namespace

QString barItemText(const platform::BarButtonItem& item) {
    if (item.title())
        return QString::fromStdString(*item.title());
    switch (item.systemItem().value_or(platform::BarButtonSystemItem::done)) {
        case platform::BarButtonSystemItem::close:
            return QStringLiteral("\u2715 Close");
        case platform::BarButtonSystemItem::cancel:
            return QStringLiteral("Cancel");
        case platform::BarButtonSystemItem::done:
            break;
    }
    return QStringLiteral("Done");
}

NavigationBar::NavigationBar(QWidget* parent)
    : QWidget(parent),
      left_(new BarButton(this)),
      right_(new BarButton(this)),
      title_(new QLabel(this)) {
    setAutoFillBackground(false);
    for (QPushButton* button : {left_, right_})
        button->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(left_, right_);
    connect(left_, &QPushButton::clicked, this, [this] { tap(false); });
    connect(right_, &QPushButton::clicked, this, [this] { tap(true); });
    title_->setAlignment(Qt::AlignCenter);
    title_->setTextFormat(Qt::PlainText);
    title_->setAccessibleName(QStringLiteral("Title"));
    setAccessibleName(QStringLiteral("Navigation bar"));
}

void NavigationBar::sync(const std::shared_ptr<platform::ViewController>& controller, double zoom) {
    controller_ = controller;
    const platform::NavigationItem* item = controller ? &controller->navigationItem() : nullptr;
    zoom_ = zoom;
    QFont itemFont = font();
    itemFont.setPixelSize(static_cast<int>(kItemTextSize * zoom + 0.5));
    QFont titleFont = itemFont;
    titleFont.setPixelSize(static_cast<int>(kTitleSize * zoom + 0.5));
    titleFont.setBold(true);
    const auto show = [&](QPushButton* button,
                          const std::shared_ptr<platform::BarButtonItem>& bar) {
        button->setVisible(bar != nullptr);
        if (!bar)
            return;
        const QString text = barItemText(*bar);
        button->setText(text);
        button->setAccessibleName(text);
        button->setEnabled(bar->isEnabled());
        QFont font = itemFont;
        font.setBold(bar->style() == platform::BarButtonItemStyle::done);
        button->setFont(font);
        // The right item is the sheet's main action (Send), as on the device.
        static_cast<BarButton*>(button)->setPrimary(button == right_);
    };
    show(left_, item ? item->leftBarButtonItem() : nullptr);
    show(right_, item ? item->rightBarButtonItem() : nullptr);
    // A title line can be as long as the whole text: only its start is shown.
    std::string_view title = item ? item->title().view() : std::string_view();
    if (title.size() > kTitleCharacters * 4) {
        std::size_t cut = kTitleCharacters * 4;
        while (cut > 0 && (static_cast<unsigned char>(title[cut]) & 0xC0) == 0x80)
            --cut;
        title = title.substr(0, cut);
    }
    fullTitle_ = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
    // A line break in a title is shown as a space: the bar has one line.
    for (QChar& c : fullTitle_) {
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = u' ';
    }
    title_->setFont(titleFont);
    title_->setAccessibleDescription(fullTitle_);
    setFixedHeight(static_cast<int>(kHeight * zoom + 0.5));
    place();
}

void NavigationBar::place() {
    const int margin = static_cast<int>(kItemMargin * zoom_ + 0.5);
    const int h = height();
    const auto placeButton = [&](QPushButton* button, bool right) {
        const QSize hint = button->sizeHint();
        const int x = right ? width() - margin - hint.width() : margin;
        button->setGeometry(x, (h - hint.height()) / 2, hint.width(), hint.height());
    };
    placeButton(left_, false);
    placeButton(right_, true);
    // The title is centred on the bar, in the room the items leave on both sides.
    const int side = std::max(left_->isVisible() ? left_->geometry().right() : 0,
                              right_->isVisible() ? width() - right_->geometry().left() : 0) +
                     margin;
    const int titleWidth = std::max(width() - 2 * side, 0);
    title_->setGeometry(side, 0, titleWidth, h);
    title_->setText(title_->fontMetrics().elidedText(fullTitle_, Qt::ElideRight, titleWidth));
}

void NavigationBar::resizeEvent(QResizeEvent*) {
    place();
}

void NavigationBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawLine(0, height() - 1, width(), height() - 1);
}

void NavigationBar::tap(bool right) {
    const auto controller = controller_.lock();
    if (!controller)
        return;
    const auto& item = controller->navigationItem();
    const auto& bar = right ? item.rightBarButtonItem() : item.leftBarButtonItem();
    if (bar && bar->tap() && tapped_)
        tapped_();
}

}  // namespace host::desktop
