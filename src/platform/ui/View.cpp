#include "platform/ui/View.h"

#include <algorithm>
#include <map>
#include <utility>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"

namespace platform {

void View::initWithFrame(Rect frame) {
    View::setFrame(frame);
}

bool View::initWithCoder(const Coder& coder) {
    if (coder.decodingFails())
        return false;
    if (const auto frame = coder.decodeRect("frame"))
        View::setFrame(*frame);
    if (const auto hidden = coder.decodeBool("hidden"))
        hidden_ = *hidden;
    if (const auto color = coder.decodeColor("backgroundColor"))
        backgroundColor_ = *color;
    return true;
}

std::shared_ptr<View> View::make(Rect frame) {
    auto view = std::make_shared<View>();
    view->initWithFrame(frame);
    return view;
}

void View::setFrame(Rect frame) {
    frame_ = frame;
    bounds_.size = frame.size;
    needsLayout_ = true;
}

void View::setBounds(Rect bounds) {
    const double midX = rectGetMidX(frame_);
    const double midY = rectGetMidY(frame_);
    bounds_ = bounds;
    frame_.size = bounds.size;
    frame_.origin = {midX - bounds.size.width * 0.5, midY - bounds.size.height * 0.5};
    needsLayout_ = true;
}

void View::setHidden(bool hidden) {
    Dispatch::requireMainThread("UIView setHidden:");
    hidden_ = hidden;
}

void View::setBackgroundColor(std::optional<RgbaColor> color) {
    backgroundColor_ = std::move(color);
}

void View::addSubview(const std::shared_ptr<View>& view) {
    Dispatch::requireMainThread("UIView addSubview:");
    if (!view || view.get() == this)
        return;
    if (view->superview().get() == this) {
        // Already ours: bring to the front without a move notification.
        auto it = std::find(subviews_.begin(), subviews_.end(), view);
        std::rotate(it, it + 1, subviews_.end());
        return;
    }
    if (view->superview())
        view->removeFromSuperview();
    subviews_.push_back(view);
    view->superview_ = std::static_pointer_cast<View>(shared_from_this());
    needsLayout_ = true;
    view->didMoveToSuperview();
}

void View::removeFromSuperview() {
    Dispatch::requireMainThread("UIView removeFromSuperview");
    const auto parent = superview();
    if (!parent)
        return;
    // Keep ourselves alive until the notification has been delivered.
    const auto self = std::static_pointer_cast<View>(shared_from_this());
    auto& siblings = parent->subviews_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), self), siblings.end());
    superview_.reset();
    parent->needsLayout_ = true;
    didMoveToSuperview();
}

void View::layoutIfNeeded() {
    if (needsLayout_) {
        needsLayout_ = false;
        applyConstraints();
        layoutSubviews();
        applyConstraints();
    }
    for (const auto& subview : std::vector(subviews_))
        subview->layoutIfNeeded();
}

// ---- constraint-based layout ----

LayoutXAxisAnchor View::leadingAnchor() {
    return {sharedFrom<View>(this), LayoutAttribute::leading};
}

LayoutXAxisAnchor View::trailingAnchor() {
    return {sharedFrom<View>(this), LayoutAttribute::trailing};
}

LayoutYAxisAnchor View::topAnchor() {
    return {sharedFrom<View>(this), LayoutAttribute::top};
}

LayoutYAxisAnchor View::bottomAnchor() {
    return {sharedFrom<View>(this), LayoutAttribute::bottom};
}

void View::addConstraints(const std::vector<LayoutConstraintPtr>& constraints) {
    Dispatch::requireMainThread("UIView addConstraints:");
    const auto self = sharedFrom<View>(this);
    for (const auto& constraint : constraints) {
        if (!constraint || constraint->isActive())
            continue;
        constraint->owner_ = self;
        constraints_.push_back(constraint);
    }
    needsLayout_ = true;
}

namespace {

using Edge = std::pair<const View*, LayoutAttribute>;

// Places one axis of a frame from what is known of its two edges: both edges give origin and
// size; one edge gives the origin or the far side, and the size is the intrinsic one where the
// view has it, else the current one; no edge leaves the axis alone.
void placeAxis(const std::map<Edge, double>& known, const Edge& low, const Edge& high,
               double intrinsic, double& origin, double& size) {
    const auto lowIt = known.find(low);
    const auto highIt = known.find(high);
    const bool hasLow = lowIt != known.end();
    const bool hasHigh = highIt != known.end();
    if (hasLow && hasHigh) {
        origin = lowIt->second;
        size = highIt->second - lowIt->second;
        return;
    }
    if (!hasLow && !hasHigh)
        return;
    if (intrinsic != View::kNoIntrinsicMetric)
        size = intrinsic;
    origin = hasLow ? lowIt->second : highIt->second - size;
}

}  // namespace

void View::applyConstraints() {
    if (constraints_.empty())
        return;
    // Edge positions in this view's coordinates. Its own edges are fixed: 0 and its width or
    // height (the bounds origin plays no part, as with the device's layout engine).
    std::map<Edge, double> known{
        {{this, LayoutAttribute::leading}, 0.0},
        {{this, LayoutAttribute::trailing}, bounds_.size.width},
        {{this, LayoutAttribute::top}, 0.0},
        {{this, LayoutAttribute::bottom}, bounds_.size.height},
    };
    const auto isLaidOutHere = [this](const View* view) {
        return view == this || std::any_of(subviews_.begin(), subviews_.end(),
                                           [view](const auto& sub) { return sub.get() == view; });
    };
    struct Link {
        Edge first, second;
        double constant;
    };
    std::vector<Link> links;
    for (const auto& constraint : constraints_) {
        const auto first = constraint->firstItem();
        const auto second = constraint->secondItem();
        if (!first || !second || !isLaidOutHere(first.get()) || !isLaidOutHere(second.get()))
            continue;
        links.push_back({{first.get(), constraint->firstAttribute()},
                         {second.get(), constraint->secondAttribute()},
                         constraint->constant()});
    }
    // Learn edges from known ones until nothing new comes; the first value an edge gets stands,
    // so a constraint that contradicts earlier ones is ignored rather than fought over.
    for (bool learned = true; learned;) {
        learned = false;
        for (const Link& link : links) {
            const bool firstKnown = known.count(link.first) != 0;
            const bool secondKnown = known.count(link.second) != 0;
            if (!firstKnown && secondKnown) {
                known[link.first] = known[link.second] + link.constant;
                learned = true;
            } else if (firstKnown && !secondKnown) {
                known[link.second] = known[link.first] - link.constant;
                learned = true;
            }
        }
    }
    for (const auto& subview : std::vector(subviews_)) {
        const View* key = subview.get();
        const Size intrinsic = subview->intrinsicContentSize();
        Rect frame = subview->frame();
        placeAxis(known, {key, LayoutAttribute::leading}, {key, LayoutAttribute::trailing},
                  intrinsic.width, frame.origin.x, frame.size.width);
        placeAxis(known, {key, LayoutAttribute::top}, {key, LayoutAttribute::bottom},
                  intrinsic.height, frame.origin.y, frame.size.height);
        if (frame != subview->frame())
            subview->setFrame(frame);
    }
}

namespace {
[[maybe_unused]] const bool registered =
    ClassRegistry::shared().registerClass(decodableClass<View>("UIView", ""));
}  // namespace

}  // namespace platform
