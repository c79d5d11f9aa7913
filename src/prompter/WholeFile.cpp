#include "prompter/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "frame/WholeFileWrite.h"

namespace prompter {
namespace {

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString kindProblem(mode_t mode) {
    return QString::fromStdString(frame::fileKindProblem(mode));
}

}  // namespace

QString WholeFile::pathProblem(const QString& path) {
    return QString::fromStdString(frame::pathProblem(QFile::encodeName(path).toStdString()));
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
    return QString::fromStdString(frame::writeFileWhole(
        QFile::encodeName(path).toStdString(),
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), mode));
}

}  // namespace prompter
