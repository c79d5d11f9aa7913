// The colour helpers with arbitrary doubles: every bit pattern, NaNs, infinities, subnormals.
//
// Promises checked: no undefined behaviour anywhere (the sanitizers watch every conversion);
// HSB, HSL and the hex form agree exactly with the formulas written out step by step wherever
// those formulas are defined; getHSL writes only through the references it is given; outside
// the defined range the hex form takes its documented stand-ins; a colour that cannot report
// components reads as zeros; colours made from HSB in range give back that HSB.
#include <cmath>
#include <limits>
#include <string>

#include "FuzzSupport.h"
#include "ReferenceColor.h"
#include "platform/foundation/RgbaColor.h"
#include "styling/ColorHelpers.h"
#include "styling/TextColor.h"

namespace fuzzing {
namespace {

using platform::RgbaColor;
using reference::same;

// Mostly raw bit patterns; now and then a value in or near 0..1, where colours usually live.
double pickComponent(Bytes& in) {
    switch (in.below(4)) {
        case 0:
            return in.below(256) / 255.0;
        case 1:
            return (static_cast<double>(in.below(65536)) - 16384.0) / 32768.0;
        default:
            return in.anyDouble();
    }
}

void checkHsl(const RgbaColor& colour, double r, double g, double b, bool finite) {
    const quorvane::HslComponents hsl = quorvane::hslComponents(colour);
    double h = 0, s = 0, v = 0;
    check(colour.getHue(&h, &s, &v, nullptr), "an RGB colour reports HSB");
    if (finite) {
        const reference::Triple hsb = reference::hsbFromRgb(r, g, b);
        check(same(h, hsb.first) && same(s, hsb.second) && same(v, hsb.third),
              "getHue agrees with the RGB to HSB formula");
    }
    const reference::Triple expected = reference::hslFromHsb(h, s, v);
    check(same(hsl.hue, expected.first) && same(hsl.saturation, expected.second) &&
              same(hsl.lightness, expected.third),
          "hslComponents agrees with the HSB to HSL formula");

    // Each subset of references: the given ones written, the others untouched.
    for (int mask = 0; mask < 8; ++mask) {
        constexpr double kUntouched = -12345.678;
        double hue = kUntouched, saturation = kUntouched, lightness = kUntouched;
        quorvane::getHSL(colour, (mask & 1) ? &hue : nullptr, (mask & 2) ? &saturation : nullptr,
                         (mask & 4) ? &lightness : nullptr);
        check(same(hue, (mask & 1) ? hsl.hue : kUntouched) &&
                  same(saturation, (mask & 2) ? hsl.saturation : kUntouched) &&
                  same(lightness, (mask & 4) ? hsl.lightness : kUntouched),
              "getHSL writes exactly the references it is given");
    }
    check(quorvane::darkColorFilter(hsl.hue, hsl.saturation, hsl.lightness) ==
              reference::darkColorFilter(hsl.hue, hsl.saturation, hsl.lightness),
          "darkColorFilter: saturation below 30 or lightness below 10");
}

// The documented stand-ins where the formula leaves the hex form open.
std::string standInDigits(double component) {
    const double product = component * 255.0;
    if (std::isnan(product) || product <= -1.0)
        return "00";
    return "7fffffffffffffff";
}

void checkHex(const RgbaColor& colour, double r, double g, double b) {
    const std::string text = quorvane::hex(colour);
    std::string expected = "#";
    for (double component : {r, g, b})
        expected += reference::hexDigits(component).value_or(standInDigits(component));
    check(text == expected, "hex agrees with truncation and %02x, or takes its stand-ins");
}

// HSB in 0..1 made into a colour reads back as the same HSB (hue where it is determined).
void checkHsbRoundTrip(double hue, double saturation, double brightness) {
    const RgbaColor colour = RgbaColor::colorWithHue(hue, saturation, brightness, 1);
    double h = -1, s = -1, v = -1;
    check(colour.getHue(&h, &s, &v, nullptr), "a colour made from HSB reports HSB");
    check(std::fabs(v - brightness) <= 1e-12, "brightness survives a round trip");
    if (brightness > 1e-3)
        check(std::fabs(s - saturation) <= 1e-9, "saturation survives a round trip");
    if (saturation * brightness > 1e-3) {
        const double turn = std::fabs(h - hue);
        check(std::fmin(turn, 1.0 - turn) <= 1e-9, "hue survives a round trip");
    }
}

}  // namespace

int colorHelpersOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    while (!in.empty()) {
        const double r = pickComponent(in), g = pickComponent(in), b = pickComponent(in),
                     a = pickComponent(in);
        const RgbaColor colour(r, g, b, a);
        const bool finite = std::isfinite(r) && std::isfinite(g) && std::isfinite(b);
        checkHsl(colour, r, g, b, finite);
        checkHex(colour, r, g, b);

        // Arbitrary HSB into a colour: defined for any doubles (a hue that is not finite
        // counts as 0).
        const RgbaColor fromHsb = RgbaColor::colorWithHue(r, g, b, a);
        double fr = 0, fg = 0, fb = 0;
        (void)fromHsb.getRed(&fr, &fg, &fb, nullptr);
        checkHsl(fromHsb, fr, fg, fb, std::isfinite(fr) && std::isfinite(fg) && std::isfinite(fb));
        checkHex(fromHsb, fr, fg, fb);
        if (r >= 0 && r < 1 && g >= 0 && g <= 1 && b >= 0 && b <= 1)
            checkHsbRoundTrip(r, g, b);
    }
    // A colour that cannot report components reads as zeros.
    const RgbaColor pattern = RgbaColor::patternColor("checks");
    check(quorvane::hslComponents(pattern) == quorvane::HslComponents{0, 0, 0},
          "a pattern colour has HSL (0, 0, 0)");
    check(quorvane::hex(pattern) == "#000000", "a pattern colour has the hex form #000000");
    return 0;
}

}  // namespace fuzzing

#ifdef QUORVANE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::colorHelpersOneInput(data, size);
}
#endif
