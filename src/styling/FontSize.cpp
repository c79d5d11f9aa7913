#include "styling/FontSize.h"

#include <array>

#include "styling/TransformFrame.h"

namespace quorvane {

using platform::AttributedText;
using platform::AttributeValue;
using platform::AttributeValuePtr;
using platform::Font;
using platform::MutableAttributedText;
using platform::NSFontAttributeName;
using platform::NSParagraphStyleAttributeName;
using platform::Range;

namespace {

// Runs of a text usually share a handful of font objects; remembering the last few resized
// ones spares an allocation per run.
class ResizedFonts {
  public:
    explicit ResizedFonts(double pointSize) : pointSize_(pointSize) {}

    AttributeValuePtr resized(const AttributeValuePtr& source) {
        for (const auto& [from, to] : recent_) {
            if (to && from == source)
                return to;
        }
        const Font* font = source ? source->font() : nullptr;
        AttributeValuePtr result = AttributeValue::make(font ? font->fontWithSize(pointSize_)
                                                             : Font::systemFontOfSize(pointSize_));
        recent_[next_] = {source, result};
        next_ = (next_ + 1) % recent_.size();
        return result;
    }

  private:
    double pointSize_;
    std::array<std::pair<AttributeValuePtr, AttributeValuePtr>, 4> recent_{};
    std::size_t next_ = 0;
};

}  // namespace

AttributedText attributedStringWithParagraphStyle(const AttributedText& text,
                                                  const platform::ParagraphStyle& style) {
    const AttributeValuePtr value = AttributeValue::make(style);
    return detail::transformed(text, [&](MutableAttributedText& working) {
        detail::clearParagraphStylePass(working);
        working.addAttribute(NSParagraphStyleAttributeName, value, Range{0, working.length()});
    });
}

AttributedText attributedStringWithFontSize(const AttributedText& text, double fontSize,
                                            ClearParagraphStyle clearParagraphStyle) {
    ResizedFonts fonts(fontSize);
    return detail::transformed(text, [&](MutableAttributedText& working) {
        detail::runPass(working, NSFontAttributeName,
                        [&](MutableAttributedText& w, const AttributeValuePtr& value, Range run) {
                            AttributeValuePtr resized = fonts.resized(value);
                            w.removeAttribute(NSFontAttributeName, run);
                            w.addAttribute(NSFontAttributeName, std::move(resized), run);
                        });
        if (clearParagraphStyle == ClearParagraphStyle::yes)
            detail::clearParagraphStylePass(working);
    });
}

AttributedText attributedStringWithFontSize(const AttributedText& text, double fontSize) {
    return attributedStringWithFontSize(text, fontSize, ClearParagraphStyle::yes);
}

}  // namespace quorvane
