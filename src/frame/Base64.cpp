#include "frame/Base64.h"

#include <algorithm>
#include <cstdint>

namespace frame {

std::string base64Of(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t b = 0; b < 3; ++b)
            group = group << 8 | (b < n ? static_cast<unsigned char>(bytes[i + b]) : 0u);
        for (std::size_t d = 0; d < 4; ++d)
            text += d <= n ? kDigits[(group >> (18 - 6 * d)) & 0x3F] : '=';
    }
    return text;
}

}  // namespace frame
