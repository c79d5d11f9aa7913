#include "reader/TextTitle.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "handover/TextCharacters.h"

namespace reader {
namespace {

using handover::isControl;
using handover::isDirectionControl;
using handover::isWhitespaceOrNewline;

struct Scalar {
    char32_t value;    // kInvalid for a byte that starts no valid sequence
    std::size_t size;  // bytes taken: 1 for an invalid byte
    bool truncated;    // a start whose sequence runs past the end of the bytes
};
constexpr char32_t kInvalid = 0xFFFFFFFF;

// Decodes the scalar at `pos` by the UTF-8 rules (utf8proc's: no overlong forms, no
// surrogates, nothing above U+10FFFF).
Scalar decodeAt(std::string_view bytes, std::size_t pos) {
    const auto* at = reinterpret_cast<const utf8proc_uint8_t*>(bytes.data()) + pos;
    const auto left = static_cast<utf8proc_ssize_t>(bytes.size() - pos);
    utf8proc_int32_t value = 0;
    const utf8proc_ssize_t size = utf8proc_iterate(at, left, &value);
    if (size > 0)
        return {static_cast<char32_t>(value), static_cast<std::size_t>(size), false};
    // Invalid, or cut by the end of the bytes: a lead byte whose sequence is longer than what is
    // left may be completed by the next piece (if not, it is judged again there).
    return {kInvalid, 1, utf8proc_utf8class[*at] > left};
}

// Characters that show as nothing and join nothing: the zero-width space, the word joiner and
// the byte-order mark (a text may start with one). In a name they only make it read as another
// name, or as none. The zero-width joiner and non-joiner stay: emoji and scripts need them.
bool isInvisible(char32_t c) {
    return c == 0x200B || c == 0x2060 || c == 0xFEFF;
}

void appendUtf8(std::string& out, char32_t c) {
    utf8proc_uint8_t buffer[4];
    const utf8proc_ssize_t size = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), buffer);
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size));
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

std::string fileNameFor(std::string_view title, unsigned copy) {
    std::string clean;
    bool spacePending = false;
    for (std::size_t pos = 0; pos < title.size();) {
        const Scalar scalar = decodeAt(title, pos);
        pos += scalar.size;
        char32_t c = scalar.value == kInvalid ? char32_t{0xFFFD} : scalar.value;
        if (isDirectionControl(c) || isInvisible(c))
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

void appendJsonEscaped(std::string& out, std::string_view bytes, std::string* pending, bool last,
                       bool forTerminal) {
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
            if (b < 0x20 || b >= 0x7F || b == '"' || b == '\\')
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
        } else if (c < 0x20 || (forTerminal && (isControl(c) || isDirectionControl(c)))) {
            out += "\\u";
            for (const int shift : {12, 8, 4, 0})
                out += kHex[(c >> shift) & 0xF];
        } else {
            out.append(bytes.data() + pos - scalar.size, scalar.size);
        }
    }
}

bool isUtf8(std::string_view bytes, std::string* pending, bool last) {
    std::string joined;
    if (pending && !pending->empty()) {
        joined = *pending + std::string(bytes);
        pending->clear();
        bytes = joined;
    }
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const Scalar scalar = decodeAt(bytes, pos);
        if (scalar.value == kInvalid) {
            if (scalar.truncated && pending && !last) {
                pending->assign(bytes.substr(pos));
                return true;
            }
            return false;
        }
        pos += scalar.size;
    }
    return true;
}

std::string plainLine(std::string_view bytes, bool keepDirectionControls) {
    std::string line;
    line.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const Scalar scalar = decodeAt(bytes, pos);
        if (scalar.value == kInvalid)
            line += "\xEF\xBF\xBD";
        else if (isControl(scalar.value))
            line += ' ';
        else if (keepDirectionControls || !isDirectionControl(scalar.value))
            line.append(bytes.substr(pos, scalar.size));
        pos += scalar.size;
    }
    return line;
}

}  // namespace reader
