#include "host/tty/TerminalCapabilities.h"

#include <curses.h>
#include <term.h>

namespace host {
namespace {

std::string stringCapability(const char* name) {
    const char* value = tigetstr(name);
    // tigetstr gives (char*)-1 for a name that is not a string capability, null when absent.
    if (value == nullptr || value == reinterpret_cast<const char*>(-1))
        return {};
    return value;
}

}  // namespace

std::optional<TerminalCapabilities> TerminalCapabilities::load(const char* term) {
    if (term == nullptr || *term == '\0')
        return std::nullopt;
    int status = 0;
    // With a status to fill, setupterm reports an unknown type rather than printing and exiting.
    if (setupterm(term, -1, &status) != OK)
        return std::nullopt;

    TerminalCapabilities caps;
    caps.cursorAddress = stringCapability("cup");
    caps.enterScreen = stringCapability("smcup");
    caps.leaveScreen = stringCapability("rmcup");
    caps.hideCursor = stringCapability("civis");
    caps.showCursor = stringCapability("cnorm");
    caps.clearScreen = stringCapability("clear");
    caps.wrapOff = stringCapability("rmam");
    caps.wrapOn = stringCapability("smam");
    caps.keypadOn = stringCapability("smkx");
    caps.keypadOff = stringCapability("rmkx");
    caps.resetRendition = stringCapability("sgr0");
    caps.colours = std::max(tigetnum("colors"), 0);
    using Kind = Key::Kind;
    const std::pair<const char*, Kind> keyNames[] = {
        {"kcuu1", Kind::up},    {"kcud1", Kind::down},   {"kcub1", Kind::left},
        {"kcuf1", Kind::right}, {"khome", Kind::home},   {"kend", Kind::end},
        {"kpp", Kind::pageUp},  {"knp", Kind::pageDown},
    };
    for (const auto& [name, kind] : keyNames) {
        std::string sequence = stringCapability(name);
        // Only escape sequences: a key described as a lone control byte stays that byte.
        if (sequence.size() > 1 && sequence[0] == '\x1b')
            caps.keys.emplace_back(std::move(sequence), kind);
    }
    del_curterm(cur_term);
    return caps;
}

std::string TerminalCapabilities::moveTo(int row, int column) const {
    if (cursorAddress.empty())
        return {};
    const char* bytes = tiparm(cursorAddress.c_str(), row, column);
    return bytes ? bytes : "";
}

}  // namespace host
