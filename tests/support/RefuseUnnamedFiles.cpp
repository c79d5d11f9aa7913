// Preloaded into a program (LD_PRELOAD), this makes every file system look like one without
// unnamed files, as FAT, network and some FUSE file systems are: opening with O_TMPFILE fails
// with EOPNOTSUPP. Every other open goes to the kernel unchanged. The tests preload it into
// the share host so that the real program takes the staging path.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

namespace {

int openOrRefuse(int directory, const char* path, int flags, mode_t mode) {
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_openat, directory, path, flags, mode));
}

mode_t modeArgument(int flags, va_list arguments) {
    if ((flags & O_CREAT) == O_CREAT || (flags & O_TMPFILE) == O_TMPFILE)
        return static_cast<mode_t>(va_arg(arguments, int));
    return 0;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int openat(int directory, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openOrRefuse(directory, path, flags, mode);
}

__attribute__((visibility("default"))) int openat64(int directory, const char* path, int flags,
                                                    ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openOrRefuse(directory, path, flags, mode);
}

__attribute__((visibility("default"))) int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openOrRefuse(AT_FDCWD, path, flags, mode);
}

__attribute__((visibility("default"))) int open64(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeArgument(flags, arguments);
    va_end(arguments);
    return openOrRefuse(AT_FDCWD, path, flags, mode);
}

}  // extern "C"
