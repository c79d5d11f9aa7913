// TextCharacters: the UTF-8 reading and the character classes by which both sides of the
// hand-over find a text's title line, so that the share sheet's title, the file name a reader
// makes and the title a library lists cannot differ.
#pragma once

#include <cstddef>
#include <string_view>

namespace handover {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

struct Utf8Scalar {
    char32_t value;
    std::size_t size;  // bytes
};

// The scalar starting at `position` (which must be inside `bytes`). A byte that does not start
// a valid sequence (overlong forms, surrogates, values above U+10FFFF and cut-off sequences
// included) decodes as U+FFFD of size 1, so every byte is either part of a scalar or one.
[[nodiscard]] Utf8Scalar decodeUtf8(std::string_view bytes, std::size_t position);

// Line breaks: U+000A to U+000D, U+0085, U+2028, U+2029 (a CR LF pair is one line break).
[[nodiscard]] constexpr bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// White space and newlines, as trimming removes them: U+0009 to U+000D, U+0020, U+0085,
// U+00A0, U+1680, U+2000 to U+200A, U+2028, U+2029, U+202F, U+205F, U+3000. U+200B ZERO WIDTH
// SPACE is a format character, not a space separator, and is kept.
[[nodiscard]] constexpr bool isWhitespaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Control characters: C0, DEL and C1. A terminal acts on them; a name or a line shown must not
// hold them.
[[nodiscard]] constexpr bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// The bidirectional controls: U+061C, U+200E, U+200F (the marks), U+202A to U+202E (embeddings
// and overrides) and U+2066 to U+2069 (isolates). They reorder what is shown around them, so a
// name or a message holding one may read other than it is.
[[nodiscard]] constexpr bool isDirectionControl(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

}  // namespace handover
