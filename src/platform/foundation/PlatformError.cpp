#include "platform/foundation/PlatformError.h"

#include <cstring>

namespace platform {

PlatformError PlatformError::posix(int errorNumber, const std::string& operation) {
    PlatformError error;
    error.domain = kPosixDomain;
    error.code = errorNumber;
    error.userInfo[kLocalizedDescriptionKey] = operation + ": " + std::strerror(errorNumber);
    return error;
}

std::string PlatformError::localizedDescription() const {
    if (const auto it = userInfo.find(kLocalizedDescriptionKey); it != userInfo.end())
        return it->second;
    return "The operation couldn't be completed. (" + domain + " error " + std::to_string(code) +
           ".)";
}

bool operator==(const PlatformError& a, const PlatformError& b) {
    if (a.domain != b.domain || a.code != b.code || a.userInfo != b.userInfo)
        return false;
    if (!a.underlying || !b.underlying)
        return a.underlying == b.underlying;
    return *a.underlying == *b.underlying;
}

}  // namespace platform
