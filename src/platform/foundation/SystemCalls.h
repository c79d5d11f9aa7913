// SystemCalls: the one seam through which the platform and the extension reach the kernel for
// files and randomness.
//
// Production code calls SystemCalls::current(); tests install a subclass that fails chosen
// calls (EIO, ENOSPC, short writes, EINTR) to prove that no failure loses or half-writes a
// text. Each method has the contract of the system call it is named after: -1 and errno set
// on failure.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace platform {

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
    virtual ssize_t getrandom(void* buffer, std::size_t count, unsigned int flags);
    // Names in a directory, read from an open descriptor (the descriptor is consumed).
    // Returns -1 with errno on failure; `visit` gets each name except "." and "..".
    virtual int listDirectory(int fd, void (*visit)(const char* name, void* context),
                              void* context);

    // The calls in use: the real ones unless a test installed others.
    static SystemCalls& current();
    // Installs `calls` (null: back to the real ones). Returns the previous ones.
    static SystemCalls* install(SystemCalls* calls);
};

// Installs other system calls for a scope (tests).
class ScopedSystemCalls {
  public:
    explicit ScopedSystemCalls(SystemCalls& calls) : previous_(SystemCalls::install(&calls)) {}
    ~ScopedSystemCalls() { SystemCalls::install(previous_); }
    ScopedSystemCalls(const ScopedSystemCalls&) = delete;
    ScopedSystemCalls& operator=(const ScopedSystemCalls&) = delete;

  private:
    SystemCalls* previous_;
};

}  // namespace platform
