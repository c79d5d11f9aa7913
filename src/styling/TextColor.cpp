#include "styling/TextColor.h"

#include "styling/TransformFrame.h"

namespace quorvane {

using platform::AttributedText;
using platform::AttributeValue;
using platform::AttributeValuePtr;
using platform::MutableAttributedText;
using platform::NSForegroundColorAttributeName;
using platform::Range;

AttributedText attributedStringForegroundColor(const AttributedText& text,
                                               const platform::RgbaColor& color,
                                               ClearParagraphStyle clearParagraphStyle) {
    const AttributeValuePtr value = AttributeValue::make(color);
    return detail::transformed(text, [&](MutableAttributedText& working) {
        detail::runPass(working, NSForegroundColorAttributeName,
                        [&](MutableAttributedText& w, const AttributeValuePtr&, Range run) {
                            w.removeAttribute(NSForegroundColorAttributeName, run);
                            w.addAttribute(NSForegroundColorAttributeName, value, run);
                        });
        if (clearParagraphStyle == ClearParagraphStyle::yes)
            detail::clearParagraphStylePass(working);
    });
}

AttributedText attributedStringForegroundColor(const AttributedText& text,
                                               const platform::RgbaColor& color) {
    return attributedStringForegroundColor(text, color, ClearParagraphStyle::yes);
}

}  // namespace quorvane
