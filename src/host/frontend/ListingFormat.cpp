#include "host/frontend/ListingFormat.h"

#include <cstdio>

#include "handover/TextCharacters.h"
#include "platform/foundation/Unicode.h"

namespace host {
namespace {

// Control characters (C0, DEL, C1) and the format characters that reorder text on a terminal
// (the bidirectional marks, embeddings, overrides and isolates).
bool isUnsafe(char32_t c) {
    return handover::isControl(c) || handover::isDirectionControl(c);
}

bool isStrayByte(const platform::Utf8Scalar& scalar) {
    return scalar.size == 1 && scalar.value == platform::kReplacementCharacter;
}

}  // namespace

std::string quotedForTerminal(std::string_view path) {
    bool harmless = true;
    for (std::size_t i = 0; i < path.size() && harmless;) {
        const platform::Utf8Scalar scalar = platform::decodeUtf8(path, i);
        harmless = !isStrayByte(scalar) && !isUnsafe(scalar.value);
        i += scalar.size;
    }
    if (harmless)
        return std::string(path);
    std::string quoted = "$'";
    for (std::size_t i = 0; i < path.size();) {
        const platform::Utf8Scalar scalar = platform::decodeUtf8(path, i);
        const auto escapeBytes = [&] {
            for (std::size_t b = 0; b < scalar.size; ++b) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02X",
                              static_cast<unsigned char>(path[i + b]));
                quoted += escape;
            }
        };
        switch (scalar.value) {
            case '\n':
                quoted += "\\n";
                break;
            case '\t':
                quoted += "\\t";
                break;
            case '\r':
                quoted += "\\r";
                break;
            case 0x1B:
                quoted += "\\e";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\'':
                quoted += "\\'";
                break;
            default:
                if (isStrayByte(scalar) || isUnsafe(scalar.value))
                    escapeBytes();
                else
                    quoted.append(path.substr(i, scalar.size));
        }
        i += scalar.size;
    }
    quoted += "'";
    return quoted;
}

std::string quotedInMessage(std::string_view argument) {
    std::string quoted = quotedForTerminal(argument);
    return quoted == argument ? "'" + quoted + "'" : quoted;
}

void writeListingEntry(frame::Output& out, std::string_view path, ListingFormat format) {
    switch (format) {
        case ListingFormat::lines:
            out << path << '\n';
            return;
        case ListingFormat::nulSeparated:
            out << path << '\0';
            return;
        case ListingFormat::forTerminal:
            out << quotedForTerminal(path) << '\n';
            return;
    }
}

}  // namespace host
