// WatchedFile: one script outside the library (opened with "Open File"), watched while it is
// prompted, so a change saved by any program shows as a library script's does.
//
// What is at the path is watched, not the file first opened: a write in place and a new file
// renamed over the path (as editors save) both count, and so does the file coming back after it
// was removed. Changes to other files of its folder are told apart by the file's inode, size and
// change times, so a busy folder costs a look at one file's status, never a read.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

#include "prompter/FileStamp.h"

namespace prompter {

class WatchedFile : public QObject {
    Q_OBJECT

  public:
    explicit WatchedFile(QObject* parent = nullptr);

    // Watches `path` from now on (empty: nothing).
    void watch(const QString& path);
    [[nodiscard]] const QString& path() const { return path_; }

  signals:
    // What is at the path changed since watch() or the last signal.
    void changed();

  private:
    using Stamp = FileStamp;
    [[nodiscard]] Stamp stampNow() const;
    void check();

    QFileSystemWatcher watcher_;
    QString path_;
    Stamp stamp_;
    bool written_ = false;  // the file itself was written to: read it whatever its stamp says
    QTimer settle_;         // a burst of events (a save is several) is one look
};

}  // namespace prompter
