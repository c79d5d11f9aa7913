// Send and cancel: order and threads, one ending per request, failures reported, and the
// text captured when the send started.
#include <gtest/gtest.h>

#include <future>

#include "ShareFixture.h"
#include "platform/foundation/FileManager.h"
#include "storage/ImportFolder.h"
#include "support/FaultySystemCalls.h"
#include "support/TemporaryFolder.h"

namespace {

using platform::ExtensionContext;
using platform::FileManager;
using quorvane::ShareViewController;
using testing_support::Call;
using testing_support::contextWith;
using testing_support::drain;
using testing_support::FaultySystemCalls;
using testing_support::plainTextItem;
using testing_support::presentController;
using testing_support::TemporaryFolder;

class Send : public ::testing::Test {
  protected:
    void SetUp() override {
        FileManager::defaultManager().setContainerRoot(root_.str());
        FileManager::defaultManager().setReachableGroups({quorvane::kApplicationGroupIdentifier});
    }
    void TearDown() override {
        FileManager::defaultManager().setContainerRoot("");
        FileManager::defaultManager().setReachableGroups({});
    }

    std::filesystem::path importFolder() const {
        return root_.path() / quorvane::kApplicationGroupIdentifier / "regular" / "imported";
    }
    std::vector<std::string> files() const { return testing_support::entriesOf(importFolder()); }
    std::string onlyFileContents() const {
        const auto names = files();
        EXPECT_EQ(names.size(), 1u);
        return names.empty() ? "" : testing_support::readFile(importFolder() / names.front());
    }

    static bool tapSend(const std::shared_ptr<ShareViewController>& controller) {
        return controller->navigationItem().rightBarButtonItem()->tap();
    }
    static bool tapClose(const std::shared_ptr<ShareViewController>& controller) {
        return controller->navigationItem().leftBarButtonItem()->tap();
    }

    TemporaryFolder root_;
};

TEST_F(Send, ShowsTheBusyLookWritesOffTheMainThreadThenIdlesAndCompletesOnIt) {
    auto context = contextWith({plainTextItem("  First line\nsecond line")});
    const auto controller = presentController(context);
    bool idleWhenCompleted = false;
    std::string titleWhenCompleted;
    context->setObserver([&](const ExtensionContext::Ending&) {
        EXPECT_TRUE(platform::Dispatch::isMainThread());
        idleWhenCompleted = !controller->activityIndicator()->isAnimating() &&
                            !controller->textView()->isHidden() &&
                            controller->doneBarButtonItem()->isEnabled();
        titleWhenCompleted = controller->navigationItem().title().str();
    });
    FaultySystemCalls calls;
    platform::ScopedSystemCalls scoped(calls);

    ASSERT_TRUE(tapSend(controller));
    EXPECT_TRUE(controller->activityIndicator()->isAnimating());
    EXPECT_TRUE(controller->textView()->isHidden());
    EXPECT_FALSE(controller->doneBarButtonItem()->isEnabled());
    EXPECT_TRUE(controller->closeBarButtonItem()->isEnabled());
    EXPECT_EQ(controller->navigationItem().title(), "Sending...");
    EXPECT_FALSE(context->outcome()) << "nothing ends before the write";

    drain();
    ASSERT_TRUE(context->outcome());
    EXPECT_EQ(context->outcome()->kind, ExtensionContext::EndingKind::completed);
    EXPECT_EQ(context->outcome()->returnedItemCount, 0u);
    EXPECT_TRUE(idleWhenCompleted) << "the idle look comes back before the request completes";
    EXPECT_EQ(titleWhenCompleted, "First line\n");
    EXPECT_TRUE(calls.allOffMainThread(Call::write));
    EXPECT_TRUE(calls.allOffMainThread(Call::fsync));
    EXPECT_EQ(onlyFileContents(), "  First line\nsecond line");
}

TEST_F(Send, TwoQuickTapsWriteOneFileAndCompleteOnce) {
    auto context = contextWith({plainTextItem("once")});
    const auto controller = presentController(context);
    EXPECT_TRUE(tapSend(controller));
    EXPECT_FALSE(tapSend(controller)) << "the first tap disabled the item";
    drain();
    EXPECT_EQ(files().size(), 1u);
    EXPECT_EQ(context->endingAttempts().size(), 1u);
}

TEST_F(Send, CancelDuringASendEndsTheRequestOnceAndTheWriteStillFinishes) {
    auto context = contextWith({plainTextItem("in flight")});
    const auto controller = presentController(context);
    FaultySystemCalls calls;
    platform::ScopedSystemCalls scoped(calls);
    calls.blockNext(Call::write);
    ASSERT_TRUE(tapSend(controller));
    ASSERT_TRUE(calls.waitUntilBlocked(10000));
    ASSERT_TRUE(tapClose(controller));
    ASSERT_TRUE(context->outcome());
    EXPECT_EQ(context->outcome()->kind, ExtensionContext::EndingKind::cancelled);
    EXPECT_EQ(context->outcome()->error->domain, "QuorvaneShareExt.ShareViewController.ShareError");
    EXPECT_EQ(context->outcome()->error->code, 0);
    EXPECT_TRUE(context->outcome()->error->userInfo.empty());
    EXPECT_TRUE(controller->textView()->isHidden()) << "cancel leaves the view alone";

    calls.release();
    drain();
    EXPECT_EQ(context->endingAttempts().size(), 1u)
        << "the finished send must not end the request again";
    EXPECT_FALSE(controller->activityIndicator()->isAnimating());
    EXPECT_FALSE(controller->textView()->isHidden());
    EXPECT_EQ(onlyFileContents(), "in flight");
}

TEST_F(Send, AFailedWriteEndsTheRequestWithWriteFailedAndLeavesNothing) {
    struct Row {
        const char* name;
        std::function<void(FaultySystemCalls&)> fault;
        std::int64_t underlyingCode;
    };
    const Row rows[] = {
        {"no container",
         [](FaultySystemCalls&) { FileManager::defaultManager().setReachableGroups({}); }, ENOENT},
        {"disk full", [](FaultySystemCalls& c) { c.failKind(Call::write, 1, ENOSPC); }, ENOSPC},
        {"file sync fails", [](FaultySystemCalls& c) { c.failKind(Call::fsync, 1, EIO); }, EIO},
    };
    for (const Row& row : rows) {
        SetUp();
        auto context = contextWith({plainTextItem("Lost?\nNo.")});
        const auto controller = presentController(context);
        FaultySystemCalls calls;
        platform::ScopedSystemCalls scoped(calls);
        row.fault(calls);
        ASSERT_TRUE(tapSend(controller)) << row.name;
        drain();
        ASSERT_TRUE(context->outcome()) << row.name;
        EXPECT_EQ(context->outcome()->kind, ExtensionContext::EndingKind::cancelled) << row.name;
        const auto& error = *context->outcome()->error;
        EXPECT_EQ(error.domain, "QuorvaneShareExt.ShareViewController.ShareError") << row.name;
        EXPECT_EQ(error.code, 1) << row.name;
        ASSERT_TRUE(error.underlying) << row.name;
        EXPECT_EQ(error.underlying->code, row.underlyingCode) << row.name;
        EXPECT_TRUE(files().empty()) << row.name;
        EXPECT_FALSE(controller->activityIndicator()->isAnimating()) << row.name;
        EXPECT_EQ(controller->navigationItem().title(), "Lost?\n") << row.name;
        EXPECT_TRUE(controller->doneBarButtonItem()->isEnabled()) << row.name;
    }
}

TEST_F(Send, ASendBeforeTheTextArrivedWritesAnEmptyFile) {
    auto provider = std::make_shared<platform::ItemProvider>();
    std::promise<void> gate;
    auto opened = gate.get_future().share();
    provider->registerItemLoader("public.plain-text", [opened] {
        opened.wait();
        return platform::ItemLoadResult{platform::ProvidedItem{platform::String("late text")},
                                        std::nullopt};
    });
    auto item = std::make_shared<platform::ExtensionItem>();
    item->setAttachments(std::vector{provider});
    auto context = contextWith({item});
    auto controller = testing_support::loadController();
    controller->setExtensionContext(context);
    controller->loadViewIfNeeded();
    ASSERT_TRUE(tapSend(controller));
    ASSERT_TRUE(platform::MainRunLoop::runUntil([&] { return context->outcome().has_value(); }));
    EXPECT_EQ(context->outcome()->kind, ExtensionContext::EndingKind::completed);
    EXPECT_EQ(onlyFileContents(), "");
    gate.set_value();
    drain();
}

TEST_F(Send, WritesTheTextCapturedWhenTheSendStarted) {
    auto item = plainTextItem("what was shown when Send was tapped");
    auto context = contextWith({item});
    const auto controller = presentController(context);
    FaultySystemCalls calls;
    platform::ScopedSystemCalls scoped(calls);
    calls.blockNext(Call::write);
    ASSERT_TRUE(tapSend(controller));
    ASSERT_TRUE(calls.waitUntilBlocked(10000));
    // A delivery lands on the main thread while the write is under way.
    controller->showSharedText(item, platform::String("a later text"));
    calls.release();
    drain();
    EXPECT_EQ(onlyFileContents(), "what was shown when Send was tapped");
}

TEST_F(Send, WithoutAContextNothingEnds) {
    const auto controller = presentController(nullptr);
    ASSERT_TRUE(tapSend(controller));
    drain();
    EXPECT_FALSE(controller->activityIndicator()->isAnimating());
    EXPECT_EQ(files().size(), 1u) << "the empty text is still written";
    ASSERT_TRUE(tapClose(controller))
        << "the close item answers, and does nothing without a request";
}

TEST(ShareError, PlatformFormsCarryDomainCodeAndOnlyTheWriteFailureExplains) {
    const auto cancelled = quorvane::platformError(quorvane::ShareError::cancelled);
    EXPECT_EQ(cancelled.domain, "QuorvaneShareExt.ShareViewController.ShareError");
    EXPECT_EQ(cancelled.code, 0);
    EXPECT_TRUE(cancelled.userInfo.empty());
    EXPECT_FALSE(cancelled.underlying);
    const auto failed = quorvane::platformError(quorvane::ShareError::writeFailed,
                                                platform::PlatformError::posix(ENOSPC, "writing"));
    EXPECT_EQ(failed.code, 1);
    ASSERT_TRUE(failed.underlying);
    EXPECT_EQ(failed.underlying->code, ENOSPC);
    EXPECT_NE(failed.localizedDescription().find("No space left on device"), std::string::npos);
}

}  // namespace
