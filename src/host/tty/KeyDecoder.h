// KeyDecoder: the keys in the bytes a terminal sends.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace host {

struct Key {
    enum class Kind {
        character,
        enter,
        escape,
        up,
        down,
        left,
        right,
        pageUp,
        pageDown,
        home,
        end
    };
    Kind kind = Kind::character;
    char32_t character = 0;  // for Kind::character: the code point (control keys included)

    [[nodiscard]] bool is(char32_t c) const { return kind == Kind::character && character == c; }
};

// Moves the complete keys at the front of `bytes` to `keys`, leaving an unfinished one (a
// sequence or a UTF-8 character cut short) for more bytes to complete. When `quiet` (nothing
// more came), what is left is settled: a lone Esc is the Esc key, an unfinished control
// sequence is dropped, a cut character is U+FFFD. Control sequences "ESC [ ... final" and
// "ESC O final" give the arrows, Home, End, PgUp and PgDn; other sequences are dropped. The
// terminal's own sequences for its keys (`known`, from its description) are matched first.
using KeySequences = std::vector<std::pair<std::string, Key::Kind>>;
void decodeKeys(std::string& bytes, std::vector<Key>& keys, bool quiet,
                const KeySequences& known = {});

}  // namespace host
