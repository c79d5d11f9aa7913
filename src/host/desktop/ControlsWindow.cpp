#include "host/desktop/ControlsWindow.h"

#include <QKeyEvent>
#include <optional>
#include <stdexcept>

#include "host/desktop/QtColours.h"
#include "host/desktop/ShareWindow.h"
#include "host/session/Colour.h"
#include "host/session/ExtensionControls.h"
#include "platform/ui/SelectionFeedbackGenerator.h"

namespace host::desktop {
namespace {

using platform::RgbaColor;

// Where things sit, in points.
constexpr double kMargin = 24;
constexpr double kToggleTop = 52;
constexpr double kSliderHeadingTop = 110;
constexpr double kSliderTop = 140;
constexpr double kSliderHeight = 60;
constexpr double kTicksTop = 214;
constexpr QSize kWindowSize(560, 280);
constexpr std::chrono::milliseconds kPulseTime(250);

QString hexOf(const std::optional<RgbaColor>& colour) {
    const auto rgb = colour ? rgbOf(*colour) : std::nullopt;
    return rgb ? QString::fromStdString(host::hexOf(*rgb)) : QStringLiteral("none");
}

}  // namespace

ControlsWindow::ControlsWindow(platform::UserInterfaceStyle appearance, QWidget* parent)
    : QWidget(parent),
      root_(platform::View::make()),
      canvas_(new QWidget(this)),
      toggleHeading_(new QLabel(QStringLiteral("Coloured toggle"), this)),
      toggleState_(new QLabel(this)),
      sliderHeading_(new QLabel(QStringLiteral("Sticky slider"), this)),
      ticks_(new QLabel(this)) {
    ExtensionControls controls = makeExtensionControls();
    toggle_ = std::move(controls.toggle);
    sticky_ = std::move(controls.sticky);
    slider_ = std::move(controls.slider);
    label_ = std::move(controls.valueLabel);

    setWindowTitle(QStringLiteral("Teleprompter controls"));
    setAccessibleName(QStringLiteral("Teleprompter controls"));
    setPalette(paletteFor(appearance));
    canvas_->setAutoFillBackground(true);

    root_->addSubview(toggle_);
    root_->addSubview(sticky_);
    toggle_->setFrame(platform::makeRect(kMargin, kToggleTop, 0, 0));  // a switch keeps its size
    toggle_->setOnTintColor(galleryTints()[tint_].colour);
    root_->addConstraints({
        sticky_->leadingAnchor().constraintEqualToAnchor(root_->leadingAnchor(), kMargin),
        sticky_->trailingAnchor().constraintEqualToAnchor(root_->trailingAnchor(), -kMargin),
        sticky_->topAnchor().constraintEqualToAnchor(root_->topAnchor(), kSliderTop),
        sticky_->bottomAnchor().constraintEqualToAnchor(root_->topAnchor(),
                                                        kSliderTop + kSliderHeight),
    });
    renderer_.mount(root_, canvas_);
    renderer_.setControlChanged([this] { refresh(); });
    if (QWidget* widget = renderer_.widgetFor(toggle_.get()))
        widget->setAccessibleName(QStringLiteral("Coloured toggle"));
    if (QWidget* widget = renderer_.widgetFor(slider_.get()))
        widget->setAccessibleName(QStringLiteral("Sticky slider"));

    QFont heading = font();
    heading.setBold(true);
    for (QLabel* label : {toggleHeading_, sliderHeading_})
        label->setFont(heading);
    ticks_->setTextFormat(Qt::PlainText);
    pulse_.setSingleShot(true);
    connect(&pulse_, &QTimer::timeout, this, [this] { refresh(); });

    resize(kWindowSize);
    refresh();
    if (QWidget* widget = renderer_.widgetFor(toggle_.get()))
        widget->setFocus();
}

ControlsWindow::~ControlsWindow() = default;

void ControlsWindow::nextTint() {
    tint_ = (tint_ + 1) % galleryTints().size();
    toggle_->setOnTintColor(galleryTints()[tint_].colour);
    refresh();
}

void ControlsWindow::refresh() {
    canvas_->setGeometry(rect());
    root_->setFrame(platform::makeRect(0, 0, width(), height()));
    root_->setNeedsLayout();
    root_->layoutIfNeeded();
    renderer_.sync();

    const auto place = [&](QLabel* label, double top) {
        label->adjustSize();
        label->move(static_cast<int>(kMargin), static_cast<int>(top));
    };
    place(toggleHeading_, kToggleTop - 28);
    place(sliderHeading_, kSliderHeadingTop);
    toggleState_->setText(QStringLiteral("%1 · tint %2 · capsule %3   (Space, T)")
                              .arg(toggle_->isOn() ? QStringLiteral("on") : QStringLiteral("off"),
                                   QString::fromUtf8(galleryTints()[tint_].name),
                                   hexOf(toggle_->backgroundColor())));
    toggleState_->adjustSize();
    toggleState_->move(
        static_cast<int>(kMargin + platform::Switch::kSize.width + 16),
        static_cast<int>(kToggleTop +
                         (platform::Switch::kSize.height - toggleState_->height()) / 2));

    const std::uint64_t ticks = platform::SelectionFeedbackGenerator::ticksFelt();
    if (ticks != ticksShown_) {
        ticksShown_ = ticks;
        pulse_.start(kPulseTime);
    }
    QString text = QStringLiteral("ticks %1").arg(ticksShown_);
    if (pulse_.isActive())
        text += QStringLiteral("   \u2726 tick");
    ticks_->setText(text);
    QFont tickFont = font();
    tickFont.setBold(pulse_.isActive());
    ticks_->setFont(tickFont);
    place(ticks_, kTicksTop);
}

void ControlsWindow::resizeEvent(QResizeEvent*) {
    refresh();
}

void ControlsWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Q:
            close();
            return;
        case Qt::Key_T:
            nextTint();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

}  // namespace host::desktop
