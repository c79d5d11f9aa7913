#include "platform/ui/View.h"

#include <algorithm>

#include "platform/extension/ClassRegistry.h"
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
        layoutSubviews();
    }
    for (const auto& subview : std::vector(subviews_))
        subview->layoutIfNeeded();
}

namespace {
[[maybe_unused]] const bool registered = ClassRegistry::shared().registerClass({
    .name = "UIView",
    .superclassName = "",
    .initWithCoder = [](const Coder& coder) -> ObjectPtr {
        auto view = std::make_shared<View>();
        return view->initWithCoder(coder) ? view : nullptr;
    },
    .init = []() -> ObjectPtr { return View::make(); },
});
}  // namespace

}  // namespace platform
