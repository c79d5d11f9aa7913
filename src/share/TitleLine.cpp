#include "share/TitleLine.h"

#include <string_view>

#include "platform/foundation/Unicode.h"

namespace quorvane {
namespace {

using platform::decodeUtf8;
using platform::Utf8Scalar;

// The scalar ending just before `end`, for trimming from the back: the longest valid sequence
// that ends exactly there, else the last byte alone.
Utf8Scalar decodeBefore(std::string_view bytes, std::size_t end) {
    for (std::size_t size = 4; size >= 2; --size) {
        if (end < size)
            continue;
        const Utf8Scalar scalar = decodeUtf8(bytes.substr(0, end), end - size);
        if (scalar.size == size)
            return scalar;
    }
    return decodeUtf8(bytes.substr(0, end), end - 1);
}

}  // namespace

platform::String titleLine(const platform::String& text) {
    const std::string_view bytes = text.view();
    std::size_t start = 0;
    std::size_t end = bytes.size();
    while (start < end) {
        const Utf8Scalar scalar = decodeUtf8(bytes, start);
        if (!platform::isWhitespaceOrNewline(scalar.value))
            break;
        start += scalar.size;
    }
    while (end > start) {
        const Utf8Scalar scalar = decodeBefore(bytes, end);
        if (!platform::isWhitespaceOrNewline(scalar.value))
            break;
        end -= scalar.size;
    }
    // A line break is always a character of its own (or CR LF), so the first line-break scalar
    // starts the first line-break character.
    for (std::size_t pos = start; pos < end;) {
        const Utf8Scalar scalar = decodeUtf8(bytes, pos);
        if (platform::isLineBreak(scalar.value)) {
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
