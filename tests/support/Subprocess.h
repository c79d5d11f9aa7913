// Subprocess: runs a program with arguments, extra environment and standard input, and
// collects its output and exit status. Also starts one to be killed.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace testing_support {

struct ProcessResult {
    int exitStatus = -1;  // -1 when killed by a signal
    int signal = 0;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::map<std::string, std::string> environment;  // added to (or replacing) the inherited one
    std::vector<std::string> unset;                  // removed from the inherited one
    std::optional<std::string> input;                // standard input; /dev/null when none
};

// `options` with `library` preloaded into the program (LD_PRELOAD). AddressSanitizer, which
// wants its runtime loaded first, is told to accept the library before it.
inline ProcessOptions preloading(ProcessOptions options, const std::string& library) {
    options.environment["LD_PRELOAD"] = library;
    options.environment["ASAN_OPTIONS"] = "verify_asan_link_order=0";
    return options;
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {});

// Starts a program with output discarded; returns its process id.
pid_t startProcess(const std::string& program, const std::vector<std::string>& arguments,
                   const ProcessOptions& options = {});
// Waits for a started process; returns its result (no output collected).
ProcessResult waitProcess(pid_t pid);

}  // namespace testing_support
