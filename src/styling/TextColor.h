// TextColor: foreground and background colour transforms of attributed text.
//
// Each returns a new text and leaves the receiver untouched; see TransformFrame.h. The
// colour-matched transforms read colours through ColorHelpers.h: a background matches by its
// hex form, a foreground is judged by its HSL components.
#pragma once

#include <functional>
#include <optional>

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

// Decides from a foreground colour's HSL components whether its run takes the replacement
// colour: hue in degrees, saturation and lightness in percent (see HslComponents).
using ForegroundColorFilter = std::function<bool(double hue, double saturation, double lightness)>;

// darkColorFilter: true when saturation < 30 or lightness < 10 (both strict; hue ignored). So
// black, white and every grey count as dark, and so does a run without a colour, read as
// (0, 0, 0); a fully saturated colour counts only when its lightness is below 10.
//   darkColorFilter(240, 100, 7.5) == true; darkColorFilter(0, 30, 10) == false
[[nodiscard]] bool darkColorFilter(double hue, double saturation, double lightness);

// attributedStringByRemovingBackgroundColor: removes the background colour wherever it has
// the same hex form as `color`, so alpha is ignored and colours that differ only below the
// 8-bit step match. A background value that is not a colour is kept; an absent `color` matches
// nothing and removes nothing.
//   attributedStringByRemovingBackgroundColor(text, RgbaColor::whiteColor()) removes a white at
//   half alpha and keeps RgbaColor(0.999, 1, 1, 1) (#feffff).
[[nodiscard]] platform::AttributedText attributedStringByRemovingBackgroundColor(
    const platform::AttributedText& text, const std::optional<platform::RgbaColor>& color);

// attributedStringByReplacingForegroundColorWith:filter: every foreground run whose colour the
// filter accepts takes `replacement`; the other runs keep their colour, or keep having none.
// The filter sees the run colour's HSL components, or (0, 0, 0) for a run without a colour
// (a value of another kind under the foreground key counts as no colour). `filter` must be
// callable: an empty one throws std::invalid_argument.
//   attributedStringByReplacingForegroundColorWith(
//       text, RgbaColor::whiteColor(), [](double, double, double l) { return l < 50; })
[[nodiscard]] platform::AttributedText attributedStringByReplacingForegroundColorWith(
    const platform::AttributedText& text, const platform::RgbaColor& replacement,
    const ForegroundColorFilter& filter);

// attributedStringByReplacingDarkForegroundColorWith: the same with darkColorFilter.
//   attributedStringByReplacingDarkForegroundColorWith(text, RgbaColor::whiteColor())
[[nodiscard]] platform::AttributedText attributedStringByReplacingDarkForegroundColorWith(
    const platform::AttributedText& text, const platform::RgbaColor& replacement);

}  // namespace quorvane
