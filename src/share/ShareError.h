// ShareError: how the extension ends a request that it did not complete.
#pragma once

#include <optional>

#include "handover/ShareContract.h"
#include "platform/foundation/PlatformError.h"

namespace quorvane {

// Codes are the cases' indexes, as the host sees them.
enum class ShareError {
    cancelled = handover::kShareErrorCancelled,      // the person closed the sheet
    writeFailed = handover::kShareErrorWriteFailed,  // the text could not be saved safely
};

// The error domain: the module, the controller and the type, joined by ".".
inline constexpr const char* kShareErrorDomain = handover::kShareErrorDomain;

// The platform error the host receives. `cancelled` carries no user information;
// `writeFailed` carries a description and the system error as its underlying error.
[[nodiscard]] platform::PlatformError platformError(
    ShareError error, const std::optional<platform::PlatformError>& underlying = {});

}  // namespace quorvane
