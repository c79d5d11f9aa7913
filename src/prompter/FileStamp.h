// FileStamp: what tells one version of a file from another without reading it.
#pragma once

#include <sys/stat.h>

#include <QtGlobal>

namespace prompter {

// Its inode, its size and its modification and change times to the nanosecond. The change time
// is set by the system on every write, rename or change of mode and no program can put it back,
// so a rewrite of the same size whose modification time was restored still differs.
struct FileStamp {
    qint64 inode = -1;
    qint64 bytes = -1;
    qint64 modifiedNs = -1;
    qint64 changedNs = -1;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;

    [[nodiscard]] static FileStamp of(const struct stat& status) {
        return {static_cast<qint64>(status.st_ino), static_cast<qint64>(status.st_size),
                nanoseconds(status.st_mtim.tv_sec, status.st_mtim.tv_nsec),
                nanoseconds(status.st_ctim.tv_sec, status.st_ctim.tv_nsec)};
    }
    [[nodiscard]] static FileStamp of(const struct statx& status) {
        return {static_cast<qint64>(status.stx_ino), static_cast<qint64>(status.stx_size),
                nanoseconds(status.stx_mtime.tv_sec, status.stx_mtime.tv_nsec),
                nanoseconds(status.stx_ctime.tv_sec, status.stx_ctime.tv_nsec)};
    }

  private:
    static qint64 nanoseconds(qint64 seconds, qint64 nanos) {
        return seconds * 1'000'000'000LL + nanos;
    }
};

}  // namespace prompter
