// LayoutAnchor: one edge of a view, from which equality constraints are made
// (NSLayoutXAxisAnchor, NSLayoutYAxisAnchor).
//
// Anchors of the two axes are different types, so a horizontal edge can only be tied to a
// horizontal edge. A constraint made here is inactive until added to a view (addConstraints:).
#pragma once

#include <memory>

#include "platform/ui/LayoutConstraint.h"

namespace platform {

enum class LayoutAxis { horizontal, vertical };

template <LayoutAxis Axis>
class LayoutAnchor {
  public:
    LayoutAnchor(std::weak_ptr<View> item, LayoutAttribute attribute)
        : item_(std::move(item)), attribute_(attribute) {}

    // constraintEqualToAnchor: this edge = other's edge.
    [[nodiscard]] LayoutConstraintPtr constraintEqualToAnchor(const LayoutAnchor& other) const {
        return constraintEqualToAnchor(other, 0.0);
    }
    // constraintEqualToAnchor:constant: this edge = other's edge + constant (points).
    [[nodiscard]] LayoutConstraintPtr constraintEqualToAnchor(const LayoutAnchor& other,
                                                              double constant) const {
        return std::make_shared<LayoutConstraint>(item_, attribute_, other.item_, other.attribute_,
                                                  constant);
    }

    [[nodiscard]] std::shared_ptr<View> item() const { return item_.lock(); }
    [[nodiscard]] LayoutAttribute attribute() const { return attribute_; }

  private:
    std::weak_ptr<View> item_;
    LayoutAttribute attribute_;
};

using LayoutXAxisAnchor = LayoutAnchor<LayoutAxis::horizontal>;
using LayoutYAxisAnchor = LayoutAnchor<LayoutAxis::vertical>;

}  // namespace platform
