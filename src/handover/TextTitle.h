// TextTitle: a text's title line, the one rule by which the share sheet shows a text and every
// reader of the import folder lists it and names the file it makes of it.
//
// Pure functions over bytes: nothing is copied but the title, and nothing is touched on disk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace handover {

// Where the title line of a text lies in its bytes. The title is the text's first line
// without the white space and line breaks around it: white space and line breaks at the start
// are skipped, the title ends at the first line break, without white space at its end.
// White space and line breaks are those of TextCharacters.h; bytes that are not UTF-8 (the
// text may not be, or may be cut inside a character) count as ordinary characters.
struct TitleBounds {
    std::size_t start;  // the title's first byte
    std::size_t end;    // just after its last byte
    // Just after the line break that ends the title (a CR LF pair counts as one) when more
    // than white space follows it; `end` otherwise. The share sheet shows [start, lineEnd).
    std::size_t lineEnd;
};
[[nodiscard]] TitleBounds titleBounds(std::string_view text);

// The title of a text from its first bytes, as they are.
//   titleOf("\n\n  Evening news \r\nGood evening") == "Evening news"
[[nodiscard]] std::string titleOf(std::string_view head);

}  // namespace handover
