// What the controller shows: bar items, the styled text, recolouring, busy and idle looks.
#include <gtest/gtest.h>

#include "ShareFixture.h"
#include "platform/foundation/ClassRegistry.h"

namespace {

using platform::AttributedText;
using platform::AttributeValue;
using platform::BarButtonSystemItem;
using platform::ContentSizeCategory;
using platform::Font;
using platform::MutableAttributedText;
using platform::NSFontAttributeName;
using platform::NSForegroundColorAttributeName;
using platform::NSParagraphStyleAttributeName;
using platform::Range;
using platform::RgbaColor;
using platform::String;
using platform::UserInterfaceStyle;
using quorvane::ShareViewController;
using testing_support::contextWith;
using testing_support::plainTextItem;
using testing_support::presentController;
using testing_support::ScopedPlatformVersion;

// Checks one key over a range: every run inside has `expected` (null: no value).
void expectOver(const AttributedText& text, const platform::TextAttributeKey& key, Range range,
                const platform::AttributeValuePtr& expected, const std::string& what) {
    for (const auto& run : text.runs(key)) {
        if (run.range.end() <= range.location || run.range.location >= range.end())
            continue;
        EXPECT_TRUE(platform::sameAttributeValue(run.value, expected))
            << what << " at [" << run.range.location << ", " << run.range.end() << ")";
    }
}

TEST(Presentation, TheClassIsRegisteredWithItsMethodsAndRequiredOutlets) {
    const platform::ClassInfo* info =
        platform::ClassRegistry::shared().lookup("QuorvaneShareExt.ShareViewController");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->superclassName, "UIViewController");
    EXPECT_EQ(
        info->methodList,
        (std::vector<std::string>{
            "sendButton", "setSendButton:", "textView", "setTextView:", "activityIndicator",
            "setActivityIndicator:", "sendButtonTouched:", "cancelButtonTouched:", "viewDidLoad",
            "traitCollectionDidChange:", "initWithNibName:bundle:", "initWithCoder:"}));
    auto controller = std::dynamic_pointer_cast<ShareViewController>(info->init());
    ASSERT_TRUE(controller);
    EXPECT_FALSE(controller->textView());
    EXPECT_FALSE(controller->activityIndicator());
    EXPECT_FALSE(controller->sendButton());
    EXPECT_TRUE(controller->capturedText().empty());
    EXPECT_EQ(info->initWithCoder(platform::Coder(nlohmann::json{{"decodeFails", true}})), nullptr)
        << "a failing base initialiser yields no controller";
}

TEST(Presentation, ViewDidLoadInstallsTheBarItemsInsetAndIdleLook) {
    for (const auto& [version, expected] :
         {std::pair{platform::PlatformVersion{12, 4}, BarButtonSystemItem::cancel},
          std::pair{platform::PlatformVersion{13, 0}, BarButtonSystemItem::close},
          std::pair{platform::PlatformVersion{17, 2}, BarButtonSystemItem::close}}) {
        ScopedPlatformVersion scoped(version);
        const auto controller = presentController(nullptr);
        const auto& left = controller->navigationItem().leftBarButtonItem();
        const auto& right = controller->navigationItem().rightBarButtonItem();
        ASSERT_TRUE(left && right);
        EXPECT_EQ(left, controller->closeBarButtonItem()) << "made once and kept";
        EXPECT_EQ(right, controller->doneBarButtonItem());
        EXPECT_EQ(left->systemItem(), expected) << version.toString();
        EXPECT_EQ(left->action(), "cancelButtonTouched:");
        EXPECT_EQ(left->target(), controller);
        EXPECT_EQ(right->title(), "Send to Teleprompter");
        EXPECT_EQ(right->style(), platform::BarButtonItemStyle::plain);
        EXPECT_EQ(right->action(), "sendButtonTouched:");
        EXPECT_EQ(right->target(), controller);
        EXPECT_TRUE(right->isEnabled()) << "sending is possible before any text arrived";
        EXPECT_EQ(controller->textView()->textContainerInset(),
                  (platform::EdgeInsets{0, 20, 0, 20}));
        EXPECT_FALSE(controller->activityIndicator()->isAnimating());
        EXPECT_FALSE(controller->textView()->isHidden());
        EXPECT_EQ(controller->navigationItem().title(), "");
    }
}

TEST(Presentation, ShowsABoldTitleLineOverTheBodyInTheAppearanceColour) {
    for (const auto& [style, colour] :
         {std::pair{UserInterfaceStyle::light, RgbaColor::blackColor()},
          std::pair{UserInterfaceStyle::dark, RgbaColor::whiteColor()},
          std::pair{UserInterfaceStyle::unspecified, RgbaColor::whiteColor()}}) {
        const auto controller =
            presentController(contextWith({plainTextItem("Title\nBody")}), style);
        const AttributedText& shown = controller->textView()->attributedText();
        ASSERT_EQ(shown.string(), "Title\n\nTitle\nBody");
        const Range title{0, 7};
        const Range body{7, 10};
        expectOver(shown, NSFontAttributeName, title,
                   AttributeValue::make(Font::boldSystemFontOfSize(34)), "title font");
        expectOver(shown, NSForegroundColorAttributeName, title, nullptr,
                   "the title line has no colour of its own");
        expectOver(shown, NSFontAttributeName, body,
                   AttributeValue::make(Font::systemFontOfSize(17)), "body font");
        expectOver(shown, NSForegroundColorAttributeName, body, AttributeValue::make(colour),
                   "body colour");
        EXPECT_TRUE(shown.runs(NSParagraphStyleAttributeName).size() == 1 &&
                    !shown.runs(NSParagraphStyleAttributeName)[0].value);
        EXPECT_EQ(controller->navigationItem().title(), "");
        EXPECT_EQ(controller->capturedText(), "Title\nBody");
    }
}

TEST(Presentation, TheBodyLosesParagraphStylesAndTakesTheBodySizeOfTheTextSizeSetting) {
    platform::Application::setPreferredContentSizeCategory(
        ContentSizeCategory::accessibilityExtraExtraExtraLarge);
    MutableAttributedText rich(String("Big and small"));
    rich.addAttribute(NSFontAttributeName,
                      AttributeValue::make(Font("Serif", platform::FontWeight::bold, 40)), {0, 3});
    rich.addAttribute(NSFontAttributeName,
                      AttributeValue::make(Font("Serif", platform::FontWeight::regular, 9)),
                      {3, 10});
    rich.addAttribute(
        NSParagraphStyleAttributeName,
        AttributeValue::make(platform::ParagraphStyle{platform::TextAlignment::center}), {0, 13});
    auto item = plainTextItem("T");
    item->setAttributedContentText(rich.copy());
    const auto controller = presentController(contextWith({item}));
    platform::Application::setPreferredContentSizeCategory(ContentSizeCategory::large);

    const AttributedText& shown = controller->textView()->attributedText();
    ASSERT_EQ(shown.string(), "T\nBig and small");
    expectOver(shown, NSFontAttributeName, {0, 2},
               AttributeValue::make(Font::boldSystemFontOfSize(60)), "AX5 large title");
    expectOver(shown, NSFontAttributeName, {2, 3},
               AttributeValue::make(Font("Serif", platform::FontWeight::bold, 53)),
               "first body font");
    expectOver(shown, NSFontAttributeName, {5, 10},
               AttributeValue::make(Font("Serif", platform::FontWeight::regular, 53)),
               "second body font");
    expectOver(shown, NSParagraphStyleAttributeName, {0, shown.length()}, nullptr,
               "paragraph styles");
}

TEST(Presentation, AnEmptyTextShowsOneBoldLineFeed) {
    const auto controller = presentController(contextWith({plainTextItem("")}));
    const AttributedText& shown = controller->textView()->attributedText();
    EXPECT_EQ(shown.string(), "\n");
    expectOver(shown, NSFontAttributeName, {0, 1},
               AttributeValue::make(Font::boldSystemFontOfSize(34)), "title font");
    EXPECT_TRUE(controller->capturedText().empty());
}

TEST(Presentation, EveryTraitChangeRecoloursTheWholeText) {
    const auto controller =
        presentController(contextWith({plainTextItem("Title\nBody")}), UserInterfaceStyle::light);
    platform::TraitCollection traits = controller->traitCollection();
    traits.preferredContentSizeCategory = ContentSizeCategory::extraSmall;  // style unchanged
    controller->setTraitCollection(traits);
    const AttributedText& shown = controller->textView()->attributedText();
    expectOver(shown, NSForegroundColorAttributeName, {0, shown.length()},
               AttributeValue::make(RgbaColor::blackColor()),
               "after a text-size change the title is black too");
    EXPECT_EQ(shown.runs(NSFontAttributeName).size(), 2u)
        << "a trait change recolours, it does not resize";

    traits.userInterfaceStyle = UserInterfaceStyle::dark;
    controller->setTraitCollection(traits);
    const AttributedText& dark = controller->textView()->attributedText();
    expectOver(dark, NSForegroundColorAttributeName, {0, dark.length()},
               AttributeValue::make(RgbaColor::whiteColor()), "dark");
}

TEST(Presentation, BeforeTwelveTheBodyKeepsItsColoursAndTraitChangesDoNothing) {
    ScopedPlatformVersion scoped({11, 4});
    auto item = plainTextItem("T");
    item->setAttributedContentText(AttributedText(
        String("red"),
        {{NSForegroundColorAttributeName, AttributeValue::make(RgbaColor::redColor())}}));
    const auto controller = presentController(contextWith({item}), UserInterfaceStyle::dark);
    const AttributedText before = controller->textView()->attributedText();
    expectOver(before, NSForegroundColorAttributeName, {2, 3},
               AttributeValue::make(RgbaColor::redColor()), "own colour");
    platform::TraitCollection traits = controller->traitCollection();
    traits.userInterfaceStyle = UserInterfaceStyle::light;
    controller->setTraitCollection(traits);
    EXPECT_EQ(controller->textView()->attributedText(), before);
}

TEST(Presentation, BusyAndIdleLooks) {
    const auto controller =
        presentController(contextWith({plainTextItem("  My note  \nsecond line")}));
    controller->showBusyState();
    EXPECT_TRUE(controller->activityIndicator()->isAnimating());
    EXPECT_FALSE(controller->activityIndicator()->isHidden());
    EXPECT_TRUE(controller->textView()->isHidden());
    EXPECT_FALSE(controller->doneBarButtonItem()->isEnabled());
    EXPECT_TRUE(controller->closeBarButtonItem()->isEnabled()) << "closing stays possible";
    EXPECT_EQ(controller->navigationItem().title(), "Sending...");

    controller->showIdleState();
    EXPECT_FALSE(controller->activityIndicator()->isAnimating());
    EXPECT_FALSE(controller->textView()->isHidden());
    EXPECT_TRUE(controller->doneBarButtonItem()->isEnabled());
    EXPECT_EQ(controller->navigationItem().title(), "My note  \n");
}

}  // namespace
