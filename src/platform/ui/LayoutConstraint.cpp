#include "platform/ui/LayoutConstraint.h"

#include "platform/ui/View.h"

namespace platform {

void LayoutConstraint::setConstant(double constant) {
    if (constant == constant_)
        return;
    constant_ = constant;
    if (const auto owner = owner_.lock())
        owner->setNeedsLayout();
}

}  // namespace platform
