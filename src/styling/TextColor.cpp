#include "styling/TextColor.h"

#include <array>
#include <stdexcept>
#include <string>
#include <utility>

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

namespace {

// Decides whether a background value matches the target hex form. Values are immutable and a
// text's runs share a handful of value objects, so the answer for the last few objects is
// remembered: formatting the hex form of every run would cost more than the rest of the pass.
class BackgroundMatcher {
  public:
    explicit BackgroundMatcher(std::string target) : target_(std::move(target)) {}

    bool matches(const AttributeValuePtr& value) {
        if (!value)
            return false;
        for (const auto& [seen, match] : recent_) {
            if (seen == value)
                return match;
        }
        const platform::RgbaColor* color = value->color();
        const bool match = color && hex(*color) == target_;
        recent_[next_] = {value, match};
        next_ = (next_ + 1) % recent_.size();
        return match;
    }

  private:
    std::string target_;
    std::array<std::pair<AttributeValuePtr, bool>, 4> recent_{};
    std::size_t next_ = 0;
};

}  // namespace

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
    BackgroundMatcher matcher(hex(*color));
    return detail::transformed(text, [&](MutableAttributedText& working) {
        detail::runPass(working, NSBackgroundColorAttributeName,
                        [&](MutableAttributedText& w, const AttributeValuePtr& value, Range run) {
                            if (matcher.matches(value))
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
