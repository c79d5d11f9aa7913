#include "prompter/ScriptFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>

namespace prompter {
namespace {

ScriptReadError failure(const QString& path, const QString& why) {
    return {QStringLiteral("Cannot read \u201c%1\u201d: %2").arg(path, why)};
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
    auto text = std::make_shared<std::string>();
    // One byte more than the file holds, so the end is seen without growing the buffer.
    text->resize(static_cast<std::size_t>(status.st_size) + 1);
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
