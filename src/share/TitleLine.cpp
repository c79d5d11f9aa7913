#include "share/TitleLine.h"

#include <cstdint>
#include <string_view>

namespace quorvane {
namespace {

struct Scalar {
    char32_t value;
    std::size_t size;  // bytes
};

constexpr char32_t kReplacement = 0xFFFD;

// The scalar starting at `pos`; a byte that does not start a valid sequence is one character.
Scalar decodeAt(std::string_view bytes, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(pos);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t size = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        size = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        size = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        size = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return {kReplacement, 1};
    }
    if (pos + size > bytes.size())
        return {kReplacement, 1};
    for (std::size_t i = 1; i < size; ++i) {
        if ((byte(pos + i) & 0xC0) != 0x80)
            return {kReplacement, 1};
        value = (value << 6) | (byte(pos + i) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return {kReplacement, 1};
    return {value, size};
}

// The scalar ending just before `end`, for trimming from the back.
Scalar decodeBefore(std::string_view bytes, std::size_t end) {
    // A scalar is at most 4 bytes; take the longest valid one that ends exactly at `end`.
    for (std::size_t size = 4; size >= 2; --size) {
        if (end < size)
            continue;
        const Scalar scalar = decodeAt(bytes, end - size);
        if (scalar.size == size)
            return scalar;
    }
    return decodeAt(bytes, end - 1).size == 1 ? decodeAt(bytes, end - 1) : Scalar{kReplacement, 1};
}

constexpr bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

constexpr bool isWhitespaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200B) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

}  // namespace

platform::String titleLine(const platform::String& text) {
    const std::string_view bytes = text.view();
    std::size_t start = 0;
    std::size_t end = bytes.size();
    while (start < end) {
        const Scalar scalar = decodeAt(bytes, start);
        if (!isWhitespaceOrNewline(scalar.value))
            break;
        start += scalar.size;
    }
    while (end > start) {
        const Scalar scalar = decodeBefore(bytes, end);
        if (!isWhitespaceOrNewline(scalar.value))
            break;
        end -= scalar.size;
    }
    // A line break is always a character of its own (or CR LF), so the first line-break scalar
    // starts the first line-break character.
    for (std::size_t pos = start; pos < end;) {
        const Scalar scalar = decodeAt(bytes, pos);
        if (isLineBreak(scalar.value)) {
            std::size_t through = pos + scalar.size;
            if (scalar.value == U'\r' && through < end && bytes[through] == '\n')
                ++through;
            return text.substr(start, through - start);
        }
        pos += scalar.size;
    }
    return text.substr(start, end - start);
}

}  // namespace quorvane
