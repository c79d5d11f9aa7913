#include "platform/foundation/Application.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<ContentSizeCategory> gContentSizeCategory{ContentSizeCategory::large};
}

ContentSizeCategory Application::preferredContentSizeCategory() {
    return gContentSizeCategory.load();
}

void Application::setPreferredContentSizeCategory(ContentSizeCategory category) {
    gContentSizeCategory.store(category);
}

}  // namespace platform
