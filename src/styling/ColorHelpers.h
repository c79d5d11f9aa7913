// The colour group UIColor(QuorvaneShareExt): HSL components and the "#rrggbb" hex form.
//
// Both read the colour through the platform's conversions and keep no state.
#pragma once

#include <string>

#include "platform/foundation/RgbaColor.h"

namespace quorvane {

// The HSL form of a colour.
struct HslComponents {
    double hue = 0;         // degrees, 0 to 360 for components in 0..1
    double saturation = 0;  // percent, 0 to 100
    double lightness = 0;   // percent, 0 to 100

    friend bool operator==(const HslComponents&, const HslComponents&) = default;
};

// The colour's HSL components, from its HSB components (all double precision, in this order):
// L = ((2 - s) * v) * 0.5; S = 0 when L is exactly 0 or 1, else (s * v) / d with d = L + L for
// 0 <= L < 0.5 and d = 2 - (L + L) otherwise; hue = h * 360, saturation = S * 100,
// lightness = L * 100. A colour that cannot report HSB gives (0, 0, 0).
//   hslComponents(RgbaColor::redColor()) == HslComponents{0, 100, 50}
[[nodiscard]] HslComponents hslComponents(const platform::RgbaColor& color);

// getHSL:saturation:lightness: stores each component whose pointer is not null; a null
// pointer is skipped and the others are still written.
void getHSL(const platform::RgbaColor& color, double* hue, double* saturation, double* lightness);

// hex: "#" and red, green and blue as lower-case hexadecimal numbers of at least two digits.
// Each component is multiplied by 255 and truncated toward zero (0.5 gives 7f, never 80);
// alpha plays no part; a component above 1 prints as many digits as it needs (1.2 gives
// 132). A colour that cannot report RGBA gives "#000000".
// Components outside what a signed 64-bit integer can hold have a defined form too: a
// component that is not a number, or negative, counts as 0 ("00"); one whose product with 255
// is 2^63 or more (infinity included) counts as 2^63 - 1 ("7fffffffffffffff").
//   hex(RgbaColor(0.2, 0.4, 0.6, 1)) == "#336699"
[[nodiscard]] std::string hex(const platform::RgbaColor& color);

}  // namespace quorvane
