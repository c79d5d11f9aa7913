// ExtensionContext: the share request as the extension sees it (NSExtensionContext).
//
// A request ends once: the first completion or cancellation is the outcome and is reported to
// the host; later attempts change nothing but are recorded, so a fault that ends a request
// twice can be seen. Endings are main-thread operations.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/PlatformError.h"

namespace platform {

class ExtensionContext : public Object {
  public:
    enum class EndingKind { completed, cancelled };
    struct Ending {
        EndingKind kind;
        std::size_t returnedItemCount = 0;   // completed: how many items were returned
        std::optional<PlatformError> error;  // cancelled: the error
    };
    using Observer = std::function<void(const Ending&)>;

    [[nodiscard]] std::string_view className() const override { return "NSExtensionContext"; }

    explicit ExtensionContext(std::vector<ObjectPtr> inputItems = {})
        : inputItems_(std::move(inputItems)) {}

    // The request's input items in the host's order.
    [[nodiscard]] const std::vector<ObjectPtr>& inputItems() const { return inputItems_; }

    // completeRequestReturningItems:completionHandler: the handler (may be empty) is told
    // whether the request had already ended (true) once the host has taken the completion.
    void completeRequestReturningItems(const std::vector<ObjectPtr>& items,
                                       const std::function<void(bool expired)>& completionHandler);
    // cancelRequestWithError:
    void cancelRequestWithError(const PlatformError& error);

    // The outcome: the first ending, or none while the request is open.
    [[nodiscard]] const std::optional<Ending>& outcome() const { return outcome_; }
    // Every ending asked for, the ignored ones included.
    [[nodiscard]] const std::vector<Ending>& endingAttempts() const { return attempts_; }
    // Host side: told of the outcome when the request ends.
    void setObserver(Observer observer) { observer_ = std::move(observer); }

  private:
    void end(Ending ending);

    std::vector<ObjectPtr> inputItems_;
    std::optional<Ending> outcome_;
    std::vector<Ending> attempts_;
    Observer observer_;
};

}  // namespace platform
