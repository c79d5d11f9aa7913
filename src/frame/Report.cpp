#include "frame/Report.h"

#include <iostream>

namespace frame {

void tell(std::string_view program, const std::string& message) {
    std::cerr << program << ": " << message << "\n" << std::flush;
}

int usageError(std::string_view program, const std::string& message) {
    std::cerr << program << ": " << message << "\nTry '" << program
              << " --help' for more information.\n"
              << std::flush;
    return kExitUsage;
}

int printHelpOrVersion(std::string_view program, Output& out, bool help, std::string_view usage,
                       std::string_view version) {
    if (help)
        out << usage;
    else
        out << program << " " << version << "\n";
    if (out.flush())
        return kExitCompleted;
    tell(program, "cannot write to standard output: " + out.errorText());
    return kExitOutputFailed;
}

}  // namespace frame
