#include "platform/ui/ViewController.h"

#include "platform/foundation/Dispatch.h"

namespace platform {

bool ViewController::initWithNibName(const std::optional<std::string>& /*nibName*/,
                                     const ObjectPtr& /*bundle*/) {
    return true;
}

bool ViewController::initWithCoder(const Coder& coder) {
    if (coder.decodingFails())
        return false;
    if (const auto title = coder.decodeString("title"))
        navigationItem_->setTitle(*title);
    return true;
}

void ViewController::setView(std::shared_ptr<View> view) {
    view_ = std::move(view);
}

void ViewController::loadViewIfNeeded() {
    Dispatch::requireMainThread("UIViewController loadViewIfNeeded");
    if (viewLoaded_)
        return;
    if (!view_)
        view_ = View::make();
    viewLoaded_ = true;
    viewDidLoad();
}

void ViewController::setTraitCollection(const TraitCollection& traits) {
    Dispatch::requireMainThread("UIViewController traitCollectionDidChange:");
    if (traits == traitCollection_)
        return;
    const TraitCollection previous = traitCollection_;
    traitCollection_ = traits;
    traitCollectionDidChange(&previous);
}

}  // namespace platform

#include "platform/foundation/ClassRegistry.h"

namespace platform {
namespace {
[[maybe_unused]] const bool registered = ClassRegistry::shared().registerClass({
    .name = "UIViewController",
    .superclassName = "",
    .initWithCoder = [](const Coder& coder) -> ObjectPtr {
        auto controller = std::make_shared<ViewController>();
        return controller->initWithCoder(coder) ? controller : nullptr;
    },
    .init = []() -> ObjectPtr {
        auto controller = std::make_shared<ViewController>();
        controller->initWithNibName(std::nullopt, nullptr);
        return controller;
    },
});
}  // namespace
}  // namespace platform
