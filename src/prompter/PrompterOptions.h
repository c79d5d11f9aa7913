// PrompterOptions: the prompter's command line.
//
//   quorvane-prompter [--prompt FILE] [--screen N] [--window] [--mirror
//   horizontal|vertical|both|none]
//                     [--speed WPM] [--font-size PIXELS] [--line-spacing FACTOR]
//                     [--countdown SECONDS]
//                     [--screenshot PNG] [--reset-settings] [--settings] [--help] [--version]
//                     [--remote [ADDRESS:]PORT] [--follow URL]
//                     [--follow-voice] [--audio-file WAV] [--positions FILE]
//                     [--voice-model FOLDER] [--microphone NAME]
//
// Values on the command line override the saved settings for this run; they are not saved.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "prompter/PrompterSettings.h"

namespace prompter {

struct PrompterOptions {
    enum class Action { run, help, version, usageError };

    Action action = Action::run;
    QString error;  // for usageError
    QString help;   // for help
    std::optional<QString> prompt;
    std::optional<QString> screenshot;
    bool window = false;
    bool resetSettings = false;
    bool settingsWindow = false;  // the settings window open at the start
    std::optional<int> screen;
    std::optional<Mirror> mirror;
    std::optional<double> speed;
    std::optional<int> fontSize;
    std::optional<double> lineSpacing;
    std::optional<double> countdown;
    // The remote: serve the control API and the phone page at [ADDRESS:]PORT (read by
    // remote::readListenAddress).
    std::optional<QString> remote;
    // Follow the prompter whose remote is at URL (read by remote::RemoteFollower).
    std::optional<QString> follow;
    // Voice-following: on from the start; its audio from a file rather than a microphone (and
    // then a trace of the positions, ending the program after the audio); another model; a
    // microphone chosen by name.
    bool followVoice = false;
    std::optional<QString> audioFile;
    std::optional<QString> positions;
    std::optional<QString> voiceModel;
    std::optional<QString> microphone;

    // `arguments` includes the program's name first.
    [[nodiscard]] static PrompterOptions parse(const QStringList& arguments);
    // The keys while prompting, one a line, as the help and the window's Help menu show them.
    [[nodiscard]] static QString keysHelp();
    // The saved settings with this run's overrides.
    [[nodiscard]] PrompterSettings applied(PrompterSettings settings) const;
};

}  // namespace prompter
