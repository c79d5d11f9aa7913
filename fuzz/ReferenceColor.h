// The colour formulas written out plainly, step by step in the documented order, for the fuzz
// targets to hold the colour helpers and the colour-matched transforms against.
#pragma once

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

namespace fuzzing::reference {

struct Triple {
    double first = 0, second = 0, third = 0;
};

// Equal, or both not a number.
inline bool same(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

// RGB to HSB: greys (r = g = b) have hue 0 and saturation 0; otherwise V = max, d = V - min,
// H = (g - b)/d if V = r, (b - r)/d + 2 if V = g, else (r - g)/d + 4; below 0 add 6;
// hue = H/6, saturation = d/V (0 when V is 0), brightness = V. Nothing is clamped.
inline Triple hsbFromRgb(double r, double g, double b) {
    if (r == g && g == b)
        return {0.0, 0.0, r};
    const double largest = r >= g ? (r >= b ? r : b) : (g >= b ? g : b);
    const double smallest = r <= g ? (r <= b ? r : b) : (g <= b ? g : b);
    const double d = largest - smallest;
    double h;
    if (largest == r)
        h = (g - b) / d;
    else if (largest == g)
        h = (b - r) / d + 2.0;
    else
        h = (r - g) / d + 4.0;
    if (h < 0)
        h += 6.0;
    return {h / 6.0, largest == 0.0 ? 0.0 : d / largest, largest};
}

// HSB to HSL, hue in degrees and the others in percent.
inline Triple hslFromHsb(double h, double s, double v) {
    const double lightness = ((2.0 - s) * v) * 0.5;
    double saturation = 0.0;
    if (!(lightness == 0.0 || lightness == 1.0)) {
        double d;
        if (0.0 <= lightness && lightness < 0.5)
            d = lightness + lightness;
        else
            d = 2.0 - (lightness + lightness);
        saturation = (s * v) / d;
    }
    return {h * 360.0, saturation * 100.0, lightness * 100.0};
}

// The two hexadecimal digits (at least) of one component: times 255, truncated toward zero.
// None where the formula leaves the form open (not a number, -1 or less after scaling, or
// beyond a signed 64-bit integer).
inline std::optional<std::string> hexDigits(double component) {
    const double product = component * 255.0;
    if (!(product > -1.0 && product < 9223372036854775808.0))
        return std::nullopt;
    char text[32];
    std::snprintf(text, sizeof text, "%02" PRIx64,
                  static_cast<std::uint64_t>(static_cast<std::int64_t>(product)));
    return std::string(text);
}

inline std::optional<std::string> hex(double r, double g, double b) {
    const auto red = hexDigits(r), green = hexDigits(g), blue = hexDigits(b);
    if (!red || !green || !blue)
        return std::nullopt;
    return "#" + *red + *green + *blue;
}

inline bool darkColorFilter(double /*hue*/, double saturation, double lightness) {
    return saturation < 30.0 || lightness < 10.0;
}

}  // namespace fuzzing::reference
