// quorvane-share: the share sheet on Linux. See usageText() in UsageText.cpp and the README.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "frame/Output.h"
#include "frame/Report.h"
#include "frame/StandardStreams.h"
#include "host/cli/UsageText.h"
#include "host/frontend/HostOptions.h"
#include "host/frontend/InputText.h"
#include "host/frontend/OutcomeReport.h"
#include "host/frontend/Report.h"
#include "host/screens/ControlsGallery.h"
#include "host/screens/SheetScreen.h"
#include "host/session/BundleLocation.h"
#include "host/session/Colour.h"
#include "host/session/Container.h"
#include "host/session/SaveSignals.h"
#include "host/session/ShareSession.h"
#include "host/tty/Terminal.h"
#include "platform/extension/ExtensionBundle.h"
#include "platform/extension/InterfaceFile.h"
#include "platform/foundation/FileManager.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace {

constexpr const char* kProgram = "quorvane-share";

void tell(const std::string& message) {
    frame::tell(kProgram, message);
}

int usageError(const std::string& message) {
    return frame::usageError(kProgram, message);
}

// The terminal for an interactive screen: the controlling terminal, when at least one of the
// standard streams is a terminal. A program run with all three redirected (by a script or a
// test harness) is not watched by a person, and must not take over a terminal it only
// inherited.
std::unique_ptr<host::Terminal> interactiveTerminal(std::string* problem) {
    if (!::isatty(STDIN_FILENO) && !::isatty(STDOUT_FILENO) && !::isatty(STDERR_FILENO)) {
        *problem = "none of the standard streams is a terminal";
        return nullptr;
    }
    return host::Terminal::open(problem);
}

int showControls(const host::HostOptions& options) {
    std::string problem;
    auto terminal = interactiveTerminal(&problem);
    if (!terminal)
        return usageError("--controls needs a terminal (" + problem + ")");
    try {
        platform::ExtensionBundle::load(host::bundlePath(options.bundlePath));
        host::ControlsGallery gallery(*terminal, options.settings.appearance);
        gallery.run();
    } catch (const std::exception& error) {
        terminal.reset();  // gives the terminal back before the message
        tell(error.what());
        return host::kExitExtensionUnavailable;
    }
    return host::kExitCompleted;
}

frame::ClosedStreams closedStreams;

// For the status of a failure nobody expected (no memory, no thread): while the input is read
// it is an input problem, once the share began it is the share's.
bool readingInput = true;

int run(const std::vector<std::string>& arguments) {
    const auto parsed = host::parseHostOptions(arguments);
    if (const auto* problem = std::get_if<host::UsageError>(&parsed))
        return usageError(problem->message);
    host::HostOptions options = std::get<host::HostOptions>(parsed);

    frame::Output out(STDOUT_FILENO);
    if (closedStreams.output)
        out.setFailed(EBADF);
    if (options.help || options.version)
        return frame::printHelpOrVersion(kProgram, out, options.help, host::usageText(kProgram),
                                         QUORVANE_VERSION);
    if (options.controls)
        return showControls(options);
    // A share is asked for by --send, --close or (without them) the sheet; --list alone only
    // lists. Without a FILE the text is standard input, whatever else is asked.
    if (!options.input && (options.action != host::ShareAction::none || !options.list)) {
        if (::isatty(STDIN_FILENO))
            return usageError("no text to share: give a FILE, or - for standard input");
        options.input.emplace("-");  // not = "-": GCC 12 falsely warns (-Wrestrict) about it
    }
    if (options.input == "-" && closedStreams.input) {
        tell(host::kStandardInputClosed);
        return host::kExitUsage;
    }
    // Without --send or --close a person chooses on the sheet, in the terminal.
    std::unique_ptr<host::Terminal> terminal;
    if (options.input && options.action == host::ShareAction::none) {
        std::string noTerminal;
        terminal = interactiveTerminal(&noTerminal);
        if (!terminal)
            return usageError("cannot show the sheet (" + noTerminal +
                              "): say what to do with the text: --send or --close");
    }

    std::string problem;
    const auto root = host::containerRoot(&problem);
    if (!root) {
        tell(problem);
        return host::kExitFailed;
    }
    platform::FileManager::defaultManager().setContainerRoot(*root);

    std::optional<host::ShareOutcome> outcome;
    int status = host::kExitCompleted;
    if (options.input) {
        // A big text or a slow pipe takes a while: the person sees that something is coming.
        if (terminal)
            terminal->showMessage("Loading...");
        auto read = host::readInputText(*options.input, options.maxInputSize);
        if (const auto* refused = std::get_if<host::InputProblem>(&read)) {
            terminal.reset();  // gives the terminal back before the message
            tell(refused->message);
            return host::kExitUsage;
        }
        readingInput = false;
        std::optional<platform::ExtensionBundle> bundle;
        std::optional<host::ShareSession> session;
        try {
            bundle.emplace(platform::ExtensionBundle::load(host::bundlePath(options.bundlePath)));
            session.emplace(*bundle, options.settings);
            session->present(platform::String(std::move(std::get<std::string>(read))));
            if (terminal) {
                host::SheetScreen(*session, *terminal).run();
                terminal.reset();
            } else {
                session->act(options.action);
            }
            outcome = session->outcome();
        } catch (const platform::ExtensionBundleError& error) {
            tell(error.what());
            return host::kExitExtensionUnavailable;
        } catch (const platform::InterfaceFileError& error) {
            tell(error.what());
            return host::kExitExtensionUnavailable;
        } catch (const std::exception& error) {
            // The share cannot go on (no memory, no thread). When the request had already
            // ended, its outcome is still the truth to report.
            terminal.reset();
            if (!session || !session->hasEnded())
                throw;
            tell(std::string("after the share ended: ") + error.what());
            outcome = session->outcome();
        }
        status = host::exitStatusFor(*outcome);
    }

    return host::SaveSignals::answerHeld(
        host::printReport(kProgram, out, options, *root, outcome ? &*outcome : nullptr, status));
}

}  // namespace

int main(int argc, char** argv) {
    return host::runFrontEnd(kProgram, readingInput, [&](frame::ClosedStreams closed) {
        closedStreams = closed;
        return run(std::vector<std::string>(argv + 1, argv + argc));
    });
}
