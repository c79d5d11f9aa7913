// NavigationItem: what a view controller shows in the navigation bar (UINavigationItem).
#pragma once

#include <memory>
#include <string>

#include "platform/foundation/Object.h"
#include "platform/foundation/String.h"
#include "platform/ui/BarButtonItem.h"

namespace platform {

class NavigationItem : public Object {
  public:
    [[nodiscard]] std::string_view className() const override { return "UINavigationItem"; }

    // The title shares the characters it is given (a title line of a long text is not copied).
    [[nodiscard]] const String& title() const { return title_; }
    void setTitle(String title);
    [[nodiscard]] const std::shared_ptr<BarButtonItem>& leftBarButtonItem() const { return left_; }
    void setLeftBarButtonItem(std::shared_ptr<BarButtonItem> item);
    [[nodiscard]] const std::shared_ptr<BarButtonItem>& rightBarButtonItem() const {
        return right_;
    }
    void setRightBarButtonItem(std::shared_ptr<BarButtonItem> item);

  private:
    String title_;
    std::shared_ptr<BarButtonItem> left_;
    std::shared_ptr<BarButtonItem> right_;
};

}  // namespace platform
