// titleLine: the one-line title of a shared text.
#pragma once

#include "platform/foundation/String.h"

namespace quorvane {

// The text without white space and newlines at either end, up to and including its first line
// break (a CR LF pair counts as one and is kept whole); the whole trimmed text when it has no
// line break. Shares the characters of `text`.
//   titleLine("\n\n  Title\r\nBody") == "Title\r\n"
//   titleLine("  one line  ") == "one line"
//   titleLine(" \n\t ") == ""
// White space and newlines: U+0009-U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000-U+200A,
// U+2028, U+2029, U+202F, U+205F, U+3000 (not U+200B ZERO WIDTH SPACE, a format character). Line
// breaks: U+000A-U+000D, U+0085, U+2028, U+2029. Bytes that are not valid UTF-8 count as ordinary
// characters.
[[nodiscard]] platform::String titleLine(const platform::String& text);

}  // namespace quorvane
