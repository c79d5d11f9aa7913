#include "host/tty/KeyDecoder.h"

#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/foundation/Unicode.h"

namespace host {
namespace {

// The key of a control sequence "ESC [ params final" or "ESC O final", if it is one we use.
std::optional<Key> sequenceKey(std::string_view params, char final) {
    using Kind = Key::Kind;
    switch (final) {
        case 'A':
            return Key{Kind::up};
        case 'B':
            return Key{Kind::down};
        case 'C':
            return Key{Kind::right};
        case 'D':
            return Key{Kind::left};
        case 'H':
            return Key{Kind::home};
        case 'F':
            return Key{Kind::end};
        case '~': {
            const int number = std::atoi(std::string(params.substr(0, params.find(';'))).c_str());
            if (number == 1 || number == 7)
                return Key{Kind::home};
            if (number == 4 || number == 8)
                return Key{Kind::end};
            if (number == 5)
                return Key{Kind::pageUp};
            if (number == 6)
                return Key{Kind::pageDown};
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

void decodeKeys(std::string& bytes, std::vector<Key>& keys, bool quiet, const KeySequences& known) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == 0x1B) {
            const std::string_view rest = std::string_view(bytes).substr(i);
            bool matched = false, waiting = false;
            for (const auto& [sequence, kind] : known) {
                if (rest.starts_with(sequence)) {
                    keys.push_back({kind});
                    i += sequence.size();
                    matched = true;
                    break;
                }
                waiting = waiting || std::string_view(sequence).starts_with(rest);
            }
            if (matched)
                continue;
            if (waiting && !quiet)
                break;
            if (i + 1 == bytes.size()) {
                if (!quiet)
                    break;
                keys.push_back({Key::Kind::escape});
                ++i;
                continue;
            }
            if (bytes[i + 1] != '[' && bytes[i + 1] != 'O') {
                keys.push_back({Key::Kind::escape});
                ++i;
                continue;
            }
            std::size_t end = i + 2;
            while (end < bytes.size() && (bytes[end] < 0x40 || bytes[end] > 0x7E))
                ++end;
            if (end == bytes.size()) {
                if (!quiet)
                    break;
                i = end;
                continue;
            }
            if (const auto key =
                    sequenceKey(std::string_view(bytes).substr(i + 2, end - i - 2), bytes[end]))
                keys.push_back(*key);
            i = end + 1;
            continue;
        }
        if (byte == '\r' || byte == '\n') {
            keys.push_back({Key::Kind::enter});
            ++i;
            continue;
        }
        if (i + platform::utf8SequenceLength(byte) > bytes.size() && !quiet)
            break;
        keys.push_back({Key::Kind::character, platform::nextScalar(bytes, i)});
    }
    bytes.erase(0, i);
}

}  // namespace host
