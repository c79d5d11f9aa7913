// Report: what every front-end does once a share has ended (or when only a listing was asked
// for): the outcome and the import folder's listing, in words or as JSON, on the right streams,
// and an output that fails never taken for success. Also what both share programs do around
// their work, on top of the program frame's guard of the standard streams.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/Output.h"
#include "frame/StandardStreams.h"
#include "host/frontend/HostOptions.h"
#include "host/session/ShareSession.h"

namespace host {

// What both share programs do around their work: the standard streams guarded (see
// frame::guardStandardStreams: a closed pipe or a file-size limit is a failed write or save,
// which is reported, and closed streams are held), the ending signals watched so that a
// saved text is always reported (see SaveSignals), and a failure nobody expected (no memory, a
// thread the system refused) ended with a message and a status instead of an abort:
// kExitUsage while `readingInput` is true (nothing was sent), else kExitFailed, saying whether
// a text was saved. `run` learns which standard streams were closed from the start.
[[nodiscard]] int runFrontEnd(std::string_view program, const bool& readingInput,
                              const std::function<int(frame::ClosedStreams closed)>& run);

// The message for a text to be read from standard input when it was closed at the start.
inline constexpr const char* kStandardInputClosed =
    "standard input is closed: there is no text to share; nothing was sent";

// Whether to colour what goes to a descriptor: a terminal, NO_COLOR unset, TERM not "dumb".
[[nodiscard]] bool colourWanted(int fd);

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
[[nodiscard]] int printReport(std::string_view program, frame::Output& out,
                              const HostOptions& options, const std::string& root,
                              const ShareOutcome* outcome, int status);

}  // namespace host
