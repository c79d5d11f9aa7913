#include "host/tty/TerminalCapabilities.h"

#include <curses.h>
#include <term.h>

namespace host {
namespace {

// The bytes without the padding delays ("$<5>", "$<2*/>") a description may ask for: they are
// for hardware terminals at slow line speeds, and mean nothing written to a terminal today.
std::string withoutPadding(std::string_view bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '$' && i + 1 < bytes.size() && bytes[i + 1] == '<') {
            const std::size_t close = bytes.find('>', i + 2);
            const std::string_view inside =
                bytes.substr(i + 2, close == std::string_view::npos ? 0 : close - i - 2);
            if (close != std::string_view::npos && !inside.empty() &&
                inside.find_first_not_of("0123456789.*/") == std::string_view::npos) {
                i = close;
                continue;
            }
        }
        out += bytes[i];
    }
    return out;
}

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
    caps.enterScreen = withoutPadding(stringCapability("smcup"));
    caps.leaveScreen = withoutPadding(stringCapability("rmcup"));
    caps.hideCursor = withoutPadding(stringCapability("civis"));
    caps.showCursor = withoutPadding(stringCapability("cnorm"));
    caps.clearScreen = withoutPadding(stringCapability("clear"));
    caps.wrapOff = withoutPadding(stringCapability("rmam"));
    caps.wrapOn = withoutPadding(stringCapability("smam"));
    caps.keypadOn = withoutPadding(stringCapability("smkx"));
    caps.keypadOff = withoutPadding(stringCapability("rmkx"));
    caps.resetRendition = withoutPadding(stringCapability("sgr0"));
    caps.cursorReport = withoutPadding(stringCapability("u7"));
    caps.colours = std::max(tigetnum("colors"), 0);
    using Kind = Key::Kind;
    const std::pair<const char*, Kind> keyNames[] = {
        {"kcuu1", Kind::up},    {"kcud1", Kind::down},   {"kcub1", Kind::left},
        {"kcuf1", Kind::right}, {"khome", Kind::home},   {"kend", Kind::end},
        {"kpp", Kind::pageUp},  {"knp", Kind::pageDown},
    };
    for (const auto& [name, kind] : keyNames) {
        std::string sequence = withoutPadding(stringCapability(name));
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
    return bytes ? withoutPadding(bytes) : "";
}

}  // namespace host
