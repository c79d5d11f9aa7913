#include "prompter/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <random>

namespace prompter {
namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString kindProblem(mode_t mode) {
    if (S_ISLNK(mode))
        return QStringLiteral("it is a symbolic link, which is never followed");
    if (S_ISFIFO(mode))
        return QStringLiteral("it is a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("it is a device");
    if (S_ISDIR(mode))
        return QStringLiteral("it is a folder");
    if (!S_ISREG(mode))
        return QStringLiteral("it is not a regular file");
    return {};
}

}  // namespace

QString WholeFile::pathProblem(const QString& path) {
    struct stat entry {};
    if (::lstat(QFile::encodeName(path).constData(), &entry) != 0)
        return errno == ENOENT ? QString() : systemError(errno);
    return kindProblem(entry.st_mode);
}

std::optional<QByteArray> WholeFile::read(const QString& path, std::uint64_t maxBytes,
                                          QString* problem, bool* missing, bool followLink) {
    const auto fail = [&](const QString& why) -> std::optional<QByteArray> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    if (missing)
        *missing = false;
    const int fd =
        ::open(QFile::encodeName(path).constData(),
               O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT && missing)
            *missing = true;
        if (error == ELOOP)
            return fail(kindProblem(S_IFLNK));
        return fail(systemError(error));
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return fail(kindProblem(status.st_mode ? status.st_mode : S_IFSOCK));
    }
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            return fail(systemError(error));
        }
        if (got == 0)
            break;
        if (static_cast<std::uint64_t>(bytes.size()) + static_cast<std::uint64_t>(got) > maxBytes) {
            ::close(fd);
            return fail(QStringLiteral("it is larger than %1 bytes").arg(maxBytes));
        }
        bytes.append(buffer, got);
    }
    ::close(fd);
    return bytes;
}

QString WholeFile::write(const QString& path, const QByteArray& bytes, unsigned mode) {
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    const QByteArray name = QFile::encodeName(info.fileName());
    if (name.isEmpty())
        return QStringLiteral("it names no file");
    const int directory = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return systemError(errno);
    QByteArray temporary;
    int fd = -1;
    std::random_device random;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = "." + name + "." + QByteArray::number(random(), 16) + ".partial";
        fd = ::openat(directory, temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    const auto failed = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        if (!temporary.isEmpty())
            (void)::unlinkat(directory, temporary.constData(), 0);
        ::close(directory);
        return systemError(error);
    };
    if (fd < 0) {
        const int error = errno;
        temporary.clear();
        return failed(error);
    }
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written =
            ::write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return failed(written < 0 ? errno : EIO);
        done += written;
    }
    if (::fsync(fd) != 0)
        return failed(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return failed(errno);
    // A folder planted at the name makes the rename fail; a link there is replaced, its target
    // left as it was.
    if (::renameat(directory, temporary.constData(), directory, name.constData()) != 0)
        return failed(errno);
    (void)::fsync(directory);
    ::close(directory);
    return {};
}

}  // namespace prompter
