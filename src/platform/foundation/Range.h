// Range: a location and a length in a text's units (for attributed text, UTF-8 bytes).
#pragma once

#include <cstdint>

namespace platform {

struct Range {
    std::uint64_t location = 0;
    std::uint64_t length = 0;

    [[nodiscard]] constexpr std::uint64_t end() const { return location + length; }
    friend constexpr bool operator==(const Range&, const Range&) = default;
};

}  // namespace platform
