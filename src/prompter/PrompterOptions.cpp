#include "prompter/PrompterOptions.h"

#include <QCommandLineParser>
#include <cmath>

namespace prompter {
namespace {

PrompterOptions usage(const QString& error) {
    PrompterOptions options;
    options.action = PrompterOptions::Action::usageError;
    options.error = error;
    return options;
}

std::optional<double> number(const QString& text, double low, double high) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < low || value > high)
        return std::nullopt;
    return value;
}

}  // namespace

PrompterOptions PrompterOptions::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Teleprompter: shows the scripts sent from the share sheet and scrolls "
                       "one past a reading line."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption prompt(QStringLiteral("prompt"),
                                    QStringLiteral("Start prompting FILE at once."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption screen(QStringLiteral("screen"),
                                    QStringLiteral("Prompt on screen N (counted from 0)."),
                                    QStringLiteral("N"));
    const QCommandLineOption window(QStringLiteral("window"),
                                    QStringLiteral("Prompt in a window, not full screen."));
    const QCommandLineOption mirror(
        QStringLiteral("mirror"),
        QStringLiteral("Mirror the view: horizontal, vertical, both or none."),
        QStringLiteral("AXIS"));
    const QCommandLineOption speed(QStringLiteral("speed"),
                                   QStringLiteral("Words per minute (20 to 600)."),
                                   QStringLiteral("WPM"));
    const QCommandLineOption fontSize(QStringLiteral("font-size"),
                                      QStringLiteral("Text size in pixels (12 to 400)."),
                                      QStringLiteral("PIXELS"));
    const QCommandLineOption lineSpacing(
        QStringLiteral("line-spacing"),
        QStringLiteral("Line height as a multiple of the font's (0.8 to 3; 1.5 leaves half a line "
                       "between lines)."),
        QStringLiteral("FACTOR"));
    const QCommandLineOption countdown(QStringLiteral("countdown"),
                                       QStringLiteral("Seconds to count down (0 to 60)."),
                                       QStringLiteral("SECONDS"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Write the window to PNG once its first frame is drawn, then exit."),
        QStringLiteral("PNG"));
    const QCommandLineOption reset(QStringLiteral("reset-settings"),
                                   QStringLiteral("Forget the saved settings first."));
    const QCommandLineOption settingsWindow(
        QStringLiteral("settings"),
        QStringLiteral("Open the settings window at the start (with --screenshot: its picture)."));
    parser.addOptions({help, version, prompt, screen, window, mirror, speed, fontSize, lineSpacing,
                       countdown, screenshot, reset, settingsWindow});
    // The remote's options (src/prompter/remote).
    const QCommandLineOption remote(
        QStringLiteral("remote"),
        QStringLiteral("Serve the phone remote and the control API at [ADDRESS:]PORT (every "
                       "address of this machine when ADDRESS is left out)."),
        QStringLiteral("[ADDRESS:]PORT"));
    parser.addOption(remote);
    const QCommandLineOption follow(
        QStringLiteral("follow"),
        QStringLiteral("Show what the prompter whose remote is at URL shows, in step with it "
                       "(the address it printed, with its token)."),
        QStringLiteral("URL"));
    parser.addOption(follow);
    // Voice-following.
    const QCommandLineOption followVoice(
        QStringLiteral("follow-voice"),
        QStringLiteral("Follow the presenter's voice from the start (the F key turns it on and "
                       "off)."));
    const QCommandLineOption audioFile(
        QStringLiteral("audio-file"),
        QStringLiteral("Follow the voice in WAV, played at its real pace, rather than the "
                       "microphone's."),
        QStringLiteral("WAV"));
    const QCommandLineOption positions(
        QStringLiteral("positions"),
        QStringLiteral("With --prompt, following the voice: write a line \"AUDIO_MS WORD\" to "
                       "FILE each time the word on the reading line changes; with --audio-file, "
                       "exit a second after the audio ends."),
        QStringLiteral("FILE"));
    const QCommandLineOption voiceModel(
        QStringLiteral("voice-model"),
        QStringLiteral("A PocketSphinx model (acoustic model folder and .dict) for the script's "
                       "language (default: the packaged English one)."),
        QStringLiteral("FOLDER"));
    const QCommandLineOption microphone(
        QStringLiteral("microphone"),
        QStringLiteral("The microphone whose name contains NAME (default: the system's)."),
        QStringLiteral("NAME"));
    parser.addOptions({followVoice, audioFile, positions, voiceModel, microphone});
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usage(
            QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first()));

    PrompterOptions options;
    if (parser.isSet(help)) {
        options.action = Action::help;
        options.help =
            parser.helpText() + QStringLiteral("\nKeys while prompting:\n") + keysHelp() +
            QStringLiteral(
                "\nEnvironment:\n"
                "  QUORVANE_CONTAINER_ROOT  where the sent texts wait (the containers' folder)\n"
                "  HOME  the scripts are in ~/Teleprompter, unless the settings name another "
                "folder\n"
                "        (libraryFolder); those of the old folder, quorvane/scripts in "
                "XDG_DATA_HOME,\n"
                "        move in at the start\n"
                "  XDG_CONFIG_HOME  the settings are in its quorvane/prompter.conf (default "
                "~/.config)\n"
                "\nExit status:\n"
                "  0  done (with --screenshot: the picture was written)\n"
                "  1  a failure: the picture could not be written, or the script to prompt could "
                "not be read\n"
                "     (with --positions: the voice could not be followed, or the trace written)\n"
                "  2  bad usage\n");
        // The remote's part of the help.
        options.help += QStringLiteral(
            "\nRemote (--remote):\n"
            "  The page, the control API (docs/REMOTE.md) and the QR code of its address are\n"
            "  printed at start. Every request needs the token the address carries.\n"
            "  QUORVANE_REMOTE_TOKEN  the token to use instead of a random one (16 to 256 of\n"
            "                         A-Z a-z 0-9 - _ . ~); with --follow, the other's token\n"
            "                         when its address carries none\n");
        return options;
    }
    if (parser.isSet(version)) {
        options.action = Action::version;
        return options;
    }
    if (parser.isSet(prompt))
        options.prompt = parser.value(prompt);
    if (parser.isSet(screenshot))
        options.screenshot = parser.value(screenshot);
    options.window = parser.isSet(window);
    options.resetSettings = parser.isSet(reset);
    options.settingsWindow = parser.isSet(settingsWindow);
    if (parser.isSet(screen)) {
        const auto value = number(parser.value(screen), 0, 64);
        if (!value || *value != std::floor(*value))
            return usage(
                QStringLiteral("--screen wants a screen number, not %1").arg(parser.value(screen)));
        options.screen = static_cast<int>(*value);
    }
    if (parser.isSet(mirror)) {
        const QString axis = parser.value(mirror);
        if (axis == QLatin1String("horizontal"))
            options.mirror = Mirror::horizontal;
        else if (axis == QLatin1String("vertical"))
            options.mirror = Mirror::vertical;
        else if (axis == QLatin1String("both"))
            options.mirror = Mirror::both;
        else if (axis == QLatin1String("none"))
            options.mirror = Mirror::none;
        else
            return usage(QStringLiteral("--mirror wants horizontal, vertical, both or none, not %1")
                             .arg(axis));
    }
    if (parser.isSet(speed)) {
        options.speed = number(parser.value(speed), 20, 600);
        if (!options.speed)
            return usage(QStringLiteral("--speed wants 20 to 600 words per minute, not %1")
                             .arg(parser.value(speed)));
    }
    if (parser.isSet(fontSize)) {
        const auto value = number(parser.value(fontSize), 12, 400);
        if (!value)
            return usage(QStringLiteral("--font-size wants 12 to 400 pixels, not %1")
                             .arg(parser.value(fontSize)));
        options.fontSize = static_cast<int>(*value);
    }
    if (parser.isSet(lineSpacing)) {
        options.lineSpacing = number(parser.value(lineSpacing), 0.8, 3);
        if (!options.lineSpacing)
            return usage(QStringLiteral("--line-spacing wants 0.8 to 3, not %1")
                             .arg(parser.value(lineSpacing)));
    }
    // Voice-following.
    options.followVoice = parser.isSet(followVoice) || parser.isSet(audioFile);
    if (parser.isSet(audioFile))
        options.audioFile = parser.value(audioFile);
    if (parser.isSet(positions)) {
        options.positions = parser.value(positions);
        if (!options.prompt)
            return usage(QStringLiteral("--positions needs --prompt"));
        options.followVoice = true;
    }
    if (parser.isSet(voiceModel))
        options.voiceModel = parser.value(voiceModel);
    if (parser.isSet(microphone))
        options.microphone = parser.value(microphone);
    if (parser.isSet(countdown)) {
        options.countdown = number(parser.value(countdown), 0, 60);
        if (!options.countdown)
            return usage(QStringLiteral("--countdown wants 0 to 60 seconds, not %1")
                             .arg(parser.value(countdown)));
    }
    if (parser.isSet(remote))
        options.remote = parser.value(remote);
    if (parser.isSet(follow))
        options.follow = parser.value(follow);
    return options;
}

QString PrompterOptions::keysHelp() {
    return QStringLiteral(
        "  Space, B, .        pause and resume (and skip the countdown)\n"
        "  Up, Down, wheel    faster, slower\n"
        "  Ctrl+Plus, Minus   larger, smaller text\n"
        "  H, V               mirror left-right, upside down\n"
        "  Home, End          the start, the end\n"
        "  PageUp, PageDown   back, on by a screen\n"
        "  Left, Right        back, on by a paragraph (blank lines passed over)\n"
        "  1 to 9             to section 1 to 9 (a line starting with #)\n"
        "  Ctrl+PageUp, Down  the previous, the next section\n"
        "  S                  the sections, to choose one\n"
        "  F                  follow the voice, or stop (any other key takes over)\n"
        "  Ctrl+Comma         the settings\n"
        "  Escape             back to the library\n");
}

PrompterSettings PrompterOptions::applied(PrompterSettings settings) const {
    if (screen) {
        settings.screen = *screen;
        settings.screenName.clear();
    }
    if (mirror)
        settings.mirror = *mirror;
    if (speed)
        settings.speed = *speed;
    if (fontSize)
        settings.fontSize = *fontSize;
    if (countdown)
        settings.countdown = *countdown;
    if (lineSpacing)
        settings.lineSpacing = *lineSpacing;
    if (followVoice)
        settings.followVoice = true;
    if (microphone)
        settings.microphone = *microphone;
    if (voiceModel)
        settings.voiceModel = *voiceModel;
    return settings;
}

}  // namespace prompter
