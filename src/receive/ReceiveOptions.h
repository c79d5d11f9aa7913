// ReceiveOptions: what a command line of quorvane-receive asks for.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "frame/Report.h"

namespace receive {

// Exit statuses: the program frame's, which the share sheet gives the same meaning.
enum ExitStatus {
    kExitCompleted = frame::kExitCompleted,  // everything waiting was handed over, or none waited
    kExitUsage = frame::kExitUsage,          // bad usage
    kExitFailed = frame::kExitFailed,  // one or more texts could not be handed over (each named)
    kExitOutputFailed = frame::kExitOutputFailed,  // standard output took less than everything
};

enum class Mode { none, to, exec, print, list };

struct ReceiveOptions {
    Mode mode = Mode::none;
    std::string folder;   // --to
    std::string command;  // --exec
    bool watch = false;
    bool json = false;
    bool nul = false;  // -0
    bool help = false;
    bool version = false;
};

struct UsageError {
    std::string message;
};

[[nodiscard]] std::variant<ReceiveOptions, UsageError> parseReceiveOptions(
    const std::vector<std::string>& arguments);

[[nodiscard]] std::string receiveUsageText();

}  // namespace receive
