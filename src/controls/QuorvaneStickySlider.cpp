#include "controls/QuorvaneStickySlider.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Font.h"
#include "platform/foundation/Geometry.h"
#include "platform/ui/Control.h"
#include "platform/ui/MediaClock.h"

namespace quorvane {

using platform::Label;
using platform::RgbaColor;
using platform::Slider;

namespace {

constexpr const char* kValueChangedAction = "valueChanged:";

// `format` (one floating-point conversion) applied to `value`, however long the result.
std::string formatted(const std::string& format, double value) {
    const int length = std::snprintf(nullptr, 0, format.c_str(), value);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), value);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace

std::shared_ptr<QuorvaneStickySlider> QuorvaneStickySlider::make(platform::Rect frame) {
    auto control = std::make_shared<QuorvaneStickySlider>();
    control->initWithFrame(frame);
    return control;
}

// ---- stored properties ----

const std::shared_ptr<Label>& QuorvaneStickySlider::valueLabel() {
    if (!valueLabel_) {
        valueLabel_ = Label::make();
        valueLabel_->setTranslatesAutoresizingMaskIntoConstraints(false);
        valueLabel_->setFont(platform::Font::boldSystemFontOfSize(kLabelFontSize));
        valueLabel_->setBackgroundColor(RgbaColor::clearColor());
    }
    return valueLabel_;
}

const std::shared_ptr<Slider>& QuorvaneStickySlider::sliderView() {
    if (!sliderView_) {
        sliderView_ = Slider::make();
        sliderView_->setTranslatesAutoresizingMaskIntoConstraints(false);
        sliderView_->setMinimumValue(kMinimumValue);
        sliderView_->setMaximumValue(kMaximumValue);
        sliderView_->setValue(0.0f);
    }
    return sliderView_;
}

// ---- operations ----

void QuorvaneStickySlider::valueChanged(const platform::ObjectPtr& /*sender*/) {
    updateLabel();
    stickAndDetectBorders();
    // A copy, so that a callback which replaces itself does not destroy the running function.
    const Callback callback = valueChangedCallback_;
    if (callback)
        callback();
}

void QuorvaneStickySlider::initWithFrame(platform::Rect frame) {
    View::initWithFrame(frame);
    setupViews();
}

bool QuorvaneStickySlider::initWithCoder(const platform::Coder& coder) {
    if (!View::initWithCoder(coder))
        return false;
    setupViews();
    return true;
}

void QuorvaneStickySlider::layoutSubviews() {
    updateLabel();
}

// ---- internal routines ----

void QuorvaneStickySlider::setupViews() {
    setBackgroundColor(RgbaColor::clearColor());

    const auto& slider = sliderView();
    const auto sliderLeading = slider->leadingAnchor().constraintEqualToAnchor(leadingAnchor());
    const auto sliderTrailing = slider->trailingAnchor().constraintEqualToAnchor(trailingAnchor());
    const auto sliderTop = slider->topAnchor().constraintEqualToAnchor(topAnchor(), kSliderTop);
    const auto sliderBottom = slider->bottomAnchor().constraintEqualToAnchor(bottomAnchor());

    const auto& label = valueLabel();
    const auto labelLeading = label->leadingAnchor().constraintEqualToAnchor(leadingAnchor());
    const auto labelTop = label->topAnchor().constraintEqualToAnchor(topAnchor(), kLabelTop);
    const auto labelBottom = label->bottomAnchor().constraintEqualToAnchor(slider->topAnchor());

    labelLeadingConstraint_ = labelLeading;
    slider->addTarget(shared_from_this(), kValueChangedAction,
                      platform::ControlEvents::valueChanged);
    setTranslatesAutoresizingMaskIntoConstraints(false);
    addSubview(label);
    addSubview(slider);
    addConstraints({labelLeading, labelTop, labelBottom});
    addConstraints({sliderLeading, sliderTrailing, sliderTop, sliderBottom});
    updateLabel();
}

void QuorvaneStickySlider::updateLabel() {
    const auto& slider = sliderView();
    const auto& label = valueLabel();
    const float value = slider->value();
    label->setText(formatted(stringFormat_, static_cast<double>(value)));
    const platform::Rect track = slider->trackRectForBounds(bounds());
    const platform::Rect thumb = slider->thumbRectForBounds(bounds(), track, value);
    // The label's size from the last layout pass: the new text has not been measured yet.
    const double labelWidth = label->bounds().size.width;
    if (!labelLeadingConstraint_)
        return;
    labelLeadingConstraint_->setConstant((platform::rectGetMinX(thumb) - labelWidth * 0.5) +
                                         platform::rectGetWidth(thumb) * 0.5);
}

void QuorvaneStickySlider::stickAndDetectBorders() {
    Slider& slider = *sliderView();
    // All in 32-bit floats, each step rounded, the slider read afresh at each step.
    float value = slider.value();
    if (std::fabs(value - defaultValue_) < stickedValue_) {
        slider.setValue(defaultValue_);
        giveHapticFeedback();
    }

    const float border = borderDetectValue_;
    value = slider.value();
    const float minimum = slider.minimumValue();
    float distance = std::fabs(value - minimum);
    float excess = distance - border;
    if (excess < border) {
        giveHapticFeedback();
        return;
    }

    value = slider.value();
    const float maximum = slider.maximumValue();
    distance = std::fabs(value - maximum);
    excess = distance - border;
    if (excess < border)
        giveHapticFeedback();
}

void QuorvaneStickySlider::giveHapticFeedback() {
    if (lastHapticFeedback_ &&
        feedbackTimeout_ > (platform::MediaClock::now() - *lastHapticFeedback_)) {
        return;
    }
    haptic_->selectionChanged();
    lastHapticFeedback_ = platform::MediaClock::now();
}

// ---- runtime registration ----

namespace {

[[maybe_unused]] const bool registered = [] {
    platform::ClassInfo info =
        platform::decodableClass<QuorvaneStickySlider>(QuorvaneStickySlider::kClassName, "UIView");
    info.messages = {
        {kValueChangedAction, [](platform::Object& receiver, const platform::ObjectPtr& sender) {
             static_cast<QuorvaneStickySlider&>(receiver).valueChanged(sender);
         }}};
    info.methodList = {
        kValueChangedAction, "initWithFrame:", "initWithCoder:",        "layoutSubviews",
        "setupViews",        "updateLabel",    "stickAndDetectBorders", "giveHapticFeedback"};
    return platform::ClassRegistry::shared().registerClass(std::move(info));
}();

}  // namespace

}  // namespace quorvane
