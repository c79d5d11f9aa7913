#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/foundation/AttributedText.h"
#include "styling/ColorHelpers.h"
#include "styling/TextColor.h"

namespace {

using platform::AttributedText;
using platform::AttributeValue;
using platform::AttributeValuePtr;
using platform::MutableAttributedText;
using platform::NSBackgroundColorAttributeName;
using platform::NSForegroundColorAttributeName;
using platform::NSParagraphStyleAttributeName;
using platform::OpaqueValue;
using platform::ParagraphStyle;
using platform::Range;
using platform::RgbaColor;
using platform::String;
using platform::TextAttributeKey;

const RgbaColor kReplacement{0.1, 0.8, 0.3, 1};

// One run of a test text: its name, which is also its characters, and its value under a key.
struct Segment {
    std::string name;
    AttributeValuePtr value;
};

// A text made of `segments` in order, each carrying its value under `key`.
AttributedText textOf(const std::vector<Segment>& segments, const TextAttributeKey& key) {
    std::string characters;
    for (const Segment& segment : segments)
        characters += segment.name;
    MutableAttributedText text{String(characters)};
    std::uint64_t start = 0;
    for (const Segment& segment : segments) {
        const Range range{start, segment.name.size()};
        if (segment.value)
            text.addAttribute(key, segment.value, range);
        start += range.length;
    }
    return text.copy();
}

// The value under `key` at the start of each segment, with the segment's name.
std::vector<std::pair<std::string, AttributeValuePtr>> valuesAtSegments(
    const AttributedText& text, const std::vector<Segment>& segments, const TextAttributeKey& key) {
    std::vector<std::pair<std::string, AttributeValuePtr>> result;
    std::uint64_t start = 0;
    for (const Segment& segment : segments) {
        result.emplace_back(segment.name, text.attribute(key, start));
        start += segment.name.size();
    }
    return result;
}

AttributeValuePtr colour(const RgbaColor& color) {
    return AttributeValue::make(color);
}

bool sameRuns(const AttributedText& a, const AttributedText& b, const TextAttributeKey& key) {
    const auto x = a.runs(key), y = b.runs(key);
    return std::equal(x.begin(), x.end(), y.begin(), y.end(), [](const auto& p, const auto& q) {
        return p.range == q.range && platform::sameAttributeValue(p.value, q.value);
    });
}

TEST(DarkColorFilter, IsStrictAtBothThresholdsAndIgnoresHue) {
    struct Row {
        const char* name;
        double hue, saturation, lightness;
        bool dark;
    };
    const Row rows[] = {
        {"both at the threshold, hue 0", 0, 30, 10, false},
        {"both at the threshold, hue 120", 120, 30, 10, false},
        {"both at the threshold, hue 359.9", 359.9, 30, 10, false},
        {"saturation just below, full lightness", 0, 29.9, 100, true},
        {"lightness just below, full saturation", 0, 100, 9.9, true},
        {"saturation 30 applies to saturation, not lightness", 0, 100, 29.9, false},
        {"lightness 10 applies to lightness, not saturation", 0, 9.9, 100, true},
        {"grey", 200, 0, 50, true},
        {"no colour reads as zeros", 0, 0, 0, true},
        {"pure red", 0, 100, 50, false},
        {"dark blue", 240, 100, 7.5, true},
        {"pale blue", 216, 37.5, 68, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(quorvane::darkColorFilter(row.hue, row.saturation, row.lightness), row.dark)
            << row.name;
    }
}

TEST(TextColor, DarkForegroundRunsTakeTheReplacementAndOthersKeepTheirColour) {
    const RgbaColor red = RgbaColor::redColor(), blue = RgbaColor::blueColor();
    const RgbaColor pale = RgbaColor::colorWithHue(0.6, 0.3, 0.8, 1);
    const std::vector<Segment> segments{
        {"black", colour(RgbaColor::blackColor())},
        {"white", colour(RgbaColor::whiteColor())},
        {"midgrey", colour(RgbaColor(0.5, 0.5, 0.5, 1))},
        {"red", colour(red)},
        {"none", nullptr},
        {"blue", colour(blue)},
        {"pale", colour(pale)},
        {"darkblue", colour(RgbaColor::colorWithHue(2.0 / 3.0, 1, 0.15, 1))},
        {"extended-range black", colour(RgbaColor(-0.5, 0, -0.5, 1))},
        {"pattern", colour(RgbaColor::patternColor("stripes"))},
        {"notacolour", AttributeValue::make(OpaqueValue{"NSNumber", "1"})},
        {"red again", colour(red)},
    };
    MutableAttributedText source = textOf(segments, NSForegroundColorAttributeName).mutableCopy();
    source.addAttribute(NSBackgroundColorAttributeName, colour(RgbaColor::blackColor()), {0, 9});
    source.addAttribute(NSParagraphStyleAttributeName, AttributeValue::make(ParagraphStyle{}),
                        {3, 20});

    const AttributedText result =
        quorvane::attributedStringByReplacingDarkForegroundColorWith(source, kReplacement);

    const std::vector<std::pair<std::string, RgbaColor>> expected{
        {"black", kReplacement},
        {"white", kReplacement},
        {"midgrey", kReplacement},
        {"red", red},
        {"none", kReplacement},
        {"blue", blue},
        {"pale", pale},
        {"darkblue", kReplacement},
        {"extended-range black", kReplacement},
        {"pattern", kReplacement},
        {"notacolour", kReplacement},
        {"red again", red},
    };
    const auto actual = valuesAtSegments(result, segments, NSForegroundColorAttributeName);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_TRUE(actual[i].second && actual[i].second->color()) << expected[i].first;
        EXPECT_EQ(*actual[i].second->color(), expected[i].second) << expected[i].first;
    }
    // Only the foreground key is touched.
    EXPECT_TRUE(sameRuns(result, source, NSBackgroundColorAttributeName));
    EXPECT_TRUE(sameRuns(result, source, NSParagraphStyleAttributeName));
}

TEST(TextColor, ForegroundFilterSeesHueSaturationLightnessOncePerRun) {
    const std::vector<Segment> segments{
        {"red", colour(RgbaColor::redColor())},
        {"none", nullptr},
        {"white", colour(RgbaColor::whiteColor())},
        {"darkblue", colour(RgbaColor::colorWithHue(2.0 / 3.0, 1, 0.15, 1))},
        {"extended-range black", colour(RgbaColor(-0.5, 0, -0.5, 1))},
    };
    std::vector<quorvane::HslComponents> seen;
    const auto recorder = [&seen](double hue, double saturation, double lightness) {
        seen.push_back({hue, saturation, lightness});
        return false;
    };
    (void)quorvane::attributedStringByReplacingForegroundColorWith(
        textOf(segments, NSForegroundColorAttributeName), kReplacement, recorder);
    const std::vector<quorvane::HslComponents> expected{
        {0, 100, 50}, {0, 0, 0}, {0, 0, 100}, {240, 100, 7.5}, {120, 0, 0}};
    ASSERT_EQ(seen.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(segments[i].name);
        EXPECT_NEAR(seen[i].hue, expected[i].hue, 1e-9);
        EXPECT_NEAR(seen[i].saturation, expected[i].saturation, 1e-9);
        EXPECT_NEAR(seen[i].lightness, expected[i].lightness, 1e-9);
    }
}

TEST(TextColor, FiltersAcceptingEverythingOrNothing) {
    MutableAttributedText source = textOf({{"red", colour(RgbaColor::redColor())},
                                           {"none", nullptr},
                                           {"blue", colour(RgbaColor::blueColor())}},
                                          NSForegroundColorAttributeName)
                                       .mutableCopy();
    source.addAttribute(NSParagraphStyleAttributeName, AttributeValue::make(ParagraphStyle{}),
                        {2, 5});
    const AttributedText text = source.copy();

    const AttributedText everything = quorvane::attributedStringByReplacingForegroundColorWith(
        text, kReplacement, [](double, double, double) { return true; });
    EXPECT_EQ(everything, quorvane::attributedStringForegroundColor(
                              text, kReplacement, quorvane::ClearParagraphStyle::no));

    const AttributedText nothing = quorvane::attributedStringByReplacingForegroundColorWith(
        text, kReplacement, [](double, double, double) { return false; });
    EXPECT_EQ(nothing, text);

    EXPECT_THROW((void)quorvane::attributedStringByReplacingForegroundColorWith(
                     text, kReplacement, quorvane::ForegroundColorFilter{}),
                 std::invalid_argument);
}

TEST(TextColor, RemovingABackgroundMatchesItsHexForm) {
    const AttributeValuePtr marker = AttributeValue::make(OpaqueValue{"NSNumber", "7"});
    std::vector<Segment> segments{
        {"halfwhite", colour(RgbaColor(1, 1, 1, 0.5))},
        {"feffff", colour(RgbaColor(0.999, 1, 1, 1))},
        {"marker", marker},
        {"white", colour(RgbaColor::whiteColor())},
        {"none", nullptr},
        {"overwhite", colour(RgbaColor(1.0039, 1, 1, 1))},  // 255.99 truncates to ff
        {"steelblue", colour(RgbaColor(0.2, 0.4, 0.6, 1))},
        {"pattern", colour(RgbaColor::patternColor("stripes"))},
    };
    // The same value objects again: an object seen earlier in the pass is judged the same way.
    const std::vector<Segment> once = segments;
    segments.insert(segments.end(), once.begin(), once.end());
    const AttributedText source = textOf(segments, NSBackgroundColorAttributeName);
    const auto sourceValues = valuesAtSegments(source, segments, NSBackgroundColorAttributeName);

    struct Row {
        const char* name;
        std::optional<RgbaColor> target;
        std::vector<std::string> removed;
    };
    const Row rows[] = {
        {"white at any alpha, and what truncates to ff",
         RgbaColor::whiteColor(),
         {"halfwhite", "white", "overwhite"}},
        {"white at alpha 0 is white", RgbaColor(1, 1, 1, 0), {"halfwhite", "white", "overwhite"}},
        {"differs only below the 8-bit step", RgbaColor(0.2015, 0.4015, 0.6015, 1), {"steelblue"}},
        {"no colour removes nothing", std::nullopt, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const AttributedText result =
            quorvane::attributedStringByRemovingBackgroundColor(source, row.target);
        const auto actual = valuesAtSegments(result, segments, NSBackgroundColorAttributeName);
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const bool removed = std::find(row.removed.begin(), row.removed.end(),
                                           segments[i].name) != row.removed.end();
            if (removed) {
                EXPECT_EQ(actual[i].second, nullptr) << segments[i].name << " stays";
            } else {
                EXPECT_TRUE(platform::sameAttributeValue(actual[i].second, sourceValues[i].second))
                    << segments[i].name << " changed";
            }
        }
    }
}

TEST(TextColor, ColourMatchedTransformsNeverChangeTheReceiverOrCopyCharacters) {
    MutableAttributedText receiver = textOf({{"white", colour(RgbaColor::whiteColor())},
                                             {"red", colour(RgbaColor::redColor())},
                                             {"none", nullptr}},
                                            NSForegroundColorAttributeName)
                                         .mutableCopy();
    receiver.addAttribute(NSBackgroundColorAttributeName, colour(RgbaColor::whiteColor()), {2, 6});
    const AttributedText before = receiver.copy();
    const std::vector<std::function<AttributedText(const AttributedText&)>> transforms{
        [](const AttributedText& t) {
            return quorvane::attributedStringByRemovingBackgroundColor(t, RgbaColor::whiteColor());
        },
        [](const AttributedText& t) {
            return quorvane::attributedStringByRemovingBackgroundColor(t, std::nullopt);
        },
        [](const AttributedText& t) {
            return quorvane::attributedStringByReplacingDarkForegroundColorWith(t, kReplacement);
        },
        [](const AttributedText& t) {
            return quorvane::attributedStringByReplacingForegroundColorWith(
                t, kReplacement, [](double, double, double) { return true; });
        },
    };
    for (const auto& transform : transforms) {
        const AttributedText result = transform(receiver);
        EXPECT_EQ(receiver.copy(), before);
        EXPECT_EQ(result.characterStorage(), receiver.characterStorage());
        EXPECT_EQ(transform(AttributedText()).length(), 0u) << "an empty text stays empty";
    }
}

}  // namespace
