// quorvane-share-desktop: the share sheet as a desktop window. See usage() below and the README.
#include <unistd.h>

#include <cerrno>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QTimer>
#include <cstdlib>
#include <iostream>

#include "frame/NoWindowGuard.h"
#include "frame/Output.h"
#include "frame/Report.h"
#include "frame/StandardStreams.h"
#include "frame/WholeFileWrite.h"
#include "host/frontend/HostOptions.h"
#include "host/frontend/InputText.h"
#include "host/frontend/OutcomeReport.h"
#include "host/frontend/Report.h"
#include "host/desktop/ControlsWindow.h"
#include "host/desktop/DesktopIdentity.h"
#include "host/desktop/DesktopTraits.h"
#include "host/desktop/RefusalWindow.h"
#include "host/desktop/ShareWindow.h"
#include "host/session/BundleLocation.h"
#include "host/session/Container.h"
#include "host/session/SaveSignals.h"
#include "host/session/ShareSession.h"
#include "platform/extension/ExtensionBundle.h"
#include "platform/extension/InterfaceFile.h"
#include "platform/foundation/FileManager.h"

#ifndef QUORVANE_VERSION
#define QUORVANE_VERSION "unknown"
#endif

namespace {

using namespace std::chrono_literals;

constexpr const char* kProgram = "quorvane-share-desktop";
// How long the desktop's settings portal may take to answer at start.
constexpr auto kPortalPatience = 500ms;
// How long a failure stays on screen when a script acted (--send) and nobody dismisses it.
constexpr auto kUnattendedFailureShown = 1500ms;
// How long the primary selection's owner (or wl-paste) may take to hand over the text.
constexpr auto kSelectionPatience = 3000ms;
constexpr const char* kExtensionMissing =
    "The teleprompter's share extension could not be loaded, so nothing can be sent. "
    "Installing the quorvane-share package again puts it back.";

void tell(const std::string& message) {
    frame::tell(kProgram, message);
}

int usageError(const std::string& message) {
    return frame::usageError(kProgram, message);
}

std::string usage() {
    return std::string("Usage: ") + kProgram + R"( [OPTIONS] [FILE|-]
       )" + kProgram +
           R"( --controls [--screenshot PNG]

Shows the text of FILE, of standard input ("-"), of the selected text (--selection) or, with
none of these, of the clipboard in a window with the teleprompter's share extension, as a share
sheet would:
  click Send, Ctrl+Return   tap "Send to Teleprompter"
  Escape, click Close, closing the window   tap the close item (the share is cancelled)
  Ctrl+plus, Ctrl+minus, Ctrl+0   zoom the drawing     Up Down PgUp PgDn Home End   scroll

Options:
  --clipboard             share the clipboard's text (the default without FILE)
  --selection             share the selected text (the primary selection: selected, not
                          copied; on Wayland read with wl-paste from wl-clipboard)
  --send, --close         act without a person, once the text is shown
  --appearance MODE       light or dark, in any letter case (default: the desktop's colour
                          scheme, followed live)
  --text-size CATEGORY    xSmall ... AX5, in any letter case (default: from the desktop's
                          text scaling)
  --screenshot PNG        write the window, as drawn, to PNG once the text is shown (with
                          --controls: write it and close); a link, FIFO, device or folder
                          at PNG is refused, and a picture that cannot be written ends the
                          run before any action
  --json, --list, --max-size SIZE   as for quorvane-share (see quorvane-share --help)
  -h, --help, --version
  --                      end of the options: FILE follows, even if it begins with -

Testing the extension:
  --platform-version X.Y, --bundle PATH   as for quorvane-share
  --controls              the extension's coloured toggle and sticky slider in a window
  --appearance unspecified  the extension is given no appearance

Exit status:
  0  the text was sent (--controls: the window was closed)
  1  the share was cancelled by the person; nothing was saved
  2  bad usage, or the input could not be read, is not UTF-8 or is larger than the size cap
  3  the share ended with an error: the text was not saved
  4  the extension could not be loaded
  5  the share was cancelled while the text was being sent, and it was saved all the same
  6  the outcome could not be written to standard output
  130  interrupted (Ctrl+C in the terminal that started it): nothing was sent
)";
}

frame::ClosedStreams closedStreams;
// True while the text is read (from a file, standard input or the clipboard): a failure nobody
// expected then is an input problem.
bool readingInput = false;

// Qt's platform: without a display it would stop the process; say so as a usage error.
bool displayAvailable() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// Writes the window as drawn; false (with a message) when the picture cannot be made or
// written.
bool saveScreenshot(QWidget& window, const std::string& path) {
    QApplication::processEvents();
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !window.grab().save(&buffer, "PNG")) {
        tell("cannot draw the screenshot for '" + path + "'; nothing was done");
        return false;
    }
    if (const std::string problem = frame::writeFileWhole(
            path, std::string_view(png.constData(), static_cast<std::size_t>(png.size())));
        !problem.empty()) {
        tell("cannot write the screenshot '" + path + "': " + problem + "; nothing was done");
        return false;
    }
    return true;
}

int showControls(const host::HostOptions& options) {
    try {
        platform::ExtensionBundle::load(host::bundlePath(options.bundlePath));
        host::desktop::ControlsWindow window(options.settings.appearance);
        window.show();
        // With a screenshot asked for, the picture is what is wanted: the window closes after it.
        if (options.screenshot)
            return saveScreenshot(window, *options.screenshot) ? host::kExitCompleted
                                                               : host::kExitUsage;
        QApplication::exec();
    } catch (const std::exception& error) {
        tell(error.what());
        return host::kExitExtensionUnavailable;
    }
    return host::kExitCompleted;
}

int run(int argc, char** argv) {
    const auto parsed = host::parseHostOptions(std::vector<std::string>(argv + 1, argv + argc),
                                               host::FrontEnd::desktop);
    if (const auto* problem = std::get_if<host::UsageError>(&parsed))
        return usageError(problem->message);
    host::HostOptions options = std::get<host::HostOptions>(parsed);
    frame::Output out(STDOUT_FILENO);
    if (closedStreams.output)
        out.setFailed(EBADF);
    if (options.help || options.version)
        return frame::printHelpOrVersion(kProgram, out, options.help, usage(), QUORVANE_VERSION);
    if (options.screenshot) {
        if (const std::string problem = frame::pathProblem(*options.screenshot); !problem.empty())
            return usageError("cannot write the screenshot to '" + *options.screenshot +
                              "': " + problem);
    }
    if (!displayAvailable())
        return usageError("no display to show the window on (set DISPLAY or WAYLAND_DISPLAY)");

    frame::NoWindowGuard noWindow(kProgram, host::kExitUsage);
    QApplication application(argc, argv);
    noWindow.lower();
    QApplication::setApplicationName(kProgram);
    // The desktop matches the window to its entry (and icon) by this id.
    QGuiApplication::setDesktopFileName(host::desktop::kDesktopEntryId);

    // The person's desktop settings, under what the command line chose.
    host::desktop::DesktopTraits desktop;
    if (!options.appearanceGiven || !options.textSizeGiven)
        desktop.start(kPortalPatience);
    host::desktop::ShareWindow::TraitChoice chosen;
    if (options.appearanceGiven)
        chosen.appearance = options.settings.appearance;
    if (options.textSizeGiven)
        chosen.textSize = options.settings.textSize;
    options.settings.appearance = chosen.appearance.value_or(
        desktop.appearance().value_or(host::desktop::paletteAppearance(QApplication::palette())));
    options.settings.textSize =
        chosen.textSize.value_or(desktop.textSize().value_or(platform::ContentSizeCategory::large));

    if (options.controls)
        return showControls(options);

    // A refusal: told on standard error and, for a person who started the share from the
    // desktop and has no terminal to read it in, in a window, in words for them.
    const bool unattended = options.action != host::ShareAction::none;
    const auto refuse = [&](const std::string& message, const std::string& forPerson, int status) {
        tell(message);
        if (host::desktop::refusalNeedsAWindow(::isatty(STDERR_FILENO) == 1, unattended)) {
            host::desktop::RefusalWindow window(QString::fromStdString(forPerson));
            window.exec();
        }
        return status;
    };

    std::string problem;
    const auto root = host::containerRoot(&problem);
    if (!root)
        return refuse(problem,
                      "The teleprompter's folder cannot be found: this account has no home "
                      "folder.",
                      host::kExitFailed);
    platform::FileManager::defaultManager().setContainerRoot(*root);

    readingInput = true;
    if (options.input == "-" && closedStreams.input) {
        tell(host::kStandardInputClosed);
        return host::kExitUsage;
    }
    auto read =
        options.selection
            ? host::desktop::selectionShareText(
                  host::desktop::readPrimarySelection(kSelectionPatience), options.maxInputSize)
            : host::desktop::readShareText(
                  options.input, options.input ? QString() : QApplication::clipboard()->text(),
                  options.maxInputSize);
    if (const auto* refused = std::get_if<host::desktop::Refusal>(&read))
        return refuse(refused->message, refused->forPerson, host::kExitUsage);
    std::string text = std::move(std::get<std::string>(read));
    readingInput = false;

    std::optional<host::ShareOutcome> outcome;
    try {
        const auto bundle = platform::ExtensionBundle::load(host::bundlePath(options.bundlePath));
        host::ShareSession session(bundle, options.settings);
        session.present(platform::String(std::move(text)));
        host::desktop::ShareWindow window(session);
        window.followDesktop(desktop, chosen);
        window.setFinished([] { QApplication::quit(); });
        if (options.action != host::ShareAction::none)
            window.setUnattended(kUnattendedFailureShown);
        window.show();
        if (options.screenshot && !saveScreenshot(window, *options.screenshot))
            return host::kExitUsage;  // before anything was acted on
        if (options.action != host::ShareAction::none)
            QTimer::singleShot(0, &window, [&] { window.tap(options.action); });
        if (!window.hasFinished())
            QApplication::exec();
        outcome = session.outcome();
    } catch (const platform::ExtensionBundleError& error) {
        return refuse(error.what(), kExtensionMissing, host::kExitExtensionUnavailable);
    } catch (const platform::InterfaceFileError& error) {
        return refuse(error.what(), kExtensionMissing, host::kExitExtensionUnavailable);
    }
    return host::SaveSignals::answerHeld(
        host::printReport(kProgram, out, options, *root, &*outcome, host::exitStatusFor(*outcome)));
}

}  // namespace

int main(int argc, char** argv) {
    return host::runFrontEnd(kProgram, readingInput, [&](frame::ClosedStreams closed) {
        closedStreams = closed;
        return run(argc, argv);
    });
}
