#include "prompter/ScriptFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "prompter/Beside.h"
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
    return whole(start(path, kMaxBytes, 0));  // up to kMaxBytes: always whole
}

ScriptFile::Result ScriptFile::whole(Started started) {
    if (auto* failed = std::get_if<ScriptReadError>(&started))
        return std::move(*failed);
    return std::get<Start>(std::move(started)).text;
}

ScriptFile::Result ScriptFile::readAt(int folder, const QString& name, const QString& shown) {
    const int fd = ::openat(folder, QFile::encodeName(name).constData(),
                            O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0)
        return failure(shown, errno == ELOOP ? QStringLiteral("a symbolic link, never followed")
                                             : QString::fromLocal8Bit(std::strerror(errno)));
    return readOpen(fd, shown);
}

void ScriptFile::readAhead(const QString& path, std::uint64_t upTo) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return;
    const auto before = statusOf(fd);
    if (!before || !S_ISREG(before->st_mode) ||
        static_cast<std::uint64_t>(before->st_size) > upTo) {
        ::close(fd);
        return;
    }
    const std::lock_guard lock(aheadLock);
    aheadDevice = before->st_dev;
    aheadInode = before->st_ino;
    try {
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
    } catch (const std::system_error&) {  // no thread to be had: read when asked, as ever
        ahead.reset();
        ::close(fd);
    }
}

void ScriptFile::forgetReadAhead() {
    const std::lock_guard lock(aheadLock);
    ahead.reset();
}

namespace {

// From this size a script is read in two halves at once.
constexpr std::size_t kSplitBytes = std::size_t{8} << 20;

// The pages of [from, to) of `data` made at once, in one call, rather than one fault at a time
// as they are first written (a 100 MB script is 25,600 of them; a tenth of its read). Only a
// hint: where the system cannot, the faults make them as ever. (Huge pages would be fewer still,
// but the kernel may stall a read for a third of a second compacting memory to find them.)
void populate(char* data, std::size_t from, std::size_t to) {
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + from + kPage - 1) & ~(kPage - 1);
    const std::uintptr_t last = (begin + to) & ~(kPage - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
}

// Bytes [from, to) of the file `fd` into the same places of `into`: how many were read (fewer
// when the file ends sooner), or nothing and `error`.
std::optional<std::size_t> readRange(int fd, char* into, std::size_t from, std::size_t to,
                                     int& error) {
    std::size_t at = from;
    while (at < to) {
        const ssize_t got = ::pread(fd, into + at, to - at, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = errno;
            return std::nullopt;
        }
        if (got == 0)
            break;
        at += static_cast<std::size_t>(got);
    }
    return at - from;
}

// A file kept open for the one read still to come, closed when it is no longer needed.
struct HeldFile {
    explicit HeldFile(int fd) : fd(fd) {}
    ~HeldFile() { ::close(fd); }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    int fd;
};

}  // namespace

ScriptFile::Started ScriptFile::start(const QString& path, std::uint64_t wholeUpTo,
                                      std::uint64_t headBytes) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return failure(path, QString::fromLocal8Bit(std::strerror(errno)));
    return startOpen(fd, path, wholeUpTo, headBytes);
}

ScriptFile::Started ScriptFile::started(Result read) {
    if (auto* failed = std::get_if<ScriptReadError>(&read))
        return std::move(*failed);
    return Start{std::get<std::shared_ptr<const std::string>>(std::move(read)), {}};
}

ScriptFile::Started ScriptFile::startOpen(int fd, const QString& shown, std::uint64_t wholeUpTo,
                                          std::uint64_t headBytes) {
    const auto status = statusOf(fd);
    if (!status || !S_ISREG(status->st_mode) ||
        static_cast<std::uint64_t>(status->st_size) <= wholeUpTo ||
        static_cast<std::uint64_t>(status->st_size) > kMaxBytes) {
        return started(readOpen(fd, shown));  // whole, or why not
    }
    // The head is read where it lies, the file's offset left at its start for the whole read.
    // Three bytes more for a byte-order mark, one more to show the head does not end the file.
    std::string head(static_cast<std::size_t>(headBytes) + 4, '\0');
    int error = 0;
    const auto got = readRange(fd, head.data(), 0, head.size(), error);
    if (!got) {
        ::close(fd);
        return failure(shown, QString::fromLocal8Bit(std::strerror(error)));
    }
    head.resize(*got);
    if (head.compare(0, 3, "\xEF\xBB\xBF") == 0)
        head.erase(0, 3);
    head.resize(std::min<std::size_t>(head.size(), static_cast<std::size_t>(headBytes) + 1));
    auto held = std::make_shared<const HeldFile>(fd);
    return Start{std::make_shared<const std::string>(std::move(head)), [held, shown]() -> Result {
                     const int copy = ::fcntl(held->fd, F_DUPFD_CLOEXEC, 0);
                     if (copy < 0)
                         return failure(shown, QString::fromLocal8Bit(std::strerror(errno)));
                     return readOpen(copy, shown);
                 }};
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
    const auto fileBytes = static_cast<std::size_t>(status.st_size);
    const std::size_t size = fileBytes + 1;
    std::size_t done = 0;
    int error = 0;
    // Into the buffer as it is made: the bytes read, never zeros written first where the
    // library allows it (a 100 MB script is 100 MB less to write).
    const auto fill = [&](char* data, std::size_t) {
        if (fileBytes >= kSplitBytes && ::lseek(fd, 0, SEEK_CUR) == 0) {
            // A big script in two halves at once, on two processors where there are two. Then
            // on as any read, from where the halves ended.
            const std::size_t half = (fileBytes / 2) & ~std::size_t{kPage - 1};
            std::optional<std::size_t> first;
            std::optional<std::size_t> second;
            int secondError = 0;
            inTwo(
                [&] {
                    populate(data, 0, half);
                    first = readRange(fd, data, 0, half, error);
                },
                [&] {
                    populate(data, half, size);
                    second = readRange(fd, data, half, fileBytes, secondError);
                });
            if (first && !second)
                error = secondError;
            if (!first || !second)
                return std::size_t{0};
            done = *first < half ? *first : half + *second;  // a file cut short ends there
            if (::lseek(fd, static_cast<off_t>(done), SEEK_SET) < 0) {
                error = errno;
                return std::size_t{0};
            }
        } else if (size >= (std::size_t{1} << 20)) {
            populate(data, 0, size);
        }
        while (done < size) {
            const ssize_t got = ::read(fd, data + done, size - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                error = errno;
                return std::size_t{0};
            }
            if (got == 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    };
#if defined(__cpp_lib_string_resize_and_overwrite)
    text->resize_and_overwrite(size, fill);
#else
    text->resize(size);
    text->resize(fill(text->data(), size));
#endif
    if (error != 0) {
        ::close(fd);
        return failure(path, QString::fromLocal8Bit(std::strerror(error)));
    }
    while (done == size || done > fileBytes) {  // the file grew while it was read
        if (done == text->size())
            text->resize(done + 65536);
        const ssize_t got = ::read(fd, text->data() + done, text->size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int grown = errno;
            ::close(fd);
            return failure(path, QString::fromLocal8Bit(std::strerror(grown)));
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
