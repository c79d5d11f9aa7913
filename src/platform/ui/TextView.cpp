#include "platform/ui/TextView.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"

namespace platform {

bool TextView::initWithCoder(const Coder& coder) {
    if (!View::initWithCoder(coder))
        return false;
    if (const auto text = coder.decodeString("text"))
        attributedText_ = AttributedText(String(*text));
    if (const auto editable = coder.decodeBool("editable"))
        editable_ = *editable;
    return true;
}

std::shared_ptr<TextView> TextView::make(Rect frame) {
    auto view = std::make_shared<TextView>();
    view->initWithFrame(frame);
    return view;
}

void TextView::setAttributedText(AttributedText text) {
    Dispatch::requireMainThread("UITextView setAttributedText:");
    attributedText_ = std::move(text);
    ++contentGeneration_;
}

void TextView::setTextContainerInset(EdgeInsets inset) {
    Dispatch::requireMainThread("UITextView setTextContainerInset:");
    textContainerInset_ = inset;
}

namespace {
[[maybe_unused]] const bool registered =
    ClassRegistry::shared().registerClass(decodableClass<TextView>("UITextView", "UIView"));
}  // namespace

}  // namespace platform
