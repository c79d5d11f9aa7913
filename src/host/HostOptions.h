// The share host's command line.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/Font.h"
#include "platform/foundation/PlatformVersion.h"
#include "platform/ui/TraitCollection.h"

namespace host {

// Exit statuses, as documented in --help and the README.
enum ExitStatus : int {
    kExitCompleted = 0,             // the text was sent: the request completed
    kExitCancelled = 1,             // the person closed the sheet
    kExitUsage = 2,                 // bad usage, or input that cannot be read or is not UTF-8
    kExitFailed = 3,                // the request ended with an error (the text was not saved)
    kExitExtensionUnavailable = 4,  // the extension could not be loaded, or ended nothing
};

enum class Action { none, send, close };

struct HostOptions {
    std::optional<std::string> input;  // a path, or "-" for standard input
    Action action = Action::none;
    bool list = false;
    bool json = false;
    bool controls = false;  // the controls gallery instead of a share
    bool help = false;
    bool version = false;
    platform::UserInterfaceStyle appearance = platform::UserInterfaceStyle::light;
    platform::ContentSizeCategory textSize = platform::ContentSizeCategory::large;
    platform::PlatformVersion platformVersion = platform::PlatformVersion::current();
    std::optional<std::string> bundlePath;
};

struct UsageError {
    std::string message;
};

// Reads the arguments after the program name. Options may be given as "--name value" or
// "--name=value"; "--" ends the options.
[[nodiscard]] std::variant<HostOptions, UsageError> parseHostOptions(
    const std::vector<std::string>& arguments);

// The --help text.
[[nodiscard]] std::string usageText(const std::string& program);

}  // namespace host
