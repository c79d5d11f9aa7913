// Base64: how a program's JSON carries bytes that are not UTF-8 (a path, a text), as
// {"base64": "..."}, so that they read back exactly.
#pragma once

#include <string>
#include <string_view>

namespace frame {

// `bytes` in standard base64 (RFC 4648's alphabet) with padding. Pieces whose sizes are
// multiples of three join into the base64 of the whole.
[[nodiscard]] std::string base64Of(std::string_view bytes);

}  // namespace frame
