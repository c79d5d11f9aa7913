// BarButtonItem: an item of a navigation bar (UIBarButtonItem), system or titled.
//
// Tapping an enabled item sends its action, by selector name, to its target (held weakly) with
// the item as the argument. A disabled item cannot be tapped.
#pragma once

#include <optional>
#include <string>

#include "platform/foundation/Coder.h"
#include "platform/foundation/Object.h"

namespace platform {

// UIBarButtonSystemItem raw values used here.
enum class BarButtonSystemItem { done = 0, cancel = 1, close = 24 };
// UIBarButtonItemStyle raw values.
enum class BarButtonItemStyle { plain = 0, done = 2 };

class BarButtonItem : public Object {
  public:
    [[nodiscard]] std::string_view className() const override { return "UIBarButtonItem"; }

    // initWithBarButtonSystemItem:target:action:
    static std::shared_ptr<BarButtonItem> initWithBarButtonSystemItem(BarButtonSystemItem item,
                                                                      const ObjectPtr& target,
                                                                      std::string action);
    // initWithTitle:style:target:action:
    static std::shared_ptr<BarButtonItem> initWithTitle(std::string title, BarButtonItemStyle style,
                                                        const ObjectPtr& target,
                                                        std::string action);
    // initWithCoder: reads "title", "style", "systemItem", "enabled", "action".
    bool initWithCoder(const Coder& coder);

    [[nodiscard]] std::optional<BarButtonSystemItem> systemItem() const { return systemItem_; }
    [[nodiscard]] const std::optional<std::string>& title() const { return title_; }
    [[nodiscard]] BarButtonItemStyle style() const { return style_; }
    [[nodiscard]] ObjectPtr target() const { return target_.lock(); }
    void setTarget(const ObjectPtr& target) { target_ = target; }
    [[nodiscard]] const std::string& action() const { return action_; }
    void setAction(std::string action) { action_ = std::move(action); }
    [[nodiscard]] bool isEnabled() const { return enabled_; }
    void setEnabled(bool enabled);

    // What a person's tap does: when enabled, sends the action to the target. True when the
    // action was delivered.
    bool tap();

  private:
    std::optional<BarButtonSystemItem> systemItem_;
    std::optional<std::string> title_;
    BarButtonItemStyle style_ = BarButtonItemStyle::plain;
    WeakObjectPtr target_;
    std::string action_;
    bool enabled_ = true;
};

}  // namespace platform
