#include "platform/extension/ItemProvider.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestSupport.h"
#include "platform/extension/ExtensionContext.h"
#include "platform/extension/TypeIdentifier.h"

namespace {

using platform::ItemProvider;
using platform::ProvidedItem;

TEST(TypeIdentifier, ConformanceFollowsTheHierarchy) {
    EXPECT_TRUE(platform::typeConformsTo("public.utf8-plain-text", "public.plain-text"));
    EXPECT_TRUE(platform::typeConformsTo("public.plain-text", "public.plain-text"));
    EXPECT_TRUE(platform::typeConformsTo("public.plain-text", "public.item"));
    EXPECT_FALSE(platform::typeConformsTo("public.text", "public.plain-text"));
    EXPECT_FALSE(platform::typeConformsTo("public.url", "public.plain-text"));
    EXPECT_TRUE(platform::typeConformsTo("com.example.custom", "com.example.custom"));
}

TEST(ItemProvider, LoadsTheFirstConformingItemOnceOnAWorker) {
    auto provider = std::make_shared<ItemProvider>();
    provider->registerItem("public.url", platform::URL::fileURLWithPath("/tmp/x"));
    provider->registerItem("public.utf8-plain-text", platform::String("hello"));
    EXPECT_TRUE(provider->hasItemConformingToTypeIdentifier("public.plain-text"));
    EXPECT_FALSE(provider->hasItemConformingToTypeIdentifier("public.image"));

    std::atomic<int> calls{0};
    std::atomic<bool> onMain{true};
    std::optional<ProvidedItem> delivered;
    provider->loadItemForTypeIdentifier(
        "public.plain-text", nullptr, [&](const auto& item, const auto& error) {
            onMain = platform::Dispatch::isMainThread();
            EXPECT_FALSE(error);
            platform::Dispatch::asyncMain([&, item] { delivered = item; });
            ++calls;
        });
    testing_support::drain();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(onMain);
    ASSERT_TRUE(delivered);
    EXPECT_EQ(std::get<platform::String>(*delivered), "hello");
}

TEST(ItemProvider, MissingTypesAndFailingLoadersDeliverAnError) {
    auto provider = std::make_shared<ItemProvider>();
    provider->registerItemLoader("public.plain-text", [] {
        return platform::ItemLoadResult{std::nullopt,
                                        platform::PlatformError{"TestDomain", 7, {}, nullptr}};
    });
    std::vector<std::int64_t> codes;
    for (const char* type : {"public.plain-text", "public.image"}) {
        provider->loadItemForTypeIdentifier(
            type, nullptr, [&](const auto& item, const auto& error) {
                EXPECT_FALSE(item);
                ASSERT_TRUE(error);
                platform::Dispatch::asyncMain(
                    [&codes, code = error->code] { codes.push_back(code); });
            });
        testing_support::drain();
    }
    EXPECT_EQ(codes, (std::vector<std::int64_t>{7, -1000}));
}

TEST(ExtensionContext, ARequestEndsOnceAndRecordsLaterAttempts) {
    auto context = std::make_shared<platform::ExtensionContext>();
    int observed = 0;
    context->setObserver([&](const platform::ExtensionContext::Ending&) { ++observed; });
    std::optional<bool> expired;
    context->completeRequestReturningItems({}, [&](bool wasExpired) { expired = wasExpired; });
    context->cancelRequestWithError(platform::PlatformError{"D", 0, {}, nullptr});
    ASSERT_TRUE(context->outcome());
    EXPECT_EQ(context->outcome()->kind, platform::ExtensionContext::EndingKind::completed);
    EXPECT_EQ(context->endingAttempts().size(), 2u);
    EXPECT_EQ(observed, 1);
    EXPECT_EQ(expired, false);
}

}  // namespace
