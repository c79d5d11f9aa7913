#include "controls/QuorvaneColoredToggle.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Geometry.h"
#include "styling/ColorHelpers.h"

namespace quorvane {

using platform::Rect;
using platform::RgbaColor;

namespace {
constexpr const char* kValueChangedAction = "handleValueChanged:";
}  // namespace

std::shared_ptr<QuorvaneColoredToggle> QuorvaneColoredToggle::make(Rect frame) {
    auto toggle = std::make_shared<QuorvaneColoredToggle>();
    toggle->initWithFrame(frame);
    return toggle;
}

std::optional<RgbaColor> QuorvaneColoredToggle::onTintColor() const {
    return Switch::onTintColor();
}

void QuorvaneColoredToggle::setOnTintColor(std::optional<RgbaColor> color) {
    Switch::setOnTintColor(std::move(color));
    updateAppearance();
}

bool QuorvaneColoredToggle::initWithCoder(const platform::Coder& coder) {
    if (!Switch::initWithCoder(coder))
        return false;
    registerValueChangedAction();
    return true;
}

void QuorvaneColoredToggle::initWithFrame(Rect frame) {
    Switch::initWithFrame(frame);
    registerValueChangedAction();
}

void QuorvaneColoredToggle::handleValueChanged(const platform::ObjectPtr& /*sender*/) {
    updateAppearance();
}

Rect QuorvaneColoredToggle::frame() const {
    return Switch::frame();
}

void QuorvaneColoredToggle::setFrame(Rect frame) {
    Switch::setFrame(frame);
    updateAppearance();
}

Rect QuorvaneColoredToggle::bounds() const {
    return Switch::bounds();
}

void QuorvaneColoredToggle::setBounds(Rect bounds) {
    Switch::setBounds(bounds);
    updateAppearance();
}

bool QuorvaneColoredToggle::isOn() const {
    return Switch::isOn();
}

void QuorvaneColoredToggle::setOn(bool on) {
    Switch::setOn(on);
    updateAppearance();
}

void QuorvaneColoredToggle::setOn(bool on, bool animated) {
    Switch::setOn(on, animated);
    updateAppearance();
}

void QuorvaneColoredToggle::didMoveToSuperview() {
    updateAppearance();
}

void QuorvaneColoredToggle::registerValueChangedAction() {
    addTarget(shared_from_this(), kValueChangedAction, platform::ControlEvents::valueChanged);
}

void QuorvaneColoredToggle::updateAppearance() {
    const RgbaColor tint = onTintColor().value_or(RgbaColor::clearColor());
    // Only the hue carries over; a colour without components counts as hue 0.
    const double hueDegrees = hslComponents(tint).hue;
    const RgbaColor background =
        RgbaColor::colorWithHue(hueDegrees / 360.0, kBackgroundSaturation, 1.0, 1.0);
    layer().setCornerRadius(platform::rectGetMidY(bounds()));
    setBackgroundColor(background);
}

namespace {

[[maybe_unused]] const bool registered = [] {
    platform::ClassInfo info = platform::decodableClass<QuorvaneColoredToggle>(
        QuorvaneColoredToggle::kClassName, "UISwitch");
    info.messages = {
        {kValueChangedAction, [](platform::Object& receiver, const platform::ObjectPtr& sender) {
             static_cast<QuorvaneColoredToggle&>(receiver).handleValueChanged(sender);
         }}};
    info.methodList = {"onTintColor",
                       "setOnTintColor:",
                       "initWithCoder:",
                       "initWithFrame:",
                       kValueChangedAction,
                       "frame",
                       "setFrame:",
                       "bounds",
                       "setBounds:",
                       "isOn",
                       "setOn:",
                       "setOn:animated:",
                       "didMoveToSuperview"};
    return platform::ClassRegistry::shared().registerClass(std::move(info));
}();

}  // namespace

}  // namespace quorvane
