#include "prompter/remote/RemoteSettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

#include "prompter/PrompterSettings.h"
#include "prompter/WholeFile.h"
#include "prompter/remote/RemoteSession.h"

namespace prompter::remote {
namespace {

constexpr std::uint64_t kMaxSettingsBytes = 1 << 20;  // as the prompter's own settings

// QSettings never opens the person's path (it would wait on a FIFO and follow a link): the
// bytes are read and written whole by WholeFile, and parsed in a private copy.
QString privateCopy(const QTemporaryDir& folder) {
    return folder.filePath(QStringLiteral("prompter.conf"));
}

}  // namespace

RemoteSettings RemoteSettings::load() {
    RemoteSettings settings;
    const auto bytes =
        WholeFile::read(PrompterSettings::filePath(), kMaxSettingsBytes, nullptr, nullptr, true);
    const QTemporaryDir folder;
    if (!bytes || bytes->isEmpty() || !folder.isValid() ||
        !WholeFile::write(privateCopy(folder), *bytes, 0600).isEmpty())
        return settings;
    const QSettings file(privateCopy(folder), QSettings::IniFormat);
    const QString enabled = file.value(QStringLiteral("remote/enabled")).toString();
    settings.enabled = enabled == QLatin1String("true");
    const QString address = file.value(QStringLiteral("remote/address")).toString().left(100);
    if (readListenAddress(address, nullptr))
        settings.address = address;
    return settings;
}

bool RemoteSettings::save() const {
    const QTemporaryDir folder;
    if (!folder.isValid())
        return false;
    QString target = PrompterSettings::filePath();
    if (QFileInfo(target).isSymLink())
        target = QFileInfo(target).canonicalFilePath();
    if (target.isEmpty() || !WholeFile::pathProblem(target).isEmpty())
        return false;
    if (const auto before = WholeFile::read(target, kMaxSettingsBytes);
        before && !WholeFile::write(privateCopy(folder), *before, 0600).isEmpty())
        return false;
    QSettings file(privateCopy(folder), QSettings::IniFormat);
    file.setValue(QStringLiteral("remote/enabled"), enabled);
    file.setValue(QStringLiteral("remote/address"), address);
    file.sync();
    if (file.status() != QSettings::NoError)
        return false;
    const auto bytes = WholeFile::read(privateCopy(folder), kMaxSettingsBytes);
    return bytes && QDir().mkpath(QFileInfo(target).absolutePath()) &&
           WholeFile::write(target, *bytes, 0600).isEmpty();
}

}  // namespace prompter::remote
