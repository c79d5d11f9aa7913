#include "prompter/WatchedFile.h"

#include <sys/stat.h>
#include <QFile>
#include <QFileInfo>
#include <utility>

namespace prompter {

WatchedFile::WatchedFile(QObject* parent) : QObject(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(20);
    connect(&settle_, &QTimer::timeout, this, &WatchedFile::check);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] {
        written_ = true;
        settle_.start();
    });
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { settle_.start(); });
}

void WatchedFile::watch(const QString& path) {
    if (!watcher_.files().isEmpty())
        watcher_.removePaths(watcher_.files());
    if (!watcher_.directories().isEmpty())
        watcher_.removePaths(watcher_.directories());
    settle_.stop();
    written_ = false;
    path_ = path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
    if (path_.isEmpty())
        return;
    stamp_ = stampNow();
    watcher_.addPath(QFileInfo(path_).absolutePath());
    watcher_.addPath(path_);
}

WatchedFile::Stamp WatchedFile::stampNow() const {
    struct stat status {};
    if (::stat(QFile::encodeName(path_).constData(), &status) != 0)
        return {};
    return FileStamp::of(status);
}

void WatchedFile::check() {
    if (path_.isEmpty())
        return;
    // A file renamed over the path, or made again, is watched in its turn.
    if (!watcher_.files().contains(path_))
        watcher_.addPath(path_);
    const Stamp now = stampNow();
    const bool written = std::exchange(written_, false);
    if (now == stamp_ && !written)
        return;
    stamp_ = now;
    if (now.inode >= 0)  // removed: the prompt keeps what it shows until the file is back
        emit changed();
}

}  // namespace prompter
