// Control: the base of views a person operates (UIControl).
//
// A control keeps (target, action, events) entries. When a person changes it, it sends each
// action registered for that event, by selector name through the class registry, to its
// target, with the control as the argument. Targets are held weakly: one that is gone is
// skipped. A change made from code sends nothing; only the person-side entry points of the
// subclasses (Switch::userToggle, Slider::userSetValue) send actions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/View.h"

namespace platform {

// UIControlEvents bits used here.
enum class ControlEvents : std::uint32_t {
    valueChanged = 1u << 12,  // 0x1000
};

[[nodiscard]] constexpr ControlEvents operator|(ControlEvents a, ControlEvents b) {
    return static_cast<ControlEvents>(static_cast<std::uint32_t>(a) |
                                      static_cast<std::uint32_t>(b));
}
// True when the two masks share an event.
[[nodiscard]] constexpr bool intersects(ControlEvents a, ControlEvents b) {
    return (static_cast<std::uint32_t>(a) & static_cast<std::uint32_t>(b)) != 0;
}

class Control : public View {
  public:
    [[nodiscard]] std::string_view className() const override { return "UIControl"; }

    // initWithCoder: also reads "enabled"; false when the archive fails.
    bool initWithCoder(const Coder& coder);

    // addTarget:action:forControlEvents: registering the same target and action again adds the
    // events to the existing entry. A null target or an empty action registers nothing (the
    // stand-in has no responder chain to send it along).
    void addTarget(const ObjectPtr& target, std::string action, ControlEvents events);
    // removeTarget:action:forControlEvents: removes the events from the matching entries (any
    // action when `action` is empty); an entry left without events goes.
    void removeTarget(const ObjectPtr& target, const std::string& action, ControlEvents events);
    // The targets still alive, in the order they were first added.
    [[nodiscard]] std::vector<ObjectPtr> allTargets() const;
    // actionsForTarget:forControlEvent: the actions registered for that target and event.
    [[nodiscard]] std::vector<std::string> actionsForTarget(const ObjectPtr& target,
                                                            ControlEvents event) const;

    // sendActionsForControlEvents: sends every action registered for any of `events`, in the
    // order the entries were added. The control and each target are kept alive while their
    // message runs; entries added or removed by an action take effect from the next send.
    void sendActionsForControlEvents(ControlEvents events);

    // A disabled control ignores a person's changes (code can still change it).
    [[nodiscard]] bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }

  private:
    struct TargetAction {
        WeakObjectPtr target;
        std::string action;
        ControlEvents events;
    };
    std::vector<TargetAction> targetActions_;
    bool enabled_ = true;
};

}  // namespace platform
