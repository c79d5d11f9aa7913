// quorvane-prompter: the teleprompter. Lists the scripts sent from the share sheet and prompts
// one; see PrompterOptions.h for the command line.
//
// Exit statuses: 0 done (and after --screenshot, the picture written); 1 a failure (a screenshot
// or a script that could not be read with --screenshot); 2 bad usage.
#include <unistd.h>

#include <QApplication>
#include <QBuffer>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "frame/NoWindowGuard.h"
#include "frame/Output.h"
#include "frame/Report.h"
#include "frame/StandardStreams.h"
#include "handover/ContainerLocation.h"
#include "prompter/PromptView.h"
#include "prompter/PrompterOptions.h"
#include "prompter/PrompterWindow.h"
#include "prompter/ReaderIntake.h"
#include "prompter/ScriptFile.h"
#include "prompter/ScriptLibrary.h"
#include "prompter/WholeFile.h"
#include "prompter/operator/OperatorMode.h"
#include "prompter/remote/PromptRemote.h"
#include "prompter/remote/RemoteFollower.h"
#include "prompter/remote/RemoteSession.h"
#include "prompter/remote/RemoteSettings.h"
#include "prompter/remote/RemoteSwitch.h"
#if QUORVANE_VOICE
#include "prompter/voice/VoiceMode.h"
#endif

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Whether Qt has somewhere to draw: a platform named, or an X or Wayland display.
bool hasDisplay(int argc, char** argv) {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    return false;
}

// Writes the window as drawn to `path` whole (see WholeFile); false with a message otherwise.
bool saveScreenshot(QWidget& window, const QString& path) {
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !window.grab().save(&buffer, "PNG")) {
        std::fprintf(stderr, "quorvane-prompter: cannot draw the screenshot for %s\n",
                     path.toLocal8Bit().constData());
        return false;
    }
    if (const QString problem = prompter::WholeFile::write(path, png); !problem.isEmpty()) {
        std::fprintf(stderr, "quorvane-prompter: cannot write the screenshot %s: %s\n",
                     path.toLocal8Bit().constData(), problem.toLocal8Bit().constData());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Before anything opens a file (Qt's display connection, the settings): a closed standard
    // stream is held on /dev/null, so nothing meant for it lands in another file.
    const frame::ClosedStreams closed = frame::guardStandardStreams();
    // The help, the version and a usage error need no display: without one, they are given
    // through Qt's headless platform rather than failing to start.
    if (!hasDisplay(argc, argv)) {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        if (prompter::PrompterOptions::parse(arguments).action !=
            prompter::PrompterOptions::Action::run)
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    // A script to prompt at once is read while Qt starts and the window is made
    // (ScriptFile::readAhead). A big one is not: its start is read when it is shown and the
    // rest behind the first frame, which would otherwise share the processors with that read.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        const auto early = prompter::PrompterOptions::parse(arguments);
        if (early.action == prompter::PrompterOptions::Action::run && early.prompt)
            prompter::ScriptFile::readAhead(*early.prompt, prompter::PromptView::kIndexedAtOnce);
    }
    frame::NoWindowGuard noWindow("quorvane-prompter", kExitUsage);
    QApplication application(argc, argv);
    noWindow.lower();
    QApplication::setApplicationName(QStringLiteral("quorvane-prompter"));
    QApplication::setApplicationVersion(QStringLiteral(QUORVANE_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("app.quorvane.teleprompter"));

    const prompter::PrompterOptions options =
        prompter::PrompterOptions::parse(QApplication::arguments());
    switch (options.action) {
        case prompter::PrompterOptions::Action::help:
        case prompter::PrompterOptions::Action::version: {
            frame::Output out(STDOUT_FILENO, closed.output);
            const bool help = options.action == prompter::PrompterOptions::Action::help;
            return frame::printHelpOrVersion("quorvane-prompter", out, help,
                                             options.help.toLocal8Bit().toStdString(),
                                             QUORVANE_VERSION) == frame::kExitCompleted
                       ? kExitDone
                       : kExitFailed;
        }
        case prompter::PrompterOptions::Action::usageError:
            std::fprintf(stderr, "quorvane-prompter: %s\nTry 'quorvane-prompter --help'.\n",
                         options.error.toLocal8Bit().constData());
            return kExitUsage;
        case prompter::PrompterOptions::Action::run:
            break;
    }

    // A picture is never written through a link, into a FIFO, a device or a folder: refused
    // before anything is shown.
    if (options.screenshot) {
        if (const QString problem = prompter::WholeFile::pathProblem(*options.screenshot);
            !problem.isEmpty()) {
            std::fprintf(stderr, "quorvane-prompter: cannot write the screenshot to %s: %s\n",
                         options.screenshot->toLocal8Bit().constData(),
                         problem.toLocal8Bit().constData());
            return kExitFailed;
        }
    }

    if (options.resetSettings && !prompter::PrompterSettings::reset())
        std::fprintf(stderr, "quorvane-prompter: cannot remove %s\n",
                     prompter::PrompterSettings::filePath().toLocal8Bit().constData());
    const prompter::PrompterSettings saved = prompter::PrompterSettings::load();

    // The remote's listening address is read before anything shows, so a mistake is a usage error.
    std::optional<prompter::remote::ListenAddress> remoteAddress;
    if (options.remote) {
        QString problem;
        remoteAddress = prompter::remote::readListenAddress(*options.remote, &problem);
        if (!remoteAddress) {
            std::fprintf(stderr, "quorvane-prompter: %s\nTry 'quorvane-prompter --help'.\n",
                         problem.toLocal8Bit().constData());
            return kExitUsage;
        }
    }

    std::optional<QUrl> leader;
    if (options.follow) {
        QString problem;
        leader = prompter::remote::RemoteFollower::socketAddress(*options.follow, &problem);
        if (!leader) {
            std::fprintf(stderr, "quorvane-prompter: %s\nTry 'quorvane-prompter --help'.\n",
                         problem.toLocal8Bit().constData());
            return kExitUsage;
        }
    }

    prompter::ScriptLibrary library(saved.libraryFolder.isEmpty()
                                        ? prompter::ScriptLibrary::defaultFolder()
                                        : saved.libraryFolder);
    std::string problem;
    const std::optional<std::string> containerRoot = handover::containerRoot(&problem);
    std::unique_ptr<prompter::ScriptIntake> intake;
    if (containerRoot)
        intake = std::make_unique<prompter::ReaderIntake>(*containerRoot, library.folder());
    else
        intake = std::make_unique<prompter::NoScriptIntake>();
    const auto clock = std::make_shared<prompter::SteadyPromptClock>();
    prompter::PrompterWindow window(library, *intake, options.applied(saved), saved,
                                    options.window || options.screenshot
                                        ? prompter::Presentation::window
                                        : prompter::Presentation::fullScreen,
                                    clock);
    // The one way commands reach the prompt: the operator's window and the remote both use it.
    prompter::remote::PromptRemote control(window, library, clock);
    // The operator's window, on a screen of its own while another shows the prompt.
    prompter::operate::OperatorMode operatorMode(window, control, library);
    if (!containerRoot)
        window.library()->showMessage(
            QStringLiteral("Sent texts cannot be found: %1").arg(QString::fromStdString(problem)));
    // The receiver's user unit delivers into the folder the library shows: the one the settings
    // name at this start (a folder chosen while running is used from the next start, by both).
    if (const QString failure = saved.syncReceiver(); !failure.isEmpty())
        window.library()->showMessage(
            QStringLiteral("The receiver cannot be told the library's folder in %1: %2")
                .arg(prompter::PrompterSettings::receiverFilePath(), failure));
    if (const auto failure = library.ensureFolder()) {
        window.library()->showMessage(*failure);
    } else {
        // The scripts of the folder older versions kept move in, once (it is empty after).
        QStringList problems;
        const int moved = library.moveIn(prompter::ScriptLibrary::oldFolder(), &problems);
        if (!problems.isEmpty())
            window.library()->showMessage(problems.join(QLatin1Char('\n')));
        else if (moved > 0)
            window.library()->showMessage(
                QStringLiteral("%1 %2 moved into %3 from %4, where they were kept before.")
                    .arg(moved)
                    .arg(moved == 1 ? QStringLiteral("script") : QStringLiteral("scripts"))
                    .arg(library.folder(), prompter::ScriptLibrary::oldFolder()));
        // Texts waiting are taken before the first frame, so the first picture shows them.
        intake->takeWaiting();
        intake->startWatching();
    }
    library.refresh();

    // Voice-following: the F key in every prompt, on from the start with --follow-voice.
#if QUORVANE_VOICE
    // The microphone and the model are the saved settings' unless the command line names them;
    // the settings window changes them while the program runs.
    const prompter::PrompterSettings started = options.applied(saved);
    prompter::voice::VoiceMode voice(
        window.promptView(),
        {options.audioFile.value_or(QString()), started.microphone, started.voiceModel,
         options.positions.value_or(QString()),
         options.positions && options.audioFile ? options.screenshot.value_or(QString())
                                                : QString()});
    window.setMicrophones([] { return prompter::voice::MicrophoneFeed::names(); });
    QObject::connect(&window, &prompter::PrompterWindow::settingsChanged, &voice,
                     [&voice](const prompter::PrompterSettings& settings) {
                         voice.setVoice(settings.microphone, settings.voiceModel);
                     });
    // "Follow my voice" on: each prompt follows the voice from its start.
    QObject::connect(window.promptView(), &prompter::PromptView::scriptShown, &voice,
                     [&voice, &window] {
                         if (window.promptView()->settings().followVoice)
                             voice.setFollowing(true);
                     });
    // Queued: a run may end (a recording that cannot be read) before the event loop starts.
    QObject::connect(
        &voice, &prompter::voice::VoiceMode::done, &application,
        [](int status) { QApplication::exit(status); }, Qt::QueuedConnection);
#else
    if (options.followVoice || options.microphone || options.voiceModel) {
        std::fputs(
            "quorvane-prompter: this build cannot follow a voice (it was built without "
            "PocketSphinx or Qt Multimedia)\n",
            stderr);
        return kExitFailed;
    }
#endif

    const bool traced = options.positions && options.audioFile;  // a run that ends by itself
    const auto motion =
        options.screenshot && !traced ? prompter::Motion::still : prompter::Motion::counted;
    bool prompting = false;
    if (options.prompt)
        prompting = window.prompt(*options.prompt, 0, motion);
    prompter::ScriptFile::forgetReadAhead();  // what the prompt did not take
#if QUORVANE_VOICE
    if (prompting) {
        if (started.followVoice)
            voice.setFollowing(true);
    } else if (options.positions) {
        std::fprintf(stderr, "quorvane-prompter: %s\n",
                     window.library()->message().toLocal8Bit().constData());
        return kExitFailed;
    }
#endif
    if (options.prompt && !prompting)
        std::fprintf(stderr, "quorvane-prompter: %s\n",
                     window.library()->message().toLocal8Bit().constData());
    if (prompting)
        control.noteScript(*options.prompt);
#if QUORVANE_VOICE
    control.setFollowingVoice([&voice] { return voice.isFollowing(); });
#endif
    // Following another prompter (--follow): its script, its place.
    std::unique_ptr<prompter::remote::RemoteFollower> follower;
    if (leader) {
        follower = std::make_unique<prompter::remote::RemoteFollower>(window, *leader);
        control.setFollowing([&follower] { return follower->isConnected(); });
        QObject::connect(follower.get(), &prompter::remote::RemoteFollower::prompting, &control,
                         &prompter::remote::PromptRemote::noteScript);
        follower->start();
    }
    // The remote: nothing listens unless asked, by --remote (this run) or by the switch in the
    // settings window (saved; off by default).
    prompter::remote::RemoteSwitch remote(control, window.library());
    QObject::connect(&remote, &prompter::remote::RemoteSwitch::addressChanged, &operatorMode,
                     &prompter::operate::OperatorMode::setRemoteAddress);
    QObject::connect(&window, &prompter::PrompterWindow::settingsWindowMade, &remote,
                     [&remote](prompter::SettingsWindow* settings) {
                         settings->addRow(QStringLiteral("Remote control"),
                                          remote.makeSettingsRow(settings));
                     });
    if (follower)
        remote.setFollower(*follower);
    const prompter::remote::RemoteSettings remoteSaved = prompter::remote::RemoteSettings::load();
    if (!remoteAddress && remoteSaved.enabled)
        remoteAddress = prompter::remote::readListenAddress(remoteSaved.address, nullptr);
    if (remoteAddress) {
        if (const auto failure = remote.start(*remoteAddress)) {
            std::fprintf(stderr, "quorvane-prompter: cannot start the remote: %s\n",
                         failure->toLocal8Bit().constData());
            // Asked for on the command line it is a failure; switched on in the settings, the
            // prompter still starts and says why in the library.
            if (options.remote)
                return kExitFailed;
            window.library()->showMessage(
                QStringLiteral("The remote could not start: %1").arg(*failure));
        } else {
            std::fputs(remote.session()->announcement().toLocal8Bit().constData(), stdout);
            std::fflush(stdout);
        }
    }
    // Full screen prompting has shown the window already; a window (or the library) shows now.
    if (!window.isVisible())
        window.show();
    QWidget* pictured = &window;
    if (options.settingsWindow)
        pictured = window.showSettings();
    if (options.screen && *options.screen >= QGuiApplication::screens().size())
        std::fprintf(stderr, "quorvane-prompter: there is no screen %d; prompting on this one\n",
                     *options.screen);

    if (options.screenshot && !traced) {  // with a traced file: the picture at its end
        if (options.prompt && !prompting)
            return kExitFailed;
        const QString path = *options.screenshot;
        QTimer::singleShot(0, &window, [pictured, path] {
            QApplication::exit(saveScreenshot(*pictured, path) ? kExitDone : kExitFailed);
        });
    }
    return QApplication::exec();
}
