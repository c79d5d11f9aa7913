#include "reader/TextTitle.h"

#include <array>

namespace reader {
namespace {

struct Scalar {
    char32_t value;    // kInvalid for a byte that starts no valid sequence
    std::size_t size;  // bytes taken: 1 for an invalid byte
    bool truncated;    // a valid start whose sequence runs past the end of the bytes
};
constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes the scalar at `pos` by the UTF-8 rules (no overlong forms, no surrogates, nothing
// above U+10FFFF).
Scalar decodeAt(std::string_view bytes, std::size_t pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80)
        return {lead, 1, false};
    std::size_t size = 0;
    char32_t value = 0;
    unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        size = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        size = 3;
        value = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        size = 4;
        value = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else {
        return {kInvalid, 1, false};
    }
    for (std::size_t i = 1; i < size; ++i) {
        if (pos + i >= bytes.size())
            return {kInvalid, 1, true};
        const unsigned char next = byte(pos + i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF))
            return {kInvalid, 1, false};
        value = (value << 6) | (next & 0x3F);
    }
    return {value, size, false};
}

bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isWhitespaceOrNewline(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool isControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool isDirectionMark(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The length of the longest prefix of the valid UTF-8 `name` that fits in `limit` bytes and
// ends at a character boundary.
std::size_t cutAtCharacter(std::string_view name, std::size_t limit) {
    if (name.size() <= limit)
        return name.size();
    std::size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return end;
}

}  // namespace

std::string titleOf(std::string_view head) {
    std::size_t pos = 0;
    while (pos < head.size()) {
        const Scalar scalar = decodeAt(head, pos);
        if (scalar.value == kInvalid || !isWhitespaceOrNewline(scalar.value))
            break;
        pos += scalar.size;
    }
    const std::size_t start = pos;
    std::size_t end = start;  // just after the last character that is not white space
    while (pos < head.size()) {
        const Scalar scalar = decodeAt(head, pos);
        if (scalar.value != kInvalid && isLineBreak(scalar.value))
            break;
        pos += scalar.size;
        if (scalar.value == kInvalid || !isWhitespaceOrNewline(scalar.value))
            end = pos;
    }
    return std::string(head.substr(start, end - start));
}

std::string fileNameFor(std::string_view title, unsigned copy) {
    std::string clean;
    bool spacePending = false;
    for (std::size_t pos = 0; pos < title.size();) {
        const Scalar scalar = decodeAt(title, pos);
        pos += scalar.size;
        char32_t c = scalar.value == kInvalid ? char32_t{0xFFFD} : scalar.value;
        if (isDirectionMark(c))
            continue;
        if (isControl(c) || isWhitespaceOrNewline(c)) {
            spacePending = true;
            continue;
        }
        if (c == '/')
            c = '-';
        if (clean.empty() && c == '.')
            continue;  // no hidden names, no "." or ".."
        if (spacePending && !clean.empty())
            clean += ' ';
        spacePending = false;
        appendUtf8(clean, c);
    }
    const std::string suffix = (copy >= 2 ? " (" + std::to_string(copy) + ")" : "") + ".txt";
    clean.resize(cutAtCharacter(clean, kMaxFileNameBytes - suffix.size()));
    while (!clean.empty() && clean.back() == ' ')
        clean.pop_back();
    if (clean.empty())
        clean = "Untitled";
    return clean + suffix;
}

void appendJsonEscaped(std::string& out, std::string_view bytes, std::string* pending, bool last) {
    std::string joined;
    if (pending && !pending->empty()) {
        joined = *pending + std::string(bytes);
        pending->clear();
        bytes = joined;
    }
    static constexpr std::array<char, 16> kHex = {'0', '1', '2', '3', '4', '5', '6', '7',
                                                  '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // Plain ASCII in runs, for speed on long texts.
        std::size_t run = pos;
        while (run < bytes.size()) {
            const auto b = static_cast<unsigned char>(bytes[run]);
            if (b < 0x20 || b >= 0x80 || b == '"' || b == '\\')
                break;
            ++run;
        }
        out.append(bytes.data() + pos, run - pos);
        pos = run;
        if (pos >= bytes.size())
            break;
        const Scalar scalar = decodeAt(bytes, pos);
        if (scalar.truncated && pending && !last) {
            pending->assign(bytes.substr(pos));
            return;
        }
        pos += scalar.size;
        const char32_t c = scalar.value;
        if (c == kInvalid) {
            out += "\xEF\xBF\xBD";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out.append(bytes.data() + pos - scalar.size, scalar.size);
        }
    }
}

}  // namespace reader
