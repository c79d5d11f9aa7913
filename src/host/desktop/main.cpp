// quorvane-share-desktop: the share sheet as a desktop window. See the README.
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "host/HostOptions.h"
#include "host/InputText.h"
#include "host/OutcomeReport.h"
#include "host/ShareSession.h"
#include "host/desktop/ControlsWindow.h"
#include "host/desktop/DesktopTraits.h"
#include "host/desktop/ShareWindow.h"
#include "platform/extension/ExtensionBundle.h"
#include "platform/extension/InterfaceFile.h"
#include "platform/foundation/FileManager.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace {

using namespace std::chrono_literals;

constexpr const char* kProgram = "quorvane-share-desktop";
constexpr const char* kBundleName = "QuorvaneShareExt.appex";
// How long the desktop's settings portal may take to answer at start.
constexpr auto kPortalPatience = 500ms;
// How long a failure stays on screen when a script acted (--send) and nobody dismisses it.
constexpr auto kUnattendedFailureShown = 1500ms;

struct DesktopOptions {
    bool clipboard = false;
    std::optional<std::string> screenshot;
    bool appearanceChosen = false;
    bool textSizeChosen = false;
};

int usageError(const std::string& message) {
    std::cerr << kProgram << ": " << message << "\nTry '" << kProgram
              << " --help' for more information.\n";
    return host::kExitUsage;
}

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

// Qt's platform: without a display it would stop the process; say so as a usage error.
bool displayAvailable() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// Writes the window as drawn; false (with a message) when the file cannot be written.
bool saveScreenshot(QWidget& window, const std::string& path) {
    QApplication::processEvents();
    if (window.grab().save(QString::fromStdString(path), "PNG"))
        return true;
    std::cerr << kProgram << ": cannot write the screenshot '" << path << "'\n";
    return false;
}

int showControls(const host::HostOptions& options, const DesktopOptions& desktop) {
    try {
        platform::ExtensionBundle::load(bundlePath(options));
        host::desktop::ControlsWindow window(options.appearance);
        window.show();
        // With a screenshot asked for, the picture is what is wanted: the window closes after it.
        if (desktop.screenshot)
            return saveScreenshot(window, *desktop.screenshot) ? host::kExitCompleted
                                                               : host::kExitUsage;
        QApplication::exec();
    } catch (const std::exception& error) {
        std::cerr << kProgram << ": " << error.what() << "\n";
        return host::kExitExtensionUnavailable;
    }
    return host::kExitCompleted;
}

}  // namespace

int main(int argc, char** argv) {
    // The desktop's own options; the rest are the share host's.
    DesktopOptions desktop;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--") {
            arguments.insert(arguments.end(), argv + i, argv + argc);
            break;
        }
        if (argument == "--clipboard") {
            desktop.clipboard = true;
        } else if (argument == "--screenshot" || argument.rfind("--screenshot=", 0) == 0) {
            if (argument == "--screenshot") {
                if (i + 1 >= argc)
                    return usageError("--screenshot needs a PNG file name");
                desktop.screenshot = argv[++i];
            } else {
                desktop.screenshot = argument.substr(std::string("--screenshot=").size());
            }
        } else {
            desktop.appearanceChosen |= argument.rfind("--appearance", 0) == 0;
            desktop.textSizeChosen |= argument.rfind("--text-size", 0) == 0;
            arguments.push_back(argument);
        }
    }
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
    if (desktop.clipboard && options.input)
        return usageError("give a FILE (or -) or --clipboard, not both");
    if (!displayAvailable())
        return usageError(
            "no display to show the window on (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM)");

    QApplication application(argc, argv);
    QApplication::setApplicationName(kProgram);
    QApplication::setApplicationDisplayName(QStringLiteral("Teleprompter"));

    // The person's desktop settings, under what the command line chose.
    host::desktop::DesktopTraits traits;
    if (!desktop.appearanceChosen || !desktop.textSizeChosen)
        traits.start(kPortalPatience);
    host::desktop::ShareWindow::TraitChoice chosen;
    if (desktop.appearanceChosen)
        chosen.appearance = options.appearance;
    if (desktop.textSizeChosen)
        chosen.textSize = options.textSize;
    options.appearance = chosen.appearance.value_or(
        traits.appearance().value_or(host::desktop::paletteAppearance(QApplication::palette())));
    options.textSize =
        chosen.textSize.value_or(traits.textSize().value_or(platform::ContentSizeCategory::large));

    if (options.controls)
        return showControls(options, desktop);

    std::string problem;
    const auto root = host::containerRoot(&problem);
    if (!root)
        return usageError(problem);
    platform::FileManager::defaultManager().setContainerRoot(*root);

    std::string text;
    if (options.input) {
        auto read = host::readInput(*options.input, &problem);
        if (!read)
            return usageError(problem);
        if (const auto bad = host::firstInvalidUtf8(*read)) {
            const std::string shown =
                *options.input == "-" ? "standard input" : "'" + *options.input + "'";
            return usageError(shown + " is not UTF-8 text (invalid byte at offset " +
                              std::to_string(*bad) + "); nothing was sent");
        }
        text = std::move(*read);
    } else {
        const QString clipboard = QApplication::clipboard()->text();
        if (clipboard.isEmpty())
            return usageError("the clipboard holds no text: give a FILE, or - for standard input");
        text = clipboard.toStdString();
    }

    try {
        const auto bundle = platform::ExtensionBundle::load(bundlePath(options));
        host::ShareSession session(bundle, options);
        session.present(platform::String(std::move(text)));
        host::desktop::ShareWindow window(session);
        window.followDesktop(traits, chosen);
        window.setFinished([] { QApplication::quit(); });
        if (options.action != host::Action::none)
            window.setUnattended(kUnattendedFailureShown);
        window.show();
        if (desktop.screenshot && !saveScreenshot(window, *desktop.screenshot))
            return host::kExitUsage;
        if (options.action != host::Action::none)
            QTimer::singleShot(0, &window, [&] { window.tap(options.action); });
        if (!window.hasFinished())
            QApplication::exec();

        const host::ShareOutcome outcome = session.outcome();
        if (options.json) {
            nlohmann::json report = host::outcomeJson(outcome);
            if (options.list) {
                nlohmann::json paths = nlohmann::json::array();
                for (const auto& url : host::importFolderEntries())
                    paths.push_back(url.path());
                report["importFolder"] = paths;
            }
            std::cout << report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                      << "\n";
        } else {
            std::cout << host::outcomeWords(outcome, false) << "\n";
            if (options.list) {
                for (const auto& url : host::importFolderEntries())
                    std::cout << url.path() << "\n";
            }
        }
        std::cout.flush();
        if (!std::cout)
            return host::kExitFailed;
        return host::exitStatusFor(outcome);
    } catch (const platform::ExtensionBundleError& error) {
        std::cerr << kProgram << ": " << error.what() << "\n";
        return host::kExitExtensionUnavailable;
    } catch (const platform::InterfaceFileError& error) {
        std::cerr << kProgram << ": " << error.what() << "\n";
        return host::kExitExtensionUnavailable;
    }
}
