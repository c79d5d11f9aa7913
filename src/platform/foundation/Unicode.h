// Unicode: UTF-8 decoding and encoding, and the character classes the platform trims and
// breaks lines by.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "handover/TextCharacters.h"

namespace platform {

// The decoding and the character classes are the hand-over's: the sheet trims and breaks a
// text's title line exactly as the readers of the import folder do.
using handover::decodeUtf8;
using handover::isLineBreak;
using handover::isWhitespaceOrNewline;
using handover::kReplacementCharacter;
using handover::Utf8Scalar;

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

}  // namespace platform
