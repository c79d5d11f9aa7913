#include "frame/SizeCap.h"

#include <iterator>
#include <limits>

namespace frame {

std::optional<std::uint64_t> parseSize(std::string_view text) {
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (i == 0)
        return std::nullopt;
    int shift = 0;
    if (i + 1 == text.size()) {
        switch (text[i]) {
            case 'k':
            case 'K':
                shift = 10;
                break;
            case 'm':
            case 'M':
                shift = 20;
                break;
            case 'g':
            case 'G':
                shift = 30;
                break;
            default:
                return std::nullopt;
        }
    } else if (i != text.size()) {
        return std::nullopt;
    }
    if (value > (std::numeric_limits<std::uint64_t>::max() >> shift))
        return std::nullopt;
    return value << shift;
}

std::string sizeInWords(std::uint64_t bytes) {
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    std::size_t unit = 0;
    double value = static_cast<double>(bytes);
    while (value >= 1024 && unit + 1 < std::size(units) && bytes % 1024 == 0) {
        value /= 1024;
        bytes /= 1024;
        ++unit;
    }
    return std::to_string(bytes) + " " + units[unit];
}

}  // namespace frame
