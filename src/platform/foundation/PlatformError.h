// PlatformError: the platform's error object (NSError), a small value.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace platform {

struct PlatformError {
    std::string domain;
    std::int64_t code = 0;
    std::map<std::string, std::string> userInfo;      // e.g. NSLocalizedDescription
    std::shared_ptr<const PlatformError> underlying;  // NSUnderlyingErrorKey, or none

    static constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
    static constexpr const char* kPosixDomain = "NSPOSIXErrorDomain";

    // An error of the POSIX domain for an errno value, described as strerror does, with what
    // was being done.
    static PlatformError posix(int errorNumber, const std::string& operation);

    // The user-information description, else "<domain> error <code>".
    [[nodiscard]] std::string localizedDescription() const;

    friend bool operator==(const PlatformError& a, const PlatformError& b);
};

}  // namespace platform
