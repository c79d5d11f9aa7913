#include "handover/SystemCalls.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace handover {

int SystemCalls::openat(int directory, const char* path, int flags, mode_t mode) {
    return ::openat(directory, path, flags, mode);
}

ssize_t SystemCalls::write(int fd, const void* buffer, std::size_t count) {
    return ::write(fd, buffer, count);
}

ssize_t SystemCalls::read(int fd, void* buffer, std::size_t count) {
    return ::read(fd, buffer, count);
}

int SystemCalls::fsync(int fd) {
    return ::fsync(fd);
}

int SystemCalls::close(int fd) {
    return ::close(fd);
}

int SystemCalls::mkdirat(int directory, const char* path, mode_t mode) {
    return ::mkdirat(directory, path, mode);
}

int SystemCalls::linkat(int fromDirectory, const char* fromPath, int toDirectory,
                        const char* toPath, int flags) {
    return ::linkat(fromDirectory, fromPath, toDirectory, toPath, flags);
}

int SystemCalls::renameat2(int fromDirectory, const char* fromPath, int toDirectory,
                           const char* toPath, unsigned int flags) {
#ifdef SYS_renameat2
    return static_cast<int>(
        ::syscall(SYS_renameat2, fromDirectory, fromPath, toDirectory, toPath, flags));
#else
    (void)fromDirectory, (void)fromPath, (void)toDirectory, (void)toPath, (void)flags;
    errno = ENOSYS;
    return -1;
#endif
}

int SystemCalls::unlinkat(int directory, const char* path, int flags) {
    return ::unlinkat(directory, path, flags);
}

int SystemCalls::flock(int fd, int operation) {
    return ::flock(fd, operation);
}

int SystemCalls::fstatat(int directory, const char* path, struct ::stat* status, int flags) {
    return ::fstatat(directory, path, status, flags);
}

int SystemCalls::fchmod(int fd, mode_t mode) {
    return ::fchmod(fd, mode);
}

int SystemCalls::listDirectory(int fd, void (*visit)(const char* name, void* context),
                               void* context) {
    DIR* directory = ::fdopendir(fd);
    if (!directory) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(directory)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            visit(entry->d_name, context);
        errno = 0;
    }
    const int failure = errno;
    ::closedir(directory);
    if (failure != 0) {
        errno = failure;
        return -1;
    }
    return 0;
}

SystemCalls& SystemCalls::direct() {
    static SystemCalls calls;
    return calls;
}

}  // namespace handover
