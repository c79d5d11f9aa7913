#include "reader/internal/MoveOrCopy.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "reader/internal/DeliveryRecords.h"

namespace reader::internal {

int linkDescriptor(int fd, int folder, const std::string& name) {
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, procPath.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    if (errno != ENOENT)
        return -1;
    // No /proc: link the descriptor itself (needs the right to do so).
    return ::linkat(fd, "", folder, name.c_str(), AT_EMPTY_PATH);
}

std::optional<Copy> copyInto(const Hold& text, int folder, const std::string& folderPath,
                             const std::string& id, bool sync, std::string* problem) {
    Copy copy;
    copy.fd = Fd(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (!copy.fd) {
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            *problem = failure("making a copy in " + folderPath, errno);
            return std::nullopt;
        }
        copy.partial = partialName(id);
        removeLeftoverPartial(folder, id);
        copy.fd = Fd(::openat(folder, copy.partial.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!copy.fd) {
            *problem = failure("making " + folderPath + "/" + copy.partial, errno);
            return std::nullopt;
        }
    }
    auto fail = [&](const std::string& what, int error) {
        *problem = failure(what + " " + folderPath, error);
        if (!copy.partial.empty())
            (void)::unlinkat(folder, copy.partial.c_str(), 0);
        return std::nullopt;
    };
    std::string buffer(kCopyChunk, '\0');
    off_t offset = 0;
    for (;;) {
        const ssize_t got = ::pread(text.fd.get(), buffer.data(), buffer.size(), offset);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail("reading " + id + " to copy it into", errno);
        if (got == 0)
            break;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put =
                ::write(copy.fd.get(), buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return fail("copying " + id + " into", put < 0 ? errno : EIO);
            done += put;
        }
        offset += got;
    }
    const struct timespec times[2] = {text.status.st_atim, text.status.st_mtim};
    (void)::futimens(copy.fd.get(), times);
    (void)::fchmod(copy.fd.get(), 0600);
    if (sync && syncRetrying(copy.fd.get()) != 0)
        return fail("syncing the copy of " + id + " in", errno);
    return copy;
}

bool linksRefused(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EMLINK;
}

std::string portableName(std::string name) {
    for (char& c : name)
        if (std::string_view("\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '-';
    return name;
}

int renameNoReplace(int folder, const std::string& from, const std::string& to, bool* noReplace) {
    if (*noReplace) {
        if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return -1;
        *noReplace = false;
    }
    Fd reserved(
        ::openat(folder, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!reserved)
        return -1;
    if (::renameat(folder, from.c_str(), folder, to.c_str()) == 0)
        return 0;
    const int error = errno;
    (void)::unlinkat(folder, to.c_str(), 0);
    errno = error;
    return -1;
}

bool sameBytes(int folder, const std::string& name, const struct ::stat& status, const Hold& held) {
    if (!held.fd || status.st_size != held.status.st_size)
        return false;
    Fd file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file)
        return false;
    std::string mine(kCopyChunk, '\0'), theirs(kCopyChunk, '\0');
    for (off_t offset = 0;;) {
        const ssize_t a = ::pread(held.fd.get(), mine.data(), mine.size(), offset);
        const ssize_t b = ::pread(file.get(), theirs.data(), theirs.size(), offset);
        if (a < 0 || a != b)
            return false;
        if (a == 0)
            return true;
        if (std::memcmp(mine.data(), theirs.data(), static_cast<std::size_t>(a)) != 0)
            return false;
        offset += a;
    }
}

}  // namespace reader::internal
