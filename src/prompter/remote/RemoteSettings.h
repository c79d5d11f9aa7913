// RemoteSettings: whether the remote serves from the start, and where, kept in the prompter's
// settings file (PrompterSettings::filePath()) under "remote/". Off by default: nothing listens
// unless the person asked for it. A value that cannot be read (damaged, hand-edited) reads as
// the default, and the file is read and written the careful way the prompter's settings are.
#pragma once

#include <QString>

namespace prompter::remote {

struct RemoteSettings {
    bool enabled = false;
    QString address = QStringLiteral("8080");  // [ADDRESS:]PORT, as --remote takes it

    [[nodiscard]] static RemoteSettings load();
    // Writes both values, keeping every other key of the file; false when it could not.
    [[nodiscard]] bool save() const;

    friend bool operator==(const RemoteSettings&, const RemoteSettings&) = default;
};

}  // namespace prompter::remote
