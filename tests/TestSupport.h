// Helpers shared by the tests: building share requests and driving the main run loop.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/extension/ExtensionContext.h"
#include "platform/extension/ExtensionItem.h"
#include "platform/extension/ItemProvider.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/PlatformVersion.h"

namespace testing_support {

// An input item whose only attachment offers `text` as plain text.
inline std::shared_ptr<platform::ExtensionItem> plainTextItem(const std::string& text) {
    auto provider = std::make_shared<platform::ItemProvider>();
    provider->registerItem("public.plain-text", platform::String(text));
    auto item = std::make_shared<platform::ExtensionItem>();
    item->setAttachments(std::vector{provider});
    return item;
}

inline std::shared_ptr<platform::ExtensionContext> contextWith(
    std::vector<platform::ObjectPtr> items) {
    return std::make_shared<platform::ExtensionContext>(std::move(items));
}

// Runs the main loop until nothing is queued anywhere; fails the test if that takes too long.
inline void drain() {
    ASSERT_TRUE(platform::MainRunLoop::runUntilIdle(std::chrono::seconds(20)))
        << "run loop never went idle";
}

// Sets the platform version for one test and puts the default back afterwards.
class ScopedPlatformVersion {
  public:
    explicit ScopedPlatformVersion(platform::PlatformVersion version) {
        platform::PlatformVersion::setRunning(version);
    }
    ~ScopedPlatformVersion() {
        platform::PlatformVersion::setRunning(platform::PlatformVersion::current());
    }
    ScopedPlatformVersion(const ScopedPlatformVersion&) = delete;
    ScopedPlatformVersion& operator=(const ScopedPlatformVersion&) = delete;
};

}  // namespace testing_support
