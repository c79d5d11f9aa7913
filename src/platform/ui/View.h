// View: the base of every visible element (UIView).
//
// A view has a frame in its superview's coordinates and bounds in its own; their sizes move
// together. It owns its subviews and knows its superview weakly. didMoveToSuperview is sent
// after every add and remove; layoutSubviews runs in a layout pass (layoutIfNeeded).
//
// Constraint-based layout: a view's edges are anchors; equality constraints between them take
// effect when added to a view (addConstraints:), and that view's layout pass turns them into
// frames of its subviews. A subview with only one edge of an axis fixed takes its intrinsic
// size along that axis.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Coder.h"
#include "platform/foundation/Geometry.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/RgbaColor.h"
#include "platform/ui/Layer.h"
#include "platform/ui/LayoutAnchor.h"
#include "platform/ui/LayoutConstraint.h"

namespace platform {

class View : public Object {
  public:
    View() = default;
    [[nodiscard]] std::string_view className() const override { return "UIView"; }

    // initWithFrame:
    void initWithFrame(Rect frame);
    // initWithCoder: reads frame, hidden and backgroundColor; false when the archive fails.
    bool initWithCoder(const Coder& coder);
    static std::shared_ptr<View> make(Rect frame = {});

    [[nodiscard]] virtual Rect frame() const { return frame_; }
    virtual void setFrame(Rect frame);
    [[nodiscard]] virtual Rect bounds() const { return bounds_; }
    virtual void setBounds(Rect bounds);

    [[nodiscard]] bool isHidden() const { return hidden_; }
    void setHidden(bool hidden);
    [[nodiscard]] const std::optional<RgbaColor>& backgroundColor() const {
        return backgroundColor_;
    }
    virtual void setBackgroundColor(std::optional<RgbaColor> color);
    [[nodiscard]] Layer& layer() { return layer_; }
    [[nodiscard]] const Layer& layer() const { return layer_; }
    [[nodiscard]] bool translatesAutoresizingMaskIntoConstraints() const { return translatesMask_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool translates) {
        translatesMask_ = translates;
    }

    [[nodiscard]] std::shared_ptr<View> superview() const { return superview_.lock(); }
    [[nodiscard]] const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
    // Adds on top of the other subviews (moving it from a previous superview).
    void addSubview(const std::shared_ptr<View>& view);
    void removeFromSuperview();
    virtual void didMoveToSuperview() {}

    // Layout: setNeedsLayout marks; layoutIfNeeded runs layoutSubviews on marked views, this
    // one first, then its subviews. A marked view with constraints applies them before its
    // layoutSubviews (which so sees its subviews placed and measured) and again after it, so
    // that constants changed there take effect in the same pass.
    void setNeedsLayout() { needsLayout_ = true; }
    [[nodiscard]] bool needsLayout() const { return needsLayout_; }
    void layoutIfNeeded();
    virtual void layoutSubviews() {}

    // ---- constraint-based layout ----

    // Width or height of an intrinsic size that the view does not have (UIViewNoIntrinsicMetric).
    static constexpr double kNoIntrinsicMetric = -1.0;
    // The size the view's content needs; kNoIntrinsicMetric along an axis where it has none
    // (a plain view has none along either).
    [[nodiscard]] virtual Size intrinsicContentSize() const {
        return {kNoIntrinsicMetric, kNoIntrinsicMetric};
    }

    // The view's edges. The view must be owned by a shared_ptr (anchors hold it weakly).
    [[nodiscard]] LayoutXAxisAnchor leadingAnchor();
    [[nodiscard]] LayoutXAxisAnchor trailingAnchor();
    [[nodiscard]] LayoutYAxisAnchor topAnchor();
    [[nodiscard]] LayoutYAxisAnchor bottomAnchor();

    // addConstraints: this view owns the constraints from now on and applies them in its layout
    // passes. Their items must be this view or its direct subviews; a constraint naming any
    // other view, or a view that is gone, is skipped. A constraint already owned by a view
    // (this one or another) is not added again.
    void addConstraints(const std::vector<LayoutConstraintPtr>& constraints);
    void addConstraint(const LayoutConstraintPtr& constraint) { addConstraints({constraint}); }
    [[nodiscard]] const std::vector<LayoutConstraintPtr>& constraints() const {
        return constraints_;
    }

  private:
    // Resolves this view's constraints into frames of its subviews (see addConstraints:).
    void applyConstraints();

    Rect frame_;
    Rect bounds_;
    bool hidden_ = false;
    std::optional<RgbaColor> backgroundColor_;
    Layer layer_;
    bool translatesMask_ = true;
    bool needsLayout_ = true;
    std::weak_ptr<View> superview_;
    std::vector<std::shared_ptr<View>> subviews_;
    std::vector<LayoutConstraintPtr> constraints_;
};

}  // namespace platform
