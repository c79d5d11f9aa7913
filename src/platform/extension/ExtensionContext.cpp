#include "platform/extension/ExtensionContext.h"

#include "platform/foundation/Dispatch.h"

namespace platform {

void ExtensionContext::completeRequestReturningItems(
    const std::vector<ObjectPtr>& items,
    const std::function<void(bool expired)>& completionHandler) {
    Dispatch::requireMainThread(
        "NSExtensionContext completeRequestReturningItems:completionHandler:");
    const bool alreadyEnded = outcome_.has_value();
    end({EndingKind::completed, items.size(), std::nullopt});
    if (completionHandler)
        completionHandler(alreadyEnded);
}

void ExtensionContext::cancelRequestWithError(const PlatformError& error) {
    Dispatch::requireMainThread("NSExtensionContext cancelRequestWithError:");
    end({EndingKind::cancelled, 0, error});
}

void ExtensionContext::end(Ending ending) {
    attempts_.push_back(ending);
    if (outcome_)
        return;
    outcome_ = std::move(ending);
    if (observer_)
        observer_(*outcome_);
}

}  // namespace platform
