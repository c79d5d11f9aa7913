#include "styling/ColorHelpers.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <limits>

namespace quorvane {
namespace {

// The product with 255, truncated toward zero into a signed 64-bit integer. Values a plain
// conversion could not represent (undefined behaviour in C++) get the documented stand-ins.
std::uint64_t truncatedByte(double component) {
    const double product = component * 255.0;
    if (std::isnan(product) || product <= 0.0)
        return 0;
    // 2^63 is exactly representable; anything at or above it does not fit.
    if (product >= 9223372036854775808.0)
        return std::numeric_limits<std::int64_t>::max();
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(product));
}

}  // namespace

HslComponents hslComponents(const platform::RgbaColor& color) {
    double h = 0.0, s = 0.0, v = 0.0;
    (void)color.getHue(&h, &s, &v, nullptr);
    const double lightness = ((2.0 - s) * v) * 0.5;
    double saturation = 0.0;
    if (lightness != 0.0 && lightness != 1.0) {
        const double d = (lightness >= 0.0 && lightness < 0.5) ? lightness + lightness
                                                               : 2.0 - (lightness + lightness);
        saturation = (s * v) / d;
    }
    return {h * 360.0, saturation * 100.0, lightness * 100.0};
}

void getHSL(const platform::RgbaColor& color, double* hue, double* saturation, double* lightness) {
    const HslComponents components = hslComponents(color);
    if (hue)
        *hue = components.hue;
    if (saturation)
        *saturation = components.saturation;
    if (lightness)
        *lightness = components.lightness;
}

std::string hex(const platform::RgbaColor& color) {
    double red = 0.0, green = 0.0, blue = 0.0, alpha = 0.0;
    (void)color.getRed(&red, &green, &blue, &alpha);
    char text[64];
    std::snprintf(text, sizeof text, "#%02" PRIx64 "%02" PRIx64 "%02" PRIx64, truncatedByte(red),
                  truncatedByte(green), truncatedByte(blue));
    return text;
}

}  // namespace quorvane
