// The intake: which shared items reach the view, and every way one silently does not.
#include <gtest/gtest.h>

#include "ShareFixture.h"
#include "share/TitleLine.h"

namespace {

using platform::AttributedText;
using platform::ExtensionItem;
using platform::ItemProvider;
using platform::ObjectPtr;
using platform::String;
using testing_support::contextWith;
using testing_support::plainTextItem;
using testing_support::presentController;

// The state viewDidLoad leaves when no text arrives.
void expectNothingShown(const quorvane::ShareViewController& controller, const char* why) {
    EXPECT_EQ(controller.textView()->attributedText().string(), "") << why;
    EXPECT_EQ(controller.navigationItem().title(), "") << why;
    EXPECT_TRUE(controller.navigationItem().rightBarButtonItem()->isEnabled()) << why;
    EXPECT_TRUE(controller.capturedText().empty()) << why;
    EXPECT_FALSE(controller.textView()->isHidden()) << why;
}

std::shared_ptr<ExtensionItem> itemWith(std::vector<std::shared_ptr<ItemProvider>> providers) {
    auto item = std::make_shared<ExtensionItem>();
    item->setAttachments(std::move(providers));
    return item;
}

std::shared_ptr<ItemProvider> providerOf(const std::string& type, platform::ProvidedItem value) {
    auto provider = std::make_shared<ItemProvider>();
    provider->registerItem(type, std::move(value));
    return provider;
}

TEST(Intake, EveryFailureOnTheWayIsSilent) {
    const auto urlProvider = [] {
        return providerOf("public.url", platform::URL::fileURLWithPath("/tmp/a"));
    };
    const auto textProvider = [] { return providerOf("public.plain-text", String("text")); };
    auto failing = std::make_shared<ItemProvider>();
    failing->registerItemLoader("public.plain-text", [] {
        return platform::ItemLoadResult{std::nullopt,
                                        platform::PlatformError{"LoadDomain", 1, {}, nullptr}};
    });
    auto empty = std::make_shared<ItemProvider>();
    empty->registerItemLoader("public.plain-text", [] { return platform::ItemLoadResult{}; });
    auto withoutAttachments = std::make_shared<ExtensionItem>();
    auto contentOnly = std::make_shared<ExtensionItem>();
    contentOnly->setAttributedContentText(AttributedText(String("rich text")));

    struct Case {
        const char* name;
        std::shared_ptr<platform::ExtensionContext> context;
    };
    const Case cases[] = {
        {"no extension context", nullptr},
        {"no input items", contextWith({})},
        {"first input item is not an extension item",
         contextWith({textProvider(), plainTextItem("x")})},
        {"attachments are none", contextWith({withoutAttachments})},
        {"attachments are empty", contextWith({itemWith({})})},
        {"plain text is only the second attachment",
         contextWith({itemWith({urlProvider(), textProvider()})})},
        {"only the second input item has text",
         contextWith({itemWith({urlProvider()}), plainTextItem("second")})},
        {"the load reports an error", contextWith({itemWith({failing})})},
        {"the load delivers nothing", contextWith({itemWith({empty})})},
        {"data instead of a string",
         contextWith({itemWith({providerOf("public.plain-text", platform::Data{"bytes"})})})},
        {"a URL instead of a string",
         contextWith(
             {itemWith({providerOf("public.plain-text", platform::URL::fileURLWithPath("/x"))})})},
        {"attributed content text without a plain-text attachment", contextWith({contentOnly})},
    };
    for (const Case& c : cases) {
        const auto controller = presentController(c.context);
        ASSERT_TRUE(controller) << c.name;
        expectNothingShown(*controller, c.name);
    }
}

TEST(Intake, StoresTheSharedTextExactlyAsDelivered) {
    for (const std::string text :
         {"  padded  ", "line one\r\nline two\r\n", "", "caf\u00e9 \U0001F600\n"}) {
        const auto controller = presentController(contextWith({plainTextItem(text)}));
        EXPECT_EQ(controller->capturedText().view(), text);
        EXPECT_EQ(controller->textView()->attributedText().string(),
                  quorvane::titleLine(String(text)).str() + "\n" + text);
    }
    // A text of another type that conforms to plain text is read too.
    const auto controller = presentController(
        contextWith({itemWith({providerOf("public.utf8-plain-text", String("utf8"))})}));
    EXPECT_EQ(controller->capturedText(), "utf8");
}

TEST(Intake, ShowsAttributedContentAsTheBodyButCapturesThePlainText) {
    auto item = plainTextItem("Plain title\nplain body");
    item->setAttributedContentText(AttributedText(String("Rich body")));
    const auto controller = presentController(contextWith({item}));
    EXPECT_EQ(controller->capturedText(), "Plain title\nplain body");
    EXPECT_EQ(controller->textView()->attributedText().string(), "Plain title\n\nRich body");
}

TEST(Intake, ADeliveryForAControllerThatIsGoneIsDropped) {
    std::weak_ptr<quorvane::ShareViewController> weakController;
    std::weak_ptr<ExtensionItem> weakItem;
    {
        auto item = plainTextItem("late");
        weakItem = item;
        auto controller = testing_support::loadController();
        controller->setExtensionContext(contextWith({item}));
        controller->loadViewIfNeeded();  // starts the load
        weakController = controller;
    }
    EXPECT_TRUE(weakController.expired()) << "a load in flight must not keep the controller alive";
    testing_support::drain();
    EXPECT_TRUE(weakItem.expired()) << "the item is released once the delivery was dropped";
}

}  // namespace
