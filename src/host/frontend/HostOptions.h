// The options both share programs take: the command line's and the share window's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "frame/Report.h"
#include "host/session/ShareSession.h"

namespace host {

// Exit statuses, as documented in --help and the README; those every program shares are the
// program frame's.
enum ExitStatus : int {
    kExitCompleted = frame::kExitCompleted,  // the text was sent: the request completed
    kExitCancelled = 1,                      // the person closed the sheet; nothing was saved
    kExitUsage = frame::kExitUsage,    // bad usage, or input that cannot be read, is not UTF-8
                                       // or is larger than the size cap (nothing written)
    kExitFailed = frame::kExitFailed,  // the share ended with an error (the text was not
                                       // saved), or the import folder could not be listed
    kExitExtensionUnavailable = 4,     // the extension could not be loaded, or ended nothing
    kExitCancelledButSaved = 5,        // closed during a send, and the text was saved all the same
    kExitOutputFailed = frame::kExitOutputFailed,  // what was asked for could not be printed
                                                   // (full disk, closed output): the share
                                                   // itself may have completed
};

// The largest text taken by default: 1 GiB.
inline constexpr std::uint64_t kDefaultMaxInputSize = std::uint64_t(1) << 30;

// Which program is parsing: the terminal's or the desktop window's. They share every option
// but the desktop's own (--clipboard, --selection, --screenshot).
enum class FrontEnd { terminal, desktop };

struct HostOptions {
    std::optional<std::string> input;  // a path, or "-" for standard input
    ShareAction action = ShareAction::none;
    bool list = false;
    bool listNull = false;  // -0/--null: the listing's entries end with NUL, not a line feed
    bool json = false;
    bool controls = false;  // the controls gallery instead of a share
    bool help = false;
    bool version = false;
    SessionSettings settings;
    std::uint64_t maxInputSize = kDefaultMaxInputSize;
    std::optional<std::string> bundlePath;
    // Whether the person chose the appearance and the text size (else the desktop's settings
    // decide, on the desktop).
    bool appearanceGiven = false;
    bool textSizeGiven = false;
    // Desktop only: share the clipboard's text, or the selected text (the primary selection);
    // write the window as drawn to this PNG file.
    bool clipboard = false;
    bool selection = false;
    std::optional<std::string> screenshot;
};

struct UsageError {
    std::string message;
};

// Reads the arguments after the program name. Options may be given as "--name value" or
// "--name=value"; "--" ends the options. Text-size names are taken in any letter case. The
// desktop's own options are unknown to the terminal's program.
[[nodiscard]] std::variant<HostOptions, UsageError> parseHostOptions(
    const std::vector<std::string>& arguments, FrontEnd frontEnd = FrontEnd::terminal);

}  // namespace host
