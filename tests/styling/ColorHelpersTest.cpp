#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "platform/foundation/RgbaColor.h"
#include "styling/ColorHelpers.h"

namespace {

using platform::RgbaColor;
using quorvane::HslComponents;

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct HslRow {
    const char* name;
    RgbaColor color;
    HslComponents expected;
    bool exact;  // the arithmetic has no rounding on the way, so the result must be exact
};

TEST(ColorHelpers, HslComponentsFromHueSaturationBrightness) {
    const HslRow rows[] = {
        {"pure red", RgbaColor::colorWithHue(0, 1, 1, 1), {0, 100, 50}, true},
        {"white: lightness exactly 1 forces saturation 0",
         RgbaColor::colorWithHue(0, 0, 1, 1),
         {0, 0, 100},
         true},
        {"black", RgbaColor::colorWithHue(0, 0, 0, 1), {0, 0, 0}, true},
        {"brightness 0 whatever the hue", RgbaColor::colorWithHue(0.5, 1, 0, 1), {0, 0, 0}, true},
        {"mid grey", RgbaColor::colorWithHue(0, 0, 0.5, 1), {0, 0, 50}, true},
        {"lightness below one half divides by 2L",
         RgbaColor::colorWithHue(0, 1, 0.5, 1),
         {0, 100, 25},
         true},
        {"dark blue", RgbaColor::colorWithHue(2.0 / 3.0, 1, 0.15, 1), {240, 100, 7.5}, false},
        {"pale blue", RgbaColor::colorWithHue(0.6, 0.3, 0.8, 1), {216, 37.5, 68}, false},
        {"alpha plays no part", RgbaColor::colorWithHue(0.6, 0.3, 0.8, 0), {216, 37.5, 68}, false},
        // HSB (0, -1.5, -0.2): L = -0.35 is below 0, so d = 2 - 2L = 2.7, not 2L.
        {"negative lightness divides by 2 - 2L",
         RgbaColor(-0.2, -0.5, -0.5, 1),
         {0, 100.0 * 0.3 / 2.7, -35},
         false},
        {"brightness 0 in the extended range: hue kept, saturation and lightness 0",
         RgbaColor(-0.5, 0, -0.5, 1),
         {120, 0, 0},
         false},
        {"a pattern colour reads as zeros", RgbaColor::patternColor("stripes"), {0, 0, 0}, true},
    };
    for (const HslRow& row : rows) {
        SCOPED_TRACE(row.name);
        const HslComponents actual = quorvane::hslComponents(row.color);
        if (row.exact) {
            EXPECT_EQ(actual, row.expected);
        } else {
            EXPECT_NEAR(actual.hue, row.expected.hue, 1e-9);
            EXPECT_NEAR(actual.saturation, row.expected.saturation, 1e-9);
            EXPECT_NEAR(actual.lightness, row.expected.lightness, 1e-9);
        }
        double hue = -1, saturation = -1, lightness = -1;
        quorvane::getHSL(row.color, &hue, &saturation, &lightness);
        EXPECT_EQ((HslComponents{hue, saturation, lightness}), actual)
            << "getHSL wraps the value form";
    }
}

TEST(ColorHelpers, GetHslWritesOnlyThePresentReferences) {
    constexpr double kUntouched = -12345.0;
    const RgbaColor pale = RgbaColor::colorWithHue(0.6, 0.3, 0.8, 1);
    const HslComponents full = quorvane::hslComponents(pale);
    struct Row {
        const char* name;
        bool hue, saturation, lightness;
    };
    const Row rows[] = {
        {"none", false, false, false},           {"only hue", true, false, false},
        {"only saturation", false, true, false}, {"only lightness", false, false, true},
        {"all but hue", false, true, true},      {"all but lightness", true, true, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Guards on both sides: a write through a skipped reference or past a present one shows.
        double cells[5] = {kUntouched, kUntouched, kUntouched, kUntouched, kUntouched};
        quorvane::getHSL(pale, row.hue ? &cells[1] : nullptr, row.saturation ? &cells[2] : nullptr,
                         row.lightness ? &cells[3] : nullptr);
        EXPECT_EQ(cells[0], kUntouched);
        EXPECT_EQ(cells[1], row.hue ? full.hue : kUntouched);
        EXPECT_EQ(cells[2], row.saturation ? full.saturation : kUntouched);
        EXPECT_EQ(cells[3], row.lightness ? full.lightness : kUntouched);
        EXPECT_EQ(cells[4], kUntouched);
    }
}

struct HexRow {
    const char* name;
    RgbaColor color;
    std::string expected;
};

TEST(ColorHelpers, HexTruncatesEachComponentAndIgnoresAlpha) {
    const HexRow rows[] = {
        {"white", RgbaColor::whiteColor(), "#ffffff"},
        {"black", RgbaColor::blackColor(), "#000000"},
        {"truncated, not rounded: 0.5 is 7f", RgbaColor(0.5, 0.25, 0, 1), "#7f3f00"},
        {"red, green, blue in that order", RgbaColor(0.2, 0.4, 0.6, 1), "#336699"},
        {"just below white", RgbaColor(0.999, 1, 1, 1), "#feffff"},
        {"above 1 prints every digit it needs", RgbaColor(1.2, 0, 0, 1), "#1320000"},
        {"white at alpha 0", RgbaColor(1, 1, 1, 0), "#ffffff"},
        {"a pattern colour reads as zeros", RgbaColor::patternColor("stripes"), "#000000"},
    };
    for (const HexRow& row : rows) {
        EXPECT_EQ(quorvane::hex(row.color), row.expected) << row.name;
    }
}

// Components a signed 64-bit integer cannot hold after scaling have a defined form; converting
// them directly would be undefined behaviour, which the sanitizer build would report here.
TEST(ColorHelpers, HexOfComponentsOutsideTheIntegerRangeIsDefined) {
    const HexRow rows[] = {
        {"not a number counts as 0", RgbaColor(kNaN, 0.2, 0.4, 1), "#003366"},
        {"negative counts as 0", RgbaColor(0.2, -0.5, 0.4, 1), "#330066"},
        {"negative zero counts as 0", RgbaColor(-0.0, 0, 0, 1), "#000000"},
        {"minus infinity counts as 0", RgbaColor(0.2, 0.4, -kInfinity, 1), "#336600"},
        {"infinity is the largest value", RgbaColor(kInfinity, 0, 0, 1), "#7fffffffffffffff0000"},
        {"huge is the largest value", RgbaColor(0, 1e300, 0, 1), "#007fffffffffffffff00"},
        {"largest everywhere", RgbaColor(kInfinity, 1e19, 1e300, 1),
         "#7fffffffffffffff7fffffffffffffff7fffffffffffffff"},
        {"large but representable keeps its digits", RgbaColor(0, 0, 1e15, 1),
         "#0000389f12621b98000"},
    };
    for (const HexRow& row : rows) {
        EXPECT_EQ(quorvane::hex(row.color), row.expected) << row.name;
    }
}

}  // namespace
