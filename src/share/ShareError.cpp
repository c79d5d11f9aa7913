#include "share/ShareError.h"

namespace quorvane {

platform::PlatformError platformError(ShareError error,
                                      const std::optional<platform::PlatformError>& underlying) {
    platform::PlatformError result;
    result.domain = kShareErrorDomain;
    result.code = static_cast<std::int64_t>(error);
    if (error == ShareError::writeFailed) {
        std::string description = "The text could not be saved for the teleprompter";
        if (underlying)
            description += ": " + underlying->localizedDescription();
        result.userInfo[platform::PlatformError::kLocalizedDescriptionKey] = description;
        if (underlying)
            result.underlying = std::make_shared<const platform::PlatformError>(*underlying);
    }
    return result;
}

}  // namespace quorvane
