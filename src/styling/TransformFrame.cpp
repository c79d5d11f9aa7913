#include "styling/TransformFrame.h"

namespace quorvane::detail {

using platform::AttributeValuePtr;
using platform::MutableAttributedText;
using platform::Range;

platform::AttributedText transformed(const platform::AttributedText& receiver,
                                     const std::function<void(MutableAttributedText&)>& passes) {
    MutableAttributedText working = receiver.mutableCopy();
    working.beginEditing();
    passes(working);
    working.endEditing();
    return working.copy();
}

void runPass(MutableAttributedText& working, const platform::TextAttributeKey& key,
             const RunStep& step) {
    working.enumerateAttribute(
        key, Range{0, working.length()}, platform::AttributeEnumerationOptions::none,
        [&](const AttributeValuePtr& value, Range run, bool&) { step(working, value, run); });
}

void clearParagraphStylePass(MutableAttributedText& working) {
    runPass(working, platform::NSParagraphStyleAttributeName,
            [](MutableAttributedText& text, const AttributeValuePtr&, Range run) {
                text.removeAttribute(platform::NSParagraphStyleAttributeName, run);
            });
}

}  // namespace quorvane::detail
