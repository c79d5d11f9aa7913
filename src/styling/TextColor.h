// TextColor: foreground and background colour transforms of attributed text.
//
// Each returns a new text and leaves the receiver untouched; see TransformFrame.h.
#pragma once

#include "platform/foundation/AttributedText.h"
#include "platform/foundation/RgbaColor.h"
#include "styling/ClearParagraphStyle.h"

namespace quorvane {

// attributedStringForegroundColor:clearParagraphStyle: the whole text in `color`; with
// ClearParagraphStyle::yes no position keeps a paragraph style.
//   attributedStringForegroundColor(text, RgbaColor::whiteColor(), ClearParagraphStyle::no)
[[nodiscard]] platform::AttributedText attributedStringForegroundColor(
    const platform::AttributedText& text, const platform::RgbaColor& color,
    ClearParagraphStyle clearParagraphStyle);
// attributedStringForegroundColor: the same, clearing paragraph styles.
[[nodiscard]] platform::AttributedText attributedStringForegroundColor(
    const platform::AttributedText& text, const platform::RgbaColor& color);

}  // namespace quorvane
