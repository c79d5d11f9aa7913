// Reading the text to share.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host {

// The whole content of `path` ("-": standard input), or none with a message naming the path.
[[nodiscard]] std::optional<std::string> readInput(const std::string& path, std::string* problem);

// The offset of the first byte that does not belong to valid UTF-8 (overlong forms,
// surrogates and values above U+10FFFF are invalid), or none when all of it is valid.
[[nodiscard]] std::optional<std::size_t> firstInvalidUtf8(std::string_view bytes);

}  // namespace host
