// LayoutConstraint: one equality between two edges of views (NSLayoutConstraint).
//
// A constraint reads "first item's edge = second item's edge + constant". It takes effect once it
// has been added to a view with addConstraints: (its owner); the owner's layout pass then turns
// its constraints into frames of its subviews. Items are held weakly, as the view tree owns
// the views; a constraint whose item is gone is skipped.
#pragma once

#include <memory>

#include "platform/foundation/Object.h"

namespace platform {

class View;

// The edges a constraint can name. Leading is the left edge and trailing the right (the stand-in
// lays out left to right only); coordinates grow downwards.
enum class LayoutAttribute { leading, trailing, top, bottom };

class LayoutConstraint : public Object {
  public:
    LayoutConstraint(std::weak_ptr<View> firstItem, LayoutAttribute firstAttribute,
                     std::weak_ptr<View> secondItem, LayoutAttribute secondAttribute,
                     double constant)
        : firstItem_(std::move(firstItem)),
          secondItem_(std::move(secondItem)),
          firstAttribute_(firstAttribute),
          secondAttribute_(secondAttribute),
          constant_(constant) {}
    [[nodiscard]] std::string_view className() const override { return "NSLayoutConstraint"; }

    [[nodiscard]] std::shared_ptr<View> firstItem() const { return firstItem_.lock(); }
    [[nodiscard]] LayoutAttribute firstAttribute() const { return firstAttribute_; }
    [[nodiscard]] std::shared_ptr<View> secondItem() const { return secondItem_.lock(); }
    [[nodiscard]] LayoutAttribute secondAttribute() const { return secondAttribute_; }

    // Points added to the second item's edge.
    [[nodiscard]] double constant() const { return constant_; }
    // A new constant marks the owner as needing layout, so the next layout pass moves the
    // items; the same constant again changes nothing.
    void setConstant(double constant);

    // True once added to a view. The first view a constraint is added to owns it for good.
    [[nodiscard]] bool isActive() const { return !owner_.expired(); }
    [[nodiscard]] std::shared_ptr<View> owner() const { return owner_.lock(); }

  private:
    friend class View;  // sets the owner in addConstraints:

    std::weak_ptr<View> firstItem_;
    std::weak_ptr<View> secondItem_;
    std::weak_ptr<View> owner_;
    LayoutAttribute firstAttribute_;
    LayoutAttribute secondAttribute_;
    double constant_;  // points
};

using LayoutConstraintPtr = std::shared_ptr<LayoutConstraint>;

}  // namespace platform
