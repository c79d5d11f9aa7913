#include "prompter/PrompterSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cmath>

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

}  // namespace

QString PrompterSettings::filePath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1String("/quorvane/prompter.conf");
}

PrompterSettings PrompterSettings::load() {
    const QSettings file(filePath(), QSettings::IniFormat);
    PrompterSettings settings;
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
    settings.textColour = readColour(file, "textColour", settings.textColour);
    settings.backgroundColour = readColour(file, "backgroundColour", settings.backgroundColour);
    return settings;
}

bool PrompterSettings::save() const {
    QDir().mkpath(QFileInfo(filePath()).absolutePath());
    QSettings file(filePath(), QSettings::IniFormat);
    file.setValue(QStringLiteral("speed"), speed);
    file.setValue(QStringLiteral("fontSize"), fontSize);
    file.setValue(QStringLiteral("fontFamily"), fontFamily);
    file.setValue(QStringLiteral("marginPercent"), marginPercent);
    file.setValue(QStringLiteral("countdown"), countdown);
    file.setValue(QStringLiteral("mirror"), static_cast<int>(mirror));
    file.setValue(QStringLiteral("screen"), screen);
    file.setValue(QStringLiteral("readingLine"), readingLine);
    file.setValue(QStringLiteral("textColour"), textColour.name());
    file.setValue(QStringLiteral("backgroundColour"), backgroundColour.name());
    file.sync();
    return file.status() == QSettings::NoError;
}

bool PrompterSettings::reset() {
    QFile file(filePath());
    return !file.exists() || file.remove();
}

}  // namespace prompter
