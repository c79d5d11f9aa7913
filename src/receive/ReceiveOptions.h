// ReceiveOptions: what a command line of quorvane-receive asks for.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace receive {

// Exit statuses, the same numbers as the share sheet's where they mean the same.
enum ExitStatus {
    kExitCompleted = 0,     // everything waiting was handed over, or nothing waited
    kExitUsage = 2,         // bad usage
    kExitFailed = 3,        // one or more texts could not be handed over (each named)
    kExitOutputFailed = 6,  // standard output took less than everything
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
