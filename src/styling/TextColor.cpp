#include "styling/TextColor.h"

#include <stdexcept>
#include <string>

#include "styling/ColorHelpers.h"
#include "styling/TransformFrame.h"

namespace quorvane {

using platform::AttributedText;
using platform::AttributeValue;
using platform::AttributeValuePtr;
using platform::MutableAttributedText;
using platform::NSBackgroundColorAttributeName;
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

bool darkColorFilter(double /*hue*/, double saturation, double lightness) {
    return saturation < 30.0 || lightness < 10.0;
}

AttributedText attributedStringByRemovingBackgroundColor(
    const AttributedText& text, const std::optional<platform::RgbaColor>& color) {
    // An absent colour has no hex form and matches no run, so there is nothing to visit.
    if (!color)
        return detail::transformed(text, [](MutableAttributedText&) {});
    const std::string target = hex(*color);
    return detail::transformed(text, [&](MutableAttributedText& working) {
        detail::runPass(working, NSBackgroundColorAttributeName,
                        [&](MutableAttributedText& w, const AttributeValuePtr& value, Range run) {
                            const platform::RgbaColor* background =
                                value ? value->color() : nullptr;
                            if (background && hex(*background) == target)
                                w.removeAttribute(NSBackgroundColorAttributeName, run);
                        });
    });
}

AttributedText attributedStringByReplacingForegroundColorWith(
    const AttributedText& text, const platform::RgbaColor& replacement,
    const ForegroundColorFilter& filter) {
    if (!filter)
        throw std::invalid_argument(
            "attributedStringByReplacingForegroundColorWith: the filter is empty");
    const AttributeValuePtr value = AttributeValue::make(replacement);
    return detail::transformed(text, [&](MutableAttributedText& working) {
        detail::runPass(
            working, NSForegroundColorAttributeName,
            [&](MutableAttributedText& w, const AttributeValuePtr& current, Range run) {
                double hue = 0.0, saturation = 0.0, lightness = 0.0;
                if (const platform::RgbaColor* foreground = current ? current->color() : nullptr)
                    getHSL(*foreground, &hue, &saturation, &lightness);
                if (!filter(hue, saturation, lightness))
                    return;
                w.removeAttribute(NSForegroundColorAttributeName, run);
                w.addAttribute(NSForegroundColorAttributeName, value, run);
            });
    });
}

AttributedText attributedStringByReplacingDarkForegroundColorWith(
    const AttributedText& text, const platform::RgbaColor& replacement) {
    return attributedStringByReplacingForegroundColorWith(text, replacement, darkColorFilter);
}

}  // namespace quorvane
