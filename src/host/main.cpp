// quorvane-share: the share sheet on Linux. See usageText() in HostOptions.cpp and the README.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "host/ControlsGallery.h"
#include "host/HostOptions.h"
#include "host/InputText.h"
#include "host/OutcomeReport.h"
#include "host/ShareSession.h"
#include "host/SheetScreen.h"
#include "host/Terminal.h"
#include "platform/extension/ExtensionBundle.h"
#include "platform/extension/InterfaceFile.h"
#include "platform/foundation/FileManager.h"
#include "storage/ImportFolder.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace {

constexpr const char* kProgram = "quorvane-share";
constexpr const char* kBundleName = "QuorvaneShareExt.appex";

int usageError(const std::string& message) {
    std::cerr << kProgram << ": " << message << "\nTry '" << kProgram
              << " --help' for more information.\n";
    return host::kExitUsage;
}

// The bundle named on the command line, else QUORVANE_EXTENSION_BUNDLE, else the one installed
// beside this program (build tree: <build>/QuorvaneShareExt.appex; installed:
// <prefix>/lib/quorvane/...).
std::string bundlePath(const host::HostOptions& options) {
    if (options.bundlePath)
        return *options.bundlePath;
    if (const char* path = std::getenv("QUORVANE_EXTENSION_BUNDLE"); path && *path)
        return path;
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    const auto base = error ? std::filesystem::path(".") : program.parent_path().parent_path();
    for (const auto& candidate : {base / kBundleName, base / "lib" / "quorvane" / kBundleName}) {
        if (std::filesystem::exists(candidate / "Info.json", error))
            return candidate.string();
    }
    return (base / kBundleName).string();
}

bool colourWanted() {
    const char* noColour = std::getenv("NO_COLOR");
    const char* term = std::getenv("TERM");
    return ::isatty(STDOUT_FILENO) && !(noColour && *noColour) &&
           !(term && std::string(term) == "dumb");
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
        platform::ExtensionBundle::load(bundlePath(options));
        host::ControlsGallery gallery(*terminal, options.appearance);
        gallery.run();
    } catch (const std::exception& error) {
        terminal.reset();  // gives the terminal back before the message
        std::cerr << kProgram << ": " << error.what() << "\n";
        return host::kExitExtensionUnavailable;
    }
    return host::kExitCompleted;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto parsed = host::parseHostOptions(arguments);
    if (const auto* problem = std::get_if<host::UsageError>(&parsed))
        return usageError(problem->message);
    host::HostOptions options = std::get<host::HostOptions>(parsed);

    if (options.help) {
        std::cout << host::usageText(kProgram);
        return host::kExitCompleted;
    }
    if (options.version) {
        std::cout << kProgram << " " << QUORVANE_VERSION << "\n";
        return host::kExitCompleted;
    }
    if (options.controls)
        return showControls(options);
    if (!options.input && !options.list) {
        if (::isatty(STDIN_FILENO))
            return usageError("no text to share: give a FILE, or - for standard input");
        options.input = "-";
    }
    // Without --send or --close a person chooses on the sheet, in the terminal.
    std::unique_ptr<host::Terminal> terminal;
    if (options.input && options.action == host::Action::none) {
        std::string noTerminal;
        terminal = interactiveTerminal(&noTerminal);
        if (!terminal)
            return usageError("say what to do with the text: --send or --close");
    }

    std::string problem;
    const auto root = host::containerRoot(&problem);
    if (!root)
        return usageError(problem);
    platform::FileManager::defaultManager().setContainerRoot(*root);

    nlohmann::json report = nlohmann::json::object();
    int status = host::kExitCompleted;
    if (options.input) {
        auto text = host::readInput(*options.input, &problem);
        if (!text)
            return usageError(problem);
        if (const auto bad = host::firstInvalidUtf8(*text)) {
            const std::string shown =
                *options.input == "-" ? "standard input" : "'" + *options.input + "'";
            return usageError(shown + " is not UTF-8 text (invalid byte at offset " +
                              std::to_string(*bad) + "); nothing was sent");
        }
        try {
            const auto bundle = platform::ExtensionBundle::load(bundlePath(options));
            host::ShareSession session(bundle, options);
            session.present(platform::String(std::move(*text)));
            if (terminal) {
                host::SheetScreen(session, *terminal).run();
                terminal.reset();
            } else {
                session.act(options.action);
            }
            const host::ShareOutcome outcome = session.outcome();
            status = host::exitStatusFor(outcome);
            if (options.json) {
                report = host::outcomeJson(outcome);
            } else {
                std::cout << host::outcomeWords(outcome, colourWanted()) << "\n";
            }
        } catch (const platform::ExtensionBundleError& error) {
            std::cerr << kProgram << ": " << error.what() << "\n";
            return host::kExitExtensionUnavailable;
        } catch (const platform::InterfaceFileError& error) {
            std::cerr << kProgram << ": " << error.what() << "\n";
            return host::kExitExtensionUnavailable;
        }
    } else {
        // Listing alone: the host reads the folder as the main application, a member of the group.
        platform::FileManager::defaultManager().setReachableGroups(
            {quorvane::kApplicationGroupIdentifier});
    }

    if (options.list) {
        const auto entries = host::importFolderEntries();
        if (options.json) {
            nlohmann::json paths = nlohmann::json::array();
            for (const auto& url : entries)
                paths.push_back(url.path());
            report["importFolder"] = paths;
        } else {
            for (const auto& url : entries)
                std::cout << url.path() << "\n";
        }
    }
    if (options.json)
        std::cout << report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    std::cout.flush();
    return status;
}
