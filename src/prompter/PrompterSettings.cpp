#include "prompter/PrompterSettings.h"

#include <unistd.h>
#include <cerrno>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "prompter/WholeFile.h"

namespace prompter {
namespace {

double readNumber(const QSettings& settings, const char* key, double fallback, double low,
                  double high) {
    bool ok = false;
    const double value = settings.value(QLatin1String(key)).toDouble(&ok);
    return ok && std::isfinite(value) && value >= low && value <= high ? value : fallback;
}

QColor readColour(const QSettings& settings, const char* key, QColor fallback) {
    const QColor value(settings.value(QLatin1String(key)).toString());
    return value.isValid() ? value : fallback;
}

// A settings file is a few hundred bytes; anything far larger is not one.
constexpr std::uint64_t kMaxSettingsBytes = 1 << 20;

// The settings are parsed and written by QSettings, but never at the person's path: QSettings
// opens a FIFO there and waits for ever, and follows a link. The file's bytes are read the
// careful way and parsed from a private copy; a save is made in a private copy, then put in
// place whole.
class PrivateCopy {
  public:
    [[nodiscard]] bool isValid() const { return folder_.isValid(); }
    [[nodiscard]] QString path() const { return folder_.filePath(QStringLiteral("prompter.conf")); }

  private:
    QTemporaryDir folder_;
};

// A folder the receiver's unit can be told: a line end or another control character would end
// or break the line it is written on.
bool isNameableFolder(const QString& folder) {
    return QDir::isAbsolutePath(folder) && std::none_of(folder.begin(), folder.end(), [](QChar c) {
               return c.unicode() < 0x20 || c.unicode() == 0x7F;
           });
}

// The service manager's environment file: a double-quoted value, in which a backslash escapes
// the quote, the backslash, the back quote and the dollar sign.
QByteArray receiverFile(const QString& folder) {
    QByteArray quoted;
    for (const char c : QFile::encodeName(folder)) {
        if (c == '"' || c == '\\' || c == '`' || c == '$')
            quoted += '\\';
        quoted += c;
    }
    return "# Written by quorvane-prompter from its settings (the library's folder): the folder "
           "the\n# receiver's user unit, quorvane-receive.service, delivers sent texts into. "
           "Change it\n# in the teleprompter's settings window, not here.\nQUORVANE_LIBRARY=\"" +
           quoted + "\"\n";
}

}  // namespace

QString PrompterSettings::receiverFilePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/quorvane/library.env");
}

QString PrompterSettings::syncReceiver() const {
    const QString path = receiverFilePath();
    if (libraryFolder.isEmpty()) {
        if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT)
            return QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    const QByteArray wanted = receiverFile(libraryFolder);
    if (WholeFile::read(path, kMaxSettingsBytes) == wanted)
        return {};
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return QStringLiteral("cannot make %1").arg(QFileInfo(path).absolutePath());
    return WholeFile::write(path, wanted, 0600);
}

QString PrompterSettings::filePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/quorvane/prompter.conf");
}

PrompterSettings PrompterSettings::load() {
    PrompterSettings settings;
    const std::optional<QByteArray> bytes =
        WholeFile::read(filePath(), kMaxSettingsBytes, nullptr, nullptr, true);
    const PrivateCopy copy;
    if (!bytes || bytes->isEmpty() || !copy.isValid() ||
        !WholeFile::write(copy.path(), *bytes, 0600).isEmpty())
        return settings;  // missing, not a regular file, or unreadable: the defaults
    const QSettings file(copy.path(), QSettings::IniFormat);
    settings.speed = readNumber(file, "speed", settings.speed, 20, 600);
    settings.fontSize = static_cast<int>(readNumber(file, "fontSize", settings.fontSize, 12, 400));
    settings.fontFamily = file.value(QStringLiteral("fontFamily")).toString();
    settings.marginPercent =
        static_cast<int>(readNumber(file, "marginPercent", settings.marginPercent, 0, 40));
    settings.countdown = readNumber(file, "countdown", settings.countdown, 0, 60);
    settings.mirror = static_cast<Mirror>(
        static_cast<int>(readNumber(file, "mirror", static_cast<int>(settings.mirror), 0, 3)));
    settings.screen = static_cast<int>(readNumber(file, "screen", settings.screen, -1, 64));
    settings.readingLine = readNumber(file, "readingLine", settings.readingLine, 0.05, 0.95);
    settings.lineSpacing = readNumber(file, "lineSpacing", settings.lineSpacing, 0.8, 3);
    settings.textColour = readColour(file, "textColour", settings.textColour);
    settings.backgroundColour = readColour(file, "backgroundColour", settings.backgroundColour);
    settings.cueColour = readColour(file, "cueColour", settings.cueColour);
    settings.screenName = file.value(QStringLiteral("screenName")).toString().left(256);
    // Only an absolute path without control characters names a library folder; anything else
    // reads as the default.
    if (const QString folder = file.value(QStringLiteral("libraryFolder")).toString();
        isNameableFolder(folder))
        settings.libraryFolder = QDir::cleanPath(folder);
    settings.followVoice = file.value(QStringLiteral("followVoice")).toString() == "true";
    settings.microphone = file.value(QStringLiteral("microphone")).toString().left(256);
    if (const QString model = file.value(QStringLiteral("voiceModel")).toString();
        QDir::isAbsolutePath(model))
        settings.voiceModel = QDir::cleanPath(model);
    return settings;
}

bool PrompterSettings::save() const {
    const PrivateCopy copy;
    if (!copy.isValid())
        return false;
    // Settings kept elsewhere through a link are written there; a FIFO, a device or a folder at
    // the path is left alone and the save fails.
    QString target = filePath();
    if (QFileInfo(target).isSymLink())
        target = QFileInfo(target).canonicalFilePath();
    if (target.isEmpty() || !WholeFile::pathProblem(target).isEmpty())
        return false;
    // Keys this version does not know are kept, as they were.
    if (const auto before = WholeFile::read(target, kMaxSettingsBytes);
        before && !WholeFile::write(copy.path(), *before, 0600).isEmpty())
        return false;
    QSettings file(copy.path(), QSettings::IniFormat);
    file.setValue(QStringLiteral("speed"), speed);
    file.setValue(QStringLiteral("fontSize"), fontSize);
    file.setValue(QStringLiteral("fontFamily"), fontFamily);
    file.setValue(QStringLiteral("marginPercent"), marginPercent);
    file.setValue(QStringLiteral("countdown"), countdown);
    file.setValue(QStringLiteral("mirror"), static_cast<int>(mirror));
    file.setValue(QStringLiteral("screen"), screen);
    file.setValue(QStringLiteral("readingLine"), readingLine);
    file.setValue(QStringLiteral("lineSpacing"), lineSpacing);
    file.setValue(QStringLiteral("followVoice"), followVoice);
    file.setValue(QStringLiteral("microphone"), microphone);
    file.setValue(QStringLiteral("voiceModel"), voiceModel);
    file.setValue(QStringLiteral("textColour"), textColour.name());
    file.setValue(QStringLiteral("backgroundColour"), backgroundColour.name());
    file.setValue(QStringLiteral("cueColour"), cueColour.name());
    file.setValue(QStringLiteral("screenName"), screenName);
    if (libraryFolder.isEmpty())
        file.remove(QStringLiteral("libraryFolder"));
    else
        file.setValue(QStringLiteral("libraryFolder"), libraryFolder);
    file.sync();
    if (file.status() != QSettings::NoError)
        return false;
    const std::optional<QByteArray> bytes = WholeFile::read(copy.path(), kMaxSettingsBytes);
    const QString folder = QFileInfo(target).absolutePath();
    return bytes && QDir().mkpath(folder) && WholeFile::write(target, *bytes, 0600).isEmpty();
}

bool PrompterSettings::reset() {
    // The name is removed whatever it is (a link, not its target).
    return ::unlink(QFile::encodeName(filePath()).constData()) == 0 || errno == ENOENT;
}

}  // namespace prompter
