#include "prompter/ScriptFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <future>
#include <mutex>
#include <optional>

#include "prompter/FileStamp.h"

namespace prompter {
namespace {

constexpr std::uintptr_t kPage = 4096;

ScriptReadError failure(const QString& path, const QString& why) {
    return {QStringLiteral("Cannot read \u201c%1\u201d: %2").arg(path, why)};
}

// A file read ahead: which file, and its bytes with what it was when read.
struct ReadAhead {
    FileStamp stamp;
    std::shared_ptr<const std::string> text;  // null when it could not be read unchanged
};

std::mutex aheadLock;
dev_t aheadDevice = 0;                        // guarded by aheadLock
ino_t aheadInode = 0;                         // guarded by aheadLock
std::optional<std::future<ReadAhead>> ahead;  // guarded by aheadLock
thread_local bool readingAhead = false;       // on the thread reading ahead

std::optional<struct stat> statusOf(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return std::nullopt;
    return status;
}

// The bytes read ahead when they are those of the file open as `status` (waiting for them if
// they are still being read); taken, or dropped when they are no longer what it holds.
std::shared_ptr<const std::string> takeReadAhead(const struct stat& status) {
    if (readingAhead)
        return nullptr;
    const std::lock_guard lock(aheadLock);
    if (!ahead || aheadDevice != status.st_dev || aheadInode != status.st_ino)
        return nullptr;  // nothing, or another file: kept for the read it is meant for
    ReadAhead made = ahead->get();
    ahead.reset();
    return made.stamp == FileStamp::of(status) ? std::move(made.text) : nullptr;
}

}  // namespace

ScriptFile::Result ScriptFile::read(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return failure(path, QString::fromLocal8Bit(std::strerror(errno)));
    return readOpen(fd, path);
}

ScriptFile::Result ScriptFile::readAt(int folder, const QString& name, const QString& shown) {
    const int fd = ::openat(folder, QFile::encodeName(name).constData(),
                            O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return failure(shown, errno == ELOOP ? QStringLiteral("a symbolic link, never followed")
                                             : QString::fromLocal8Bit(std::strerror(errno)));
    return readOpen(fd, shown);
}

void ScriptFile::readAhead(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return;
    const auto before = statusOf(fd);
    if (!before || !S_ISREG(before->st_mode)) {
        ::close(fd);
        return;
    }
    const std::lock_guard lock(aheadLock);
    aheadDevice = before->st_dev;
    aheadInode = before->st_ino;
    ahead = std::async(std::launch::async, [fd, stamp = FileStamp::of(*before)] {
        readingAhead = true;
        // Read as any read is, then kept only when the file did not change meanwhile.
        ReadAhead made{stamp, nullptr};
        auto read = readOpen(::dup(fd), QString());
        const auto after = statusOf(fd);
        ::close(fd);
        if (auto* text = std::get_if<std::shared_ptr<const std::string>>(&read);
            text && after && FileStamp::of(*after) == stamp)
            made.text = std::move(*text);
        return made;
    });
}

void ScriptFile::forgetReadAhead() {
    const std::lock_guard lock(aheadLock);
    ahead.reset();
}

ScriptFile::Result ScriptFile::readOpen(int fd, const QString& path) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return failure(path, QStringLiteral("not a regular file"));
    }
    if (static_cast<std::uint64_t>(status.st_size) > kMaxBytes) {
        ::close(fd);
        return failure(path, QStringLiteral("larger than 1 GiB"));
    }
    if (auto early = takeReadAhead(status)) {
        ::close(fd);
        return early;
    }
    auto text = std::make_shared<std::string>();
    // One byte more than the file holds, so the end is seen without growing the buffer.
    const auto size = static_cast<std::size_t>(status.st_size) + 1;
    text->reserve(size);
    // A big script's pages made at once, in one call, rather than one fault at a time as the
    // buffer is first written (a 100 MB script is 25,600 of them; a tenth of its read). Only a
    // hint: where the system cannot, the faults make them as ever. (Huge pages would be fewer
    // still, but the kernel may stall a read for a third of a second compacting memory.)
    if (size >= (std::size_t{1} << 20)) {
        const auto begin = reinterpret_cast<std::uintptr_t>(text->data());
        const std::uintptr_t from = (begin + kPage - 1) & ~(kPage - 1);
        const std::uintptr_t to = (begin + size) & ~(kPage - 1);
        if (to > from)
            ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
    }
    text->resize(size);
    std::size_t done = 0;
    for (;;) {
        if (done == text->size())
            text->resize(done + 65536);  // the file grew while it was read
        const ssize_t got = ::read(fd, text->data() + done, text->size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return failure(path, QString::fromLocal8Bit(std::strerror(error)));
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
        if (done > kMaxBytes) {
            ::close(fd);
            return failure(path, QStringLiteral("larger than 1 GiB"));
        }
    }
    ::close(fd);
    text->resize(done);
    // A byte-order mark is not part of the script.
    if (text->compare(0, 3, "\xEF\xBB\xBF") == 0)
        text->erase(0, 3);
    return std::shared_ptr<const std::string>(std::move(text));
}

}  // namespace prompter
