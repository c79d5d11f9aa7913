#include "platform/ui/Slider.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"

namespace platform {

bool Slider::initWithCoder(const Coder& coder) {
    if (!Control::initWithCoder(coder))
        return false;
    if (const auto minimum = coder.decodeDouble("minimumValue"))
        setMinimumValue(static_cast<float>(*minimum));
    if (const auto maximum = coder.decodeDouble("maximumValue"))
        setMaximumValue(static_cast<float>(*maximum));
    if (const auto value = coder.decodeDouble("value"))
        setValue(static_cast<float>(*value));
    return true;
}

std::shared_ptr<Slider> Slider::make(Rect frame) {
    auto result = std::make_shared<Slider>();
    result->initWithFrame(frame);
    return result;
}

float Slider::clamped(float value) const {
    if (std::isnan(value))
        return minimumValue_;
    return std::clamp(value, minimumValue_, maximumValue_);
}

void Slider::setValue(float value) {
    value_ = clamped(value);
}

void Slider::setValue(float value, bool /*animated*/) {
    setValue(value);
}

void Slider::setMinimumValue(float minimum) {
    if (std::isnan(minimum))
        return;
    minimumValue_ = minimum;
    maximumValue_ = std::max(maximumValue_, minimum);
    value_ = clamped(value_);
}

void Slider::setMaximumValue(float maximum) {
    if (std::isnan(maximum))
        return;
    maximumValue_ = maximum;
    minimumValue_ = std::min(minimumValue_, maximum);
    value_ = clamped(value_);
}

Rect Slider::trackRectForBounds(Rect bounds) const {
    return makeRect(rectGetMinX(bounds), rectGetMidY(bounds) - kTrackHeight * 0.5,
                    rectGetWidth(bounds), kTrackHeight);
}

Rect Slider::thumbRectForBounds(Rect /*bounds*/, Rect track, float value) const {
    const double range = static_cast<double>(maximumValue_) - minimumValue_;
    double fraction = 0.0;
    if (range > 0.0 && !std::isnan(value))
        fraction = std::clamp((static_cast<double>(value) - minimumValue_) / range, 0.0, 1.0);
    const double travel = rectGetWidth(track) - kThumbSize.width;
    return makeRect(rectGetMinX(track) + fraction * travel,
                    rectGetMidY(track) - kThumbSize.height * 0.5, kThumbSize.width,
                    kThumbSize.height);
}

bool Slider::userSetValue(float value) {
    Dispatch::requireMainThread("UISlider user move");
    if (!isEnabled())
        return false;
    const float previous = value_;
    value_ = clamped(value);
    if (value_ == previous)
        return false;
    sendActionsForControlEvents(ControlEvents::valueChanged);
    return true;
}

namespace {
[[maybe_unused]] const bool registered =
    ClassRegistry::shared().registerClass(decodableClass<Slider>("UISlider", "UIControl"));
}  // namespace

}  // namespace platform
