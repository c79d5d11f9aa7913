#include "platform/foundation/RgbaColor.h"

#include <algorithm>
#include <cmath>

namespace platform {

RgbaColor RgbaColor::patternColor(std::string patternName) {
    RgbaColor color;
    color.kind_ = Kind::pattern;
    color.alpha_ = 1;
    color.patternName_ = std::move(patternName);
    return color;
}

RgbaColor RgbaColor::colorWithHue(double hue, double saturation, double brightness, double alpha) {
    // The usual sextant formula; a hue of exactly one turn is the same as zero.
    // A hue that is not finite has no angle; it is read as 0 rather than converted (undefined).
    const double turn = std::isfinite(hue) ? hue - std::floor(hue) : 0.0;
    const double h = turn * 6.0;
    const int sextant = static_cast<int>(h) % 6;
    const double f = h - std::floor(h);
    const double v = brightness;
    const double p = v * (1.0 - saturation);
    const double q = v * (1.0 - saturation * f);
    const double t = v * (1.0 - saturation * (1.0 - f));
    switch (sextant) {
        case 0:
            return {v, t, p, alpha};
        case 1:
            return {q, v, p, alpha};
        case 2:
            return {p, v, t, alpha};
        case 3:
            return {p, q, v, alpha};
        case 4:
            return {t, p, v, alpha};
        default:
            return {v, p, q, alpha};
    }
}

bool RgbaColor::getRed(double* red, double* green, double* blue, double* alpha) const {
    if (kind_ != Kind::rgb)
        return false;
    if (red)
        *red = red_;
    if (green)
        *green = green_;
    if (blue)
        *blue = blue_;
    if (alpha)
        *alpha = alpha_;
    return true;
}

bool RgbaColor::getHue(double* hue, double* saturation, double* brightness, double* alpha) const {
    if (kind_ != Kind::rgb)
        return false;
    const double r = red_, g = green_, b = blue_;
    double h = 0, s = 0;
    const double v = std::max({r, g, b});
    if (!(r == g && g == b)) {
        const double d = v - std::min({r, g, b});
        if (v == r) {
            h = (g - b) / d;
        } else if (v == g) {
            h = (b - r) / d + 2.0;
        } else {
            h = (r - g) / d + 4.0;
        }
        if (h < 0)
            h += 6.0;
        h /= 6.0;
        // Brightness 0 (possible with a colour in the extended range, such as
        // (-0.5, 0, -0.5)) reports saturation 0, as the platform does; the hue stays.
        s = v == 0 ? 0 : d / v;
    }
    if (hue)
        *hue = h;
    if (saturation)
        *saturation = s;
    if (brightness)
        *brightness = v;
    if (alpha)
        *alpha = alpha_;
    return true;
}

}  // namespace platform
