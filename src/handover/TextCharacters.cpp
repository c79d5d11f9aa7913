#include "handover/TextCharacters.h"

#include <cstdint>

namespace handover {

Utf8Scalar decodeUtf8(std::string_view bytes, std::size_t position) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    const std::uint8_t lead = byte(position);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t size = 0;
    char32_t value = 0;
    char32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        size = 2, value = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        size = 3, value = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        size = 4, value = lead & 0x07, least = 0x10000;
    } else {
        return {kReplacementCharacter, 1};
    }
    if (position + size > bytes.size())
        return {kReplacementCharacter, 1};
    for (std::size_t i = 1; i < size; ++i) {
        if ((byte(position + i) & 0xC0) != 0x80)
            return {kReplacementCharacter, 1};
        value = (value << 6) | (byte(position + i) & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return {kReplacementCharacter, 1};
    return {value, size};
}

}  // namespace handover
