#include "platform/ui/Switch.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"

namespace platform {

void Switch::initWithFrame(Rect frame) {
    View::initWithFrame({frame.origin, kSize});
}

bool Switch::initWithCoder(const Coder& coder) {
    if (!Control::initWithCoder(coder))
        return false;
    View::setFrame({View::frame().origin, kSize});
    if (const auto on = coder.decodeBool("on"))
        on_ = *on;
    if (const auto tint = coder.decodeColor("onTintColor"))
        onTintColor_ = *tint;
    return true;
}

std::shared_ptr<Switch> Switch::make(Rect frame) {
    auto result = std::make_shared<Switch>();
    result->initWithFrame(frame);
    return result;
}

void Switch::setOn(bool on, bool /*animated*/) {
    on_ = on;
}

void Switch::setFrame(Rect frame) {
    View::setFrame({frame.origin, kSize});
}

void Switch::setBounds(Rect bounds) {
    View::setBounds({bounds.origin, kSize});
}

bool Switch::userToggle() {
    Dispatch::requireMainThread("UISwitch user toggle");
    if (!isEnabled())
        return false;
    on_ = !on_;
    sendActionsForControlEvents(ControlEvents::valueChanged);
    return true;
}

namespace {
[[maybe_unused]] const bool registered =
    ClassRegistry::shared().registerClass(decodableClass<Switch>("UISwitch", "UIControl"));
}  // namespace

}  // namespace platform
