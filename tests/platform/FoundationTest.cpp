#include <gtest/gtest.h>

#include <cmath>

#include "platform/foundation/Font.h"
#include "platform/foundation/PlatformVersion.h"
#include "platform/foundation/RgbaColor.h"
#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"

namespace {

using platform::ContentSizeCategory;
using platform::Font;
using platform::RgbaColor;
using platform::TextStyle;

TEST(RgbaColor, HueSaturationBrightnessFollowThePlatform) {
    struct Row {
        const char* name;
        RgbaColor color;
        double hue, saturation, brightness;
    };
    const Row rows[] = {
        {"red", {1, 0, 0, 1}, 0, 1, 1},
        {"green", {0, 1, 0, 1}, 1.0 / 3, 1, 1},
        {"blue", {0, 0, 1, 1}, 2.0 / 3, 1, 1},
        {"magenta wraps below zero", {1, 0, 0.5, 1}, 1 - 0.5 / 6, 1, 1},
        {"grey reports hue 0", {0.5, 0.5, 0.5, 1}, 0, 0, 0.5},
        {"clear", {0, 0, 0, 0}, 0, 0, 0},
        {"extended range is not clamped", {1.2, 0, 0, 1}, 0, 1, 1.2},
        {"brightness 0 in the extended range keeps its hue", {-0.5, 0, -0.5, 1}, 1.0 / 3, 0, 0},
    };
    for (const Row& row : rows) {
        double h = -1, s = -1, v = -1, a = -1;
        ASSERT_TRUE(row.color.getHue(&h, &s, &v, &a)) << row.name;
        EXPECT_NEAR(h, row.hue, 1e-12) << row.name;
        EXPECT_NEAR(s, row.saturation, 1e-12) << row.name;
        EXPECT_NEAR(v, row.brightness, 1e-12) << row.name;
    }
}

TEST(RgbaColor, PatternColoursCannotConvertAndLeaveOutputsAlone) {
    const RgbaColor pattern = RgbaColor::patternColor("stripes");
    double r = 7, g = 7, b = 7, a = 7;
    EXPECT_FALSE(pattern.getRed(&r, &g, &b, &a));
    EXPECT_FALSE(pattern.getHue(&r, &g, &b, &a));
    EXPECT_EQ(r + g + b + a, 28);
    // Null out-pointers are allowed and skipped.
    EXPECT_TRUE(RgbaColor::whiteColor().getRed(nullptr, &g, nullptr, nullptr));
    EXPECT_EQ(g, 1);
}

TEST(RgbaColor, HsbRoundTripsThroughComponents) {
    for (double hue : {0.0, 0.1, 1.0 / 6, 0.5, 2.0 / 3, 0.9, 1.0}) {
        const RgbaColor color = RgbaColor::colorWithHue(hue, 0.4, 0.8, 1);
        double h = 0, s = 0, v = 0;
        ASSERT_TRUE(color.getHue(&h, &s, &v, nullptr));
        EXPECT_NEAR(h, hue == 1.0 ? 0.0 : hue, 1e-12);
        EXPECT_NEAR(s, 0.4, 1e-12);
        EXPECT_NEAR(v, 0.8, 1e-12);
    }
    // A hue that is not a number is read as 0, not converted into undefined behaviour.
    EXPECT_EQ(RgbaColor::colorWithHue(std::nan(""), 1, 1, 1), RgbaColor(1, 0, 0, 1));
}

TEST(Font, TextStylesFollowTheContentSizeCategory) {
    struct Row {
        const char* name;
        double body, largeTitle;
    };
    const Row table[] = {{"xSmall", 14, 31},   {"Small", 15, 32},  {"Medium", 16, 33},
                         {"Large", 17, 34},    {"xLarge", 19, 36}, {"xxLarge", 21, 38},
                         {"xxxLarge", 23, 40}, {"AX1", 28, 44},    {"AX2", 33, 48},
                         {"AX3", 40, 52},      {"AX4", 47, 56},    {"AX5", 53, 60}};
    for (const Row& row : table) {
        const auto category = platform::contentSizeCategoryNamed(row.name);
        ASSERT_TRUE(category) << row.name;
        EXPECT_EQ(platform::contentSizeCategoryName(*category), row.name);
        EXPECT_EQ(Font::preferredFontForTextStyle(TextStyle::body, *category).pointSize(), row.body)
            << row.name;
        EXPECT_EQ(Font::preferredFontForTextStyle(TextStyle::largeTitle, *category).pointSize(),
                  row.largeTitle)
            << row.name;
    }
    EXPECT_FALSE(platform::contentSizeCategoryNamed("large"));
    EXPECT_EQ(Font::preferredFontForTextStyle(TextStyle::body).pointSize(), 17)
        << "Large is the default";

    const Font bold = Font::boldSystemFontOfSize(34);
    EXPECT_TRUE(bold.fontWithSize(12).isBold());
    EXPECT_EQ(bold.fontWithSize(12).face(), bold.face());
    EXPECT_EQ(bold.fontWithSize(12).pointSize(), 12);
}

TEST(Foundation, StringsShareTheirCharacters) {
    const platform::String text(std::string("hello world"));
    const platform::String world = text.substr(6);
    EXPECT_EQ(world, "world");
    EXPECT_EQ(world.storageIdentity(), text.storageIdentity());
    EXPECT_TRUE(text.substr(11).empty());
    EXPECT_TRUE(text.substr(99).empty());
    EXPECT_EQ(text.substr(0, 99), "hello world");
}

TEST(Foundation, UrlsAppendOneComponentBoundary) {
    const auto root = platform::URL::fileURLWithPath("/data/group");
    EXPECT_EQ(root.appendingPathComponent("regular/imported").path(),
              "/data/group/regular/imported");
    EXPECT_EQ(platform::URL::fileURLWithPath("/data/").appendingPathComponent("/x").path(),
              "/data/x");
    EXPECT_EQ(root.appendingPathComponent("regular/imported").lastPathComponent(), "imported");
}

TEST(Foundation, PlatformVersionsParseAndCompare) {
    using platform::PlatformVersion;
    EXPECT_EQ(PlatformVersion::parse("12.4"), (PlatformVersion{12, 4}));
    EXPECT_EQ(PlatformVersion::parse("13"), (PlatformVersion{13, 0}));
    for (const char* bad : {"", "x", "12.", ".4", "12.4.1", "-1.0", "12.x"})
        EXPECT_FALSE(PlatformVersion::parse(bad)) << bad;
    PlatformVersion::setRunning({12, 9});
    EXPECT_TRUE(PlatformVersion::isAtLeast(12, 0));
    EXPECT_FALSE(PlatformVersion::isAtLeast(13, 0));
    PlatformVersion::setRunning(PlatformVersion::current());
}

}  // namespace
