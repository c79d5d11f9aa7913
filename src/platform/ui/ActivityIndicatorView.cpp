#include "platform/ui/ActivityIndicatorView.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"

namespace platform {

bool ActivityIndicatorView::initWithCoder(const Coder& coder) {
    if (!View::initWithCoder(coder))
        return false;
    if (const auto hides = coder.decodeBool("hidesWhenStopped"))
        hidesWhenStopped_ = *hides;
    if (coder.decodeBool("animating").value_or(false)) {
        startAnimating();
    } else if (hidesWhenStopped_) {
        setHidden(true);
    }
    return true;
}

std::shared_ptr<ActivityIndicatorView> ActivityIndicatorView::make(Rect frame) {
    auto view = std::make_shared<ActivityIndicatorView>();
    view->initWithFrame(frame);
    return view;
}

void ActivityIndicatorView::startAnimating() {
    Dispatch::requireMainThread("UIActivityIndicatorView startAnimating");
    animating_ = true;
    if (hidesWhenStopped_)
        setHidden(false);
}

void ActivityIndicatorView::stopAnimating() {
    Dispatch::requireMainThread("UIActivityIndicatorView stopAnimating");
    animating_ = false;
    if (hidesWhenStopped_)
        setHidden(true);
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (hides && !animating_)
        setHidden(true);
}

namespace {
[[maybe_unused]] const bool registered = ClassRegistry::shared().registerClass(
    decodableClass<ActivityIndicatorView>("UIActivityIndicatorView", "UIView"));
}  // namespace

}  // namespace platform
