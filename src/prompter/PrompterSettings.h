// PrompterSettings: what the person chose, kept between runs in the XDG config folder
// ($XDG_CONFIG_HOME/quorvane/prompter.conf, default ~/.config/quorvane/prompter.conf).
//
// Values read back are checked: one out of range or of the wrong type reads as the default, so a
// hand-edited or damaged file never leaves the prompter unreadable.
#pragma once

#include <QColor>
#include <QString>

namespace prompter {

enum class Mirror { none = 0, horizontal = 1, vertical = 2, both = 3 };

struct PrompterSettings {
    double speed = 140;      // words per minute, 20 to 600
    int fontSize = 64;       // pixels, 12 to 400
    QString fontFamily;      // empty: the desktop's sans-serif family
    int marginPercent = 10;  // of the width, each side, 0 to 40
    double countdown = 3;    // seconds before the text moves, 0 to 60
    Mirror mirror = Mirror::none;
    int screen = -1;            // index among the screens; -1: the window's own
    QString screenName;         // the screen's name, which wins over the index when it is there
    double readingLine = 0.35;  // of the height, from the top, 0.05 to 0.95
    double lineSpacing = 1.0;   // each line's height times this, 0.8 to 3
    QColor textColour = Qt::white;
    QColor backgroundColour = Qt::black;
    QColor cueColour = QColor(0x4d, 0xd0, 0xe1);  // cues ([pause]): drawn, never read aloud
    // The library's folder (from the next start); empty: ~/Teleprompter. The receiver's user
    // unit delivers into the same folder: it reads it from receiverFilePath(), which the
    // program makes name the folder it uses at each start.
    QString libraryFolder;
    // Voice-following: each prompt follows the voice from its start; the microphone (a part of
    // its name; empty: the system's default); a PocketSphinx model folder (empty: the packaged
    // English one).
    bool followVoice = false;
    QString microphone;
    QString voiceModel;

    // The file the settings live in.
    [[nodiscard]] static QString filePath();
    [[nodiscard]] static PrompterSettings load();
    // Writes every value; false when the file could not be written.
    [[nodiscard]] bool save() const;
    // Removes the file: the next load gives the defaults.
    [[nodiscard]] static bool reset();

    // The file the receiver's user unit (quorvane-receive.service) reads the library's folder
    // from, beside the settings: one line QUORVANE_LIBRARY="FOLDER" in the service manager's
    // environment-file form. Absent for the default folder, which the unit names itself.
    [[nodiscard]] static QString receiverFilePath();
    // Makes that file name this library folder (written only when it changes; removed for the
    // default one). Empty on success, else why.
    [[nodiscard]] QString syncReceiver() const;

    friend bool operator==(const PrompterSettings&, const PrompterSettings&) = default;
};

[[nodiscard]] inline bool mirrorsHorizontally(Mirror mirror) {
    return mirror == Mirror::horizontal || mirror == Mirror::both;
}
[[nodiscard]] inline bool mirrorsVertically(Mirror mirror) {
    return mirror == Mirror::vertical || mirror == Mirror::both;
}
[[nodiscard]] inline Mirror mirrorOf(bool horizontal, bool vertical) {
    return static_cast<Mirror>((horizontal ? 1 : 0) | (vertical ? 2 : 0));
}

}  // namespace prompter
