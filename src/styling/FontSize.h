// FontSize: font size and paragraph style transforms of attributed text.
//
// Each returns a new text and leaves the receiver untouched; see TransformFrame.h.
#pragma once

#include "platform/foundation/AttributedText.h"
#include "platform/foundation/ParagraphStyle.h"
#include "styling/ClearParagraphStyle.h"

namespace quorvane {

// attributedStringWithParagraphStyle: the whole text in one paragraph style.
[[nodiscard]] platform::AttributedText attributedStringWithParagraphStyle(
    const platform::AttributedText& text, const platform::ParagraphStyle& style);

// attributedStringWithFontSize:clearParagraphStyle: every font at `fontSize` points, keeping its
// face and weight. A run without a font gets the system font at that size, so text made from a
// plain string shows at the requested size too.
//   attributedStringWithFontSize(body, 17.0, ClearParagraphStyle::yes)
[[nodiscard]] platform::AttributedText attributedStringWithFontSize(
    const platform::AttributedText& text, double fontSize, ClearParagraphStyle clearParagraphStyle);
// attributedStringWithFontSize: the same, clearing paragraph styles.
[[nodiscard]] platform::AttributedText attributedStringWithFontSize(
    const platform::AttributedText& text, double fontSize);

}  // namespace quorvane
