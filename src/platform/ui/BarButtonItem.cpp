#include "platform/ui/BarButtonItem.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"

namespace platform {

std::shared_ptr<BarButtonItem> BarButtonItem::initWithBarButtonSystemItem(BarButtonSystemItem item,
                                                                          const ObjectPtr& target,
                                                                          std::string action) {
    auto result = std::make_shared<BarButtonItem>();
    result->systemItem_ = item;
    result->target_ = target;
    result->action_ = std::move(action);
    return result;
}

std::shared_ptr<BarButtonItem> BarButtonItem::initWithTitle(std::string title,
                                                            BarButtonItemStyle style,
                                                            const ObjectPtr& target,
                                                            std::string action) {
    auto result = std::make_shared<BarButtonItem>();
    result->title_ = std::move(title);
    result->style_ = style;
    result->target_ = target;
    result->action_ = std::move(action);
    return result;
}

bool BarButtonItem::initWithCoder(const Coder& coder) {
    if (coder.decodingFails())
        return false;
    title_ = coder.decodeString("title");
    if (const auto style = coder.decodeInteger("style"))
        style_ = static_cast<BarButtonItemStyle>(*style);
    if (const auto item = coder.decodeInteger("systemItem"))
        systemItem_ = static_cast<BarButtonSystemItem>(*item);
    if (const auto enabled = coder.decodeBool("enabled"))
        enabled_ = *enabled;
    if (const auto action = coder.decodeString("action"))
        action_ = *action;
    target_ = coder.decodeObject("target");
    return true;
}

void BarButtonItem::setEnabled(bool enabled) {
    Dispatch::requireMainThread("UIBarButtonItem setEnabled:");
    enabled_ = enabled;
}

bool BarButtonItem::tap() {
    Dispatch::requireMainThread("UIBarButtonItem tap");
    if (!enabled_ || action_.empty())
        return false;
    const ObjectPtr target = target_.lock();
    if (!target)
        return false;
    return ClassRegistry::shared().sendMessage(*target, action_, shared_from_this());
}

namespace {
[[maybe_unused]] const bool registered = ClassRegistry::shared().registerClass({
    .name = "UIBarButtonItem",
    .superclassName = "",
    .initWithCoder = [](const Coder& coder) -> ObjectPtr {
        auto item = std::make_shared<BarButtonItem>();
        return item->initWithCoder(coder) ? item : nullptr;
    },
    .init = []() -> ObjectPtr { return std::make_shared<BarButtonItem>(); },
});
}  // namespace

}  // namespace platform
