#include "reader/internal/Files.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

namespace reader::internal {

uid_t ownUser() {
    static const uid_t user = ::geteuid();
    return user;
}

std::string systemReason(int error) {
    return std::strerror(error);
}

std::string failure(const std::string& what, int error) {
    return what + ": " + systemReason(error);
}

bool sameFile(const struct ::stat& a, const struct ::stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int syncRetrying(int fd) {
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            return -1;
    }
    return 0;
}

ssize_t readHead(int fd, std::string& head) {
    ssize_t got = -1;
    do {
        got = ::pread(fd, head.data(), head.size(), 0);
    } while (got < 0 && errno == EINTR);
    return got;
}

int openText(int folder, const char* name) {
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int fd = ::openat(folder, name, kFlags | O_NOATIME);
    return fd >= 0 || errno != EPERM ? fd : ::openat(folder, name, kFlags);
}

void shareOut(std::size_t count, std::size_t perThread,
              const std::function<void(std::size_t, std::size_t)>& work) {
    const std::size_t threads = std::clamp<std::size_t>(
        std::min<std::size_t>(std::thread::hardware_concurrency(), 4), 1, count / perThread + 1);
    std::vector<std::thread> workers;
    for (std::size_t t = 1; t < threads; ++t) {
        try {
            workers.emplace_back(work, t, threads);
        } catch (const std::system_error&) {
            // No thread to be had: this one does that share too.
            workers.emplace_back();
            work(t, threads);
        }
    }
    work(0, threads);
    for (auto& worker : workers)
        if (worker.joinable())
            worker.join();
}

std::string kindOf(mode_t mode) {
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISREG(mode))
        return "a file";
    return "not a regular file";
}

DIR* readEntries(int folder) {
    const int dupFd = ::fcntl(folder, F_DUPFD_CLOEXEC, 0);
    if (dupFd < 0)
        return nullptr;
    DIR* dir = ::fdopendir(dupFd);
    if (!dir) {
        const int error = errno;
        ::close(dupFd);
        errno = error;
        return nullptr;
    }
    ::rewinddir(dir);
    return dir;
}

std::optional<std::set<std::string>> entryNames(int folder) {
    std::set<std::string> names;
    DIR* dir = readEntries(folder);
    if (!dir)
        return std::nullopt;
    errno = 0;
    while (const struct dirent* entry = ::readdir(dir))
        names.insert(entry->d_name);
    if (errno != 0) {
        ::closedir(dir);
        return std::nullopt;
    }
    ::closedir(dir);
    return names;
}

}  // namespace reader::internal
