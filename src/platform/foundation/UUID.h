// UUID: a random (version 4) universally unique identifier from the kernel's random source.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/PlatformError.h"

namespace platform {

class UUID {
  public:
    // A new random UUID, or none (with the reason in `error`) when the kernel's random source
    // cannot be read: a weaker source would risk names that collide across processes.
    static std::optional<UUID> generate(PlatformError* error = nullptr);
    // A UUID from 16 given bytes, with the version 4 and RFC 4122 variant bits set.
    static UUID fromBytes(const std::array<std::uint8_t, 16>& bytes);

    // uuidString: 36 characters, upper-case hexadecimal in groups 8-4-4-4-12.
    [[nodiscard]] std::string uuidString() const;

  private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace platform
