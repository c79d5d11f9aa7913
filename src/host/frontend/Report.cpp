#include "host/frontend/Report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <new>
#include <system_error>

#include "frame/Report.h"
#include "host/frontend/ListingFormat.h"
#include "host/frontend/OutcomeReport.h"
#include "host/session/Colour.h"
#include "host/session/Container.h"
#include "host/session/SaveSignals.h"
#include "platform/foundation/FileManager.h"

namespace host {
namespace {

// What was printed could not be: say so on standard error, with what the share did, since a
// script that reads nothing must still learn that a text was saved.
int outputFailed(std::string_view program, const frame::Output& out, const ShareOutcome* outcome) {
    std::string message = "cannot write to standard output: " + out.errorText();
    if (outcome && !outcome->newFiles.empty()) {
        message += outcome->kind == ShareOutcome::Kind::completed
                       ? "; the text was sent all the same, as "
                       : "; the share was cancelled, but the text was saved as ";
        message += outcome->newFiles.front().path();
    } else if (outcome && outcome->kind == ShareOutcome::Kind::cancelled) {
        message += "; the share was cancelled";
    } else if (outcome && outcome->kind == ShareOutcome::Kind::failed) {
        message += "; the text was not sent";
    }
    frame::tell(program, message);
    return kExitOutputFailed;
}

// The mark, under the user's state folder, that the way to take texts out was shown once.
constexpr const char* kReceiveHintMark = "receive-hint-shown";

// True the first time it is asked for `mark` for this user; remembered in a small file under
// $XDG_STATE_HOME/quorvane (else ~/.local/state/quorvane). A mark that cannot be read or made
// counts as new each time: it never fails what asked.
bool rememberedOnce(const char* mark) {
    std::string folder;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        folder = std::string(state) + "/quorvane";
    else if (const char* home = std::getenv("HOME"); home && *home == '/')
        folder = std::string(home) + "/.local/state/quorvane";
    else
        return true;
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        (void)::mkdir(folder.substr(0, slash).c_str(), 0700);
        if (slash == std::string::npos)
            break;
    }
    const std::string path = folder + "/" + mark;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno != EEXIST;
}

}  // namespace

std::string whereTextsGo(const std::string& root, bool withHowToTakeThemOut) {
    std::string words =
        "The text waits in the teleprompter's import folder, " + importFolderPath(root) + ".\n";
    if (withHowToTakeThemOut) {
        words +=
            "To take texts out of it: quorvane-receive --to DIR (add --watch to keep taking "
            "them), --exec CMD to hand each to a command, --print to print them, --list to see "
            "them.\n";
    }
    return words;
}

int runFrontEnd(std::string_view program, const bool& readingInput,
                const std::function<int(frame::ClosedStreams closed)>& run) {
    const frame::ClosedStreams closed = frame::guardStandardStreams();
    // Before any other thread exists, so that every thread inherits the watch.
    SaveSignals::start();
    std::string failure;
    try {
        return run(closed);
    } catch (const std::bad_alloc&) {
        failure = "not enough memory";
    } catch (const std::system_error& error) {
        failure = std::string("the system refused (") + error.what() + ")";
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (readingInput) {
        frame::tell(program, failure + " while reading the text; nothing was sent");
        return kExitUsage;
    }
    const auto saved = platform::FileManager::defaultManager().createdItems();
    frame::tell(program, "the share could not go on: " + failure +
                             (saved.empty() ? "; nothing was sent"
                                            : "; the text was saved as " + saved.front().path()));
    return SaveSignals::answerHeld(kExitFailed);
}

bool colourWanted(int fd) {
    const char* term = std::getenv("TERM");
    return ::isatty(fd) && colourAllowedByEnvironment(std::getenv("NO_COLOR")) &&
           !(term && std::string_view(term) == "dumb");
}

int printReport(std::string_view program, frame::Output& out, const HostOptions& options,
                const std::string& root, const ShareOutcome* outcome, int status) {
    std::optional<std::vector<std::string>> listing;
    if (options.list) {
        auto listed = listImportFolder(root);
        if (const auto* error = std::get_if<platform::PlatformError>(&listed)) {
            frame::tell(program, error->localizedDescription());
            if (!outcome)
                return kExitFailed;
            status = status == kExitCompleted ? kExitFailed : status;
        } else {
            listing = std::move(std::get<std::vector<std::string>>(listed));
        }
    }
    if (options.json) {
        writeOutcomeJson(out, outcome, listing ? &*listing : nullptr,
                         ::isatty(STDOUT_FILENO) ? JsonTarget::terminal : JsonTarget::file);
    } else {
        if (outcome) {
            const auto words = outcomeWords(*outcome, colourWanted(STDERR_FILENO));
            if (!words.err.empty())
                std::cerr << words.err << std::flush;
            out << words.out;
        }
        if (listing) {
            const auto format = options.listNull          ? ListingFormat::nulSeparated
                                : ::isatty(STDOUT_FILENO) ? ListingFormat::forTerminal
                                                          : ListingFormat::lines;
            for (const std::string& path : *listing)
                writeListingEntry(out, path, format);
        }
    }
    if (!out.flush())
        return outputFailed(program, out, outcome);
    if (outcome && !outcome->newFiles.empty() && ::isatty(STDERR_FILENO))
        std::cerr << whereTextsGo(root, rememberedOnce(kReceiveHintMark)) << std::flush;
    return status;
}

}  // namespace host
