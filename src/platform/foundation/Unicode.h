// Unicode: UTF-8 decoding and encoding, and the character classes the platform trims and
// breaks lines by.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

struct Utf8Scalar {
    char32_t value;
    std::size_t size;  // bytes
};

// The scalar starting at `position` (which must be inside `bytes`). A byte that does not start
// a valid sequence (overlong forms, surrogates, values above U+10FFFF and cut-off sequences
// included) decodes as U+FFFD of size 1, so every byte is either part of a scalar or one.
[[nodiscard]] Utf8Scalar decodeUtf8(std::string_view bytes, std::size_t position);

// Decodes the scalar at `position` and moves past it.
[[nodiscard]] inline char32_t nextScalar(std::string_view bytes, std::size_t& position) {
    const Utf8Scalar scalar = decodeUtf8(bytes, position);
    position += scalar.size;
    return scalar.value;
}

void appendUtf8(std::string& out, char32_t scalar);

// The length of the sequence a lead byte starts (1 for ASCII and for bytes that start none),
// for readers that must wait for the rest of a character before decoding it.
[[nodiscard]] constexpr std::size_t utf8SequenceLength(unsigned char lead) {
    return lead < 0x80             ? 1
           : (lead & 0xE0) == 0xC0 ? 2
           : (lead & 0xF0) == 0xE0 ? 3
           : (lead & 0xF8) == 0xF0 ? 4
                                   : 1;
}

// Line breaks: U+000A to U+000D, U+0085, U+2028, U+2029 (a CR LF pair is one line break).
[[nodiscard]] constexpr bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

// White space and newlines, as trimming removes them: U+0009 to U+000D, U+0020, U+0085,
// U+00A0, U+1680, U+2000 to U+200B, U+2028, U+2029, U+202F, U+205F, U+3000.
[[nodiscard]] constexpr bool isWhitespaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

}  // namespace platform
