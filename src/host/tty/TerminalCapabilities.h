// TerminalCapabilities: what a type of terminal can do, from its terminfo description: the
// sequences that move the cursor, switch screens and hide the cursor, its number of colours
// and the bytes its keys send.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/tty/KeyDecoder.h"

namespace host {

struct TerminalCapabilities {
    // Moves the cursor (terminfo's parameterised "cup"); empty when the terminal cannot move
    // its cursor to a place, which a full-screen sheet needs.
    std::string cursorAddress;
    // Each of these may be empty: the terminal has no such thing, and goes without.
    std::string enterScreen, leaveScreen;  // the alternate screen
    std::string hideCursor, showCursor;
    std::string clearScreen;          // clears and homes the cursor
    std::string wrapOff, wrapOn;      // automatic wrap at the right margin
    std::string keypadOn, keypadOff;  // keys send the sequences listed in `keys`
    std::string resetRendition;
    // Asks where the cursor is (terminfo's "u7"); the terminal answers ESC [ row ; column R.
    std::string cursorReport;
    int colours = 0;  // 0 when the terminal has none
    std::vector<std::pair<std::string, Key::Kind>> keys;

    // The description of terminal type `term`, read from the terminfo database; none when the
    // type is unset or unknown. Not thread-safe (terminfo's reader is not).
    //   TerminalCapabilities::load("xterm")->colours == 8
    [[nodiscard]] static std::optional<TerminalCapabilities> load(const char* term);

    [[nodiscard]] bool canAddressCursor() const { return !cursorAddress.empty(); }
    // The bytes that move the cursor to `row`, `column` (from 0).
    [[nodiscard]] std::string moveTo(int row, int column) const;
};

}  // namespace host
