#include "platform/ui/NavigationItem.h"

#include "platform/foundation/Dispatch.h"

namespace platform {

void NavigationItem::setTitle(String title) {
    Dispatch::requireMainThread("UINavigationItem setTitle:");
    title_ = std::move(title);
}

void NavigationItem::setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item) {
    Dispatch::requireMainThread("UINavigationItem setLeftBarButtonItem:");
    left_ = std::move(item);
}

void NavigationItem::setRightBarButtonItem(std::shared_ptr<BarButtonItem> item) {
    Dispatch::requireMainThread("UINavigationItem setRightBarButtonItem:");
    right_ = std::move(item);
}

}  // namespace platform
