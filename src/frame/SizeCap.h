// SizeCap: how a program takes a size limit from a person and names it back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace frame {

// A size with an optional suffix K, M or G (powers of 1024, either case), such as "512M", from 0
// (only the empty text) up to the largest 64-bit value ("18446744073709551615", what
// ULONG_MAX prints: no cap in practice); none for anything else or a size that does not fit in
// 64 bits.
[[nodiscard]] std::optional<std::uint64_t> parseSize(std::string_view text);

// A size as a message names it: in the largest unit of 1024 that divides it exactly ("1 MiB",
// "1536 KiB", "1000 bytes"), so that the cap a person gave reads back as given.
[[nodiscard]] std::string sizeInWords(std::uint64_t bytes);

}  // namespace frame
