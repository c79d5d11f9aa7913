// Report: what every front-end does once a share has ended (or when only a listing was asked
// for): the outcome and the import folder's listing, in words or as JSON, on the right streams,
// and an output that fails never taken for success. Also the guard against closed standard
// streams that both programs set up first.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/cli/HostOptions.h"
#include "host/cli/Output.h"
#include "host/session/ShareSession.h"

namespace host {

// "program: message" on standard error.
void tell(std::string_view program, const std::string& message);

// tell(), then a pointer to --help; returns the usage status.
int usageError(std::string_view program, const std::string& message);

// Which standard streams were closed when the program started.
struct ClosedStreams {
    bool input = false;   // standard input: never read as a text (it holds /dev/null)
    bool output = false;  // standard output: counts as an output that failed
};

// A standard stream closed by whoever started the program would hand its number to the next
// file opened, and output meant for it would land there (in a text being saved, say). Each
// closed one is held on /dev/null instead; which ones were closed is returned.
[[nodiscard]] ClosedStreams holdClosedStandardStreams();

// What both programs do around their work: SIGPIPE and SIGXFSZ ignored (a closed pipe shows up
// as a failed write, which is reported, and a file-size limit as a failed save, not as a death
// halfway), closed standard streams held (see above), the ending signals watched so that a
// saved text is always reported (see SaveSignals), and a failure nobody expected (no memory, a
// thread the system refused) ended with a message and a status instead of an abort:
// kExitUsage while `readingInput` is true (nothing was sent), else kExitFailed, saying whether
// a text was saved. `run` learns which standard streams were closed from the start.
[[nodiscard]] int runFrontEnd(std::string_view program, const bool& readingInput,
                              const std::function<int(ClosedStreams closed)>& run);

// The message for a text to be read from standard input when it was closed at the start.
inline constexpr const char* kStandardInputClosed =
    "standard input is closed: there is no text to share; nothing was sent";

// Whether to colour what goes to a descriptor: a terminal, NO_COLOR unset, TERM not "dumb".
[[nodiscard]] bool colourWanted(int fd);

// What --help (`usage`) or --version (the program's name and `version`) prints, with the
// status: kExitCompleted, or kExitOutputFailed when standard output took less than everything.
[[nodiscard]] int printHelpOrVersion(std::string_view program, Output& out, bool help,
                                     std::string_view usage, std::string_view version);

// For a person at a terminal after a send: where the text went (the import folder under
// `root`) and, when `withHowToTakeThemOut`, how to take texts out of it with quorvane-receive.
// printReport shows the second once per user.
[[nodiscard]] std::string whereTextsGo(const std::string& root, bool withHowToTakeThemOut);

// Prints what `options` asked for after a share (`outcome`, none for a listing alone): the
// listing of the import folder under `root` when --list was given, the outcome in words (the
// saved path on standard output, what happened on standard error) or as JSON.
// After a send that saved a text, when standard error is a terminal, whereTextsGo() goes there.
// Returns the exit status: `status` as the share set it, kExitFailed when the listing could
// not be made, kExitOutputFailed (with a message saying what the share did) when standard
// output took less than everything.
[[nodiscard]] int printReport(std::string_view program, Output& out, const HostOptions& options,
                              const std::string& root, const ShareOutcome* outcome, int status);

}  // namespace host
