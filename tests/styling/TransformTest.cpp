#include <gtest/gtest.h>

#include "platform/foundation/AttributedText.h"
#include "styling/FontSize.h"
#include "styling/TextColor.h"

namespace {

using platform::AttributedText;
using platform::AttributeValue;
using platform::AttributeValuePtr;
using platform::Font;
using platform::MutableAttributedText;
using platform::NSBackgroundColorAttributeName;
using platform::NSFontAttributeName;
using platform::NSForegroundColorAttributeName;
using platform::NSParagraphStyleAttributeName;
using platform::ParagraphStyle;
using platform::Range;
using platform::RgbaColor;
using platform::String;
using quorvane::ClearParagraphStyle;

const ParagraphStyle kCentered{platform::TextAlignment::center, 2, 4, 0};

// "red none blue" in foreground colour, two fonts, a paragraph style on the middle, a link.
AttributedText mixedText() {
    MutableAttributedText text(String("redplainblue"));
    text.addAttribute(NSForegroundColorAttributeName, AttributeValue::make(RgbaColor::redColor()),
                      {0, 3});
    text.addAttribute(NSForegroundColorAttributeName, AttributeValue::make(RgbaColor::blueColor()),
                      {8, 4});
    text.addAttribute(NSFontAttributeName,
                      AttributeValue::make(Font("Serif", platform::FontWeight::regular, 11)),
                      {0, 6});
    text.addAttribute(NSFontAttributeName, AttributeValue::make(Font::boldSystemFontOfSize(40)),
                      {6, 6});
    text.addAttribute(NSParagraphStyleAttributeName, AttributeValue::make(kCentered), {3, 5});
    text.addAttribute(platform::TextAttributeKey("NSLink"),
                      AttributeValue::make(platform::OpaqueValue{"NSURL", "https://x"}), {0, 12});
    return text.copy();
}

bool everywhere(const AttributedText& text, const platform::TextAttributeKey& key,
                const std::function<bool(const AttributeValuePtr&)>& test) {
    for (const auto& run : text.runs(key)) {
        if (!test(run.value))
            return false;
    }
    return true;
}

TEST(TextColor, ForegroundColourCoversTheWholeTextAndClearsParagraphStylesUnlessAskedNotTo) {
    const AttributedText source = mixedText();
    const AttributedText white =
        quorvane::attributedStringForegroundColor(source, RgbaColor::whiteColor());
    ASSERT_EQ(white.runs(NSForegroundColorAttributeName).size(), 1u);
    EXPECT_EQ(*white.attribute(NSForegroundColorAttributeName, 0)->color(),
              RgbaColor::whiteColor());
    EXPECT_EQ(white.runs(NSForegroundColorAttributeName)[0].range, (Range{0, 12}));
    EXPECT_TRUE(
        everywhere(white, NSParagraphStyleAttributeName, [](auto& v) { return v == nullptr; }));

    const AttributedText kept = quorvane::attributedStringForegroundColor(
        source, RgbaColor::whiteColor(), ClearParagraphStyle::no);
    const auto keptStyles = kept.runs(NSParagraphStyleAttributeName);
    const auto sourceStyles = source.runs(NSParagraphStyleAttributeName);
    ASSERT_EQ(keptStyles.size(), sourceStyles.size());
    for (std::size_t i = 0; i < keptStyles.size(); ++i) {
        EXPECT_EQ(keptStyles[i].range, sourceStyles[i].range);
        EXPECT_TRUE(platform::sameAttributeValue(keptStyles[i].value, sourceStyles[i].value));
    }
    EXPECT_EQ(*kept.attribute(NSParagraphStyleAttributeName, 4)->paragraphStyle(), kCentered);
    // Keys the transform does not name pass through untouched.
    EXPECT_EQ(kept.runs(NSFontAttributeName).size(), 2u);
    EXPECT_EQ(kept.attribute(platform::TextAttributeKey("NSLink"), 11)->opaque()->payload,
              "https://x");

    const AttributedText plain = quorvane::attributedStringForegroundColor(
        AttributedText(String("abc")), RgbaColor::blackColor());
    EXPECT_EQ(plain,
              AttributedText(String("abc"), {{NSForegroundColorAttributeName,
                                              AttributeValue::make(RgbaColor::blackColor())}}));
}

TEST(FontSize, EveryFontTakesTheSizeAndKeepsItsFace) {
    const AttributedText source = mixedText();
    const AttributedText resized =
        quorvane::attributedStringWithFontSize(source, 17, ClearParagraphStyle::no);
    const auto fonts = resized.runs(NSFontAttributeName);
    ASSERT_EQ(fonts.size(), 2u);
    EXPECT_EQ(*fonts[0].value->font(), Font("Serif", platform::FontWeight::regular, 17));
    EXPECT_EQ(*fonts[1].value->font(), Font::boldSystemFontOfSize(17));
    EXPECT_EQ(*resized.attribute(NSParagraphStyleAttributeName, 3)->paragraphStyle(), kCentered);
    EXPECT_EQ(resized.runs(NSForegroundColorAttributeName).size(), 3u);

    const AttributedText cleared = quorvane::attributedStringWithFontSize(source, 17);
    EXPECT_TRUE(
        everywhere(cleared, NSParagraphStyleAttributeName, [](auto& v) { return v == nullptr; }));

    // Text without fonts shows at the requested size in the system font.
    const AttributedText plain =
        quorvane::attributedStringWithFontSize(AttributedText(String("abc")), 21);
    ASSERT_EQ(plain.runs(NSFontAttributeName).size(), 1u);
    EXPECT_EQ(*plain.attribute(NSFontAttributeName, 0)->font(), Font::systemFontOfSize(21));
}

TEST(FontSize, ParagraphStyleReplacesEveryStyleWithOne) {
    const ParagraphStyle justified{platform::TextAlignment::justified, 0, 0, 12};
    const AttributedText result =
        quorvane::attributedStringWithParagraphStyle(mixedText(), justified);
    const auto styles = result.runs(NSParagraphStyleAttributeName);
    ASSERT_EQ(styles.size(), 1u);
    EXPECT_EQ(styles[0].range, (Range{0, 12}));
    EXPECT_EQ(*styles[0].value->paragraphStyle(), justified);
    EXPECT_EQ(quorvane::attributedStringWithParagraphStyle(AttributedText(), justified).length(),
              0u);
}

TEST(Transforms, NeverChangeTheReceiverAndNeverCopyTheCharacters) {
    MutableAttributedText receiver = mixedText().mutableCopy();
    receiver.addAttribute(NSBackgroundColorAttributeName,
                          AttributeValue::make(RgbaColor::redColor()), {1, 2});
    const AttributedText before = receiver.copy();
    const std::vector<std::function<AttributedText(const AttributedText&)>> transforms{
        [](const AttributedText& t) {
            return quorvane::attributedStringForegroundColor(t, RgbaColor::whiteColor());
        },
        [](const AttributedText& t) {
            return quorvane::attributedStringForegroundColor(t, RgbaColor::whiteColor(),
                                                             ClearParagraphStyle::no);
        },
        [](const AttributedText& t) { return quorvane::attributedStringWithFontSize(t, 9); },
        [](const AttributedText& t) {
            return quorvane::attributedStringWithFontSize(t, 9, ClearParagraphStyle::no);
        },
        [](const AttributedText& t) {
            return quorvane::attributedStringWithParagraphStyle(t, ParagraphStyle{});
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
