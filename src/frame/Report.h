// Report: how every program ends and speaks: the exit statuses they share, a message on
// standard error, a usage error, and --help and --version written so that an output that takes
// less than everything is a failure, never a success.
#pragma once

#include <string>
#include <string_view>

#include "frame/Output.h"

namespace frame {

// The exit statuses every program gives the same meaning; a program adds its own between them.
enum ExitStatus : int {
    kExitCompleted = 0,     // what was asked for was done
    kExitUsage = 2,         // bad usage: nothing was done
    kExitFailed = 3,        // what was asked for failed (each failure named on standard error)
    kExitOutputFailed = 6,  // standard output took less than everything
};

// "program: message" on standard error.
void tell(std::string_view program, const std::string& message);

// tell(), then a pointer to --help; returns kExitUsage.
int usageError(std::string_view program, const std::string& message);

// What --help (`usage`) or --version (the program's name and `version`) prints, with the
// status: kExitCompleted, or kExitOutputFailed (said on standard error) when standard output
// took less than everything.
[[nodiscard]] int printHelpOrVersion(std::string_view program, Output& out, bool help,
                                     std::string_view usage, std::string_view version);

}  // namespace frame
