// SystemCalls: the seam through which the hand-over reaches the kernel for files.
//
// Every program on either side of the import folder opens, makes, checks, writes, syncs, links
// and removes its entries through these calls. By default each is the system call it is named
// after (-1 and errno set on failure); tests give a subclass that fails chosen calls (EIO,
// ENOSPC, short writes, EINTR) to prove that no failure loses or half-writes a text. The seam
// keeps no state: a caller passes the calls it uses, and the platform keeps the process-wide
// choice of them (platform::SystemCalls::current()).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace handover {

class SystemCalls {
  public:
    virtual ~SystemCalls() = default;

    virtual int openat(int directory, const char* path, int flags, mode_t mode);
    virtual ssize_t write(int fd, const void* buffer, std::size_t count);
    virtual ssize_t read(int fd, void* buffer, std::size_t count);
    virtual int fsync(int fd);
    virtual int close(int fd);
    virtual int mkdirat(int directory, const char* path, mode_t mode);
    virtual int linkat(int fromDirectory, const char* fromPath, int toDirectory, const char* toPath,
                       int flags);
    virtual int renameat2(int fromDirectory, const char* fromPath, int toDirectory,
                          const char* toPath, unsigned int flags);
    virtual int unlinkat(int directory, const char* path, int flags);
    virtual int flock(int fd, int operation);
    virtual int fstatat(int directory, const char* path, struct ::stat* status, int flags);
    virtual int fchmod(int fd, mode_t mode);
    // Names in a directory, read from an open descriptor (the descriptor is consumed).
    // Returns -1 with errno on failure; `visit` gets each name except "." and "..".
    virtual int listDirectory(int fd, void (*visit)(const char* name, void* context),
                              void* context);

    // The system's own calls, for a caller that has no others to give.
    static SystemCalls& direct();
};

}  // namespace handover
