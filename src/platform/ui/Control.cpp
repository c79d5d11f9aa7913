#include "platform/ui/Control.h"

#include <algorithm>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"

namespace platform {

bool Control::initWithCoder(const Coder& coder) {
    if (!View::initWithCoder(coder))
        return false;
    if (const auto enabled = coder.decodeBool("enabled"))
        enabled_ = *enabled;
    return true;
}

void Control::addTarget(const ObjectPtr& target, std::string action, ControlEvents events) {
    if (!target || action.empty())
        return;
    for (TargetAction& entry : targetActions_) {
        if (entry.target.lock() == target && entry.action == action) {
            entry.events = entry.events | events;
            return;
        }
    }
    targetActions_.push_back({target, std::move(action), events});
}

void Control::removeTarget(const ObjectPtr& target, const std::string& action,
                           ControlEvents events) {
    const auto mask = static_cast<std::uint32_t>(events);
    for (TargetAction& entry : targetActions_) {
        if (entry.target.lock() == target && (action.empty() || entry.action == action)) {
            entry.events =
                static_cast<ControlEvents>(static_cast<std::uint32_t>(entry.events) & ~mask);
        }
    }
    std::erase_if(targetActions_, [](const TargetAction& entry) {
        return static_cast<std::uint32_t>(entry.events) == 0;
    });
}

std::vector<ObjectPtr> Control::allTargets() const {
    std::vector<ObjectPtr> result;
    for (const TargetAction& entry : targetActions_) {
        ObjectPtr target = entry.target.lock();
        if (target && std::find(result.begin(), result.end(), target) == result.end())
            result.push_back(std::move(target));
    }
    return result;
}

std::vector<std::string> Control::actionsForTarget(const ObjectPtr& target,
                                                   ControlEvents event) const {
    std::vector<std::string> result;
    for (const TargetAction& entry : targetActions_) {
        if (target && entry.target.lock() == target && intersects(entry.events, event))
            result.push_back(entry.action);
    }
    return result;
}

void Control::sendActionsForControlEvents(ControlEvents events) {
    Dispatch::requireMainThread("UIControl sendActionsForControlEvents:");
    const ObjectPtr self = shared_from_this();
    const std::vector<TargetAction> entries = targetActions_;
    for (const TargetAction& entry : entries) {
        if (!intersects(entry.events, events))
            continue;
        if (const ObjectPtr target = entry.target.lock())
            ClassRegistry::shared().sendMessage(*target, entry.action, self);
    }
}

namespace {
[[maybe_unused]] const bool registered =
    ClassRegistry::shared().registerClass(decodableClass<Control>("UIControl", "UIView"));
}  // namespace

}  // namespace platform
