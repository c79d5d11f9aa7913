// SystemCalls: the one seam through which the platform and the extension reach the kernel for
// files and randomness: the hand-over's file calls (handover::SystemCalls) and getrandom.
//
// Production code calls SystemCalls::current(); tests install a subclass that fails chosen
// calls (EIO, ENOSPC, short writes, EINTR) to prove that no failure loses or half-writes a
// text. Each method has the contract of the system call it is named after: -1 and errno set
// on failure. The choice is the process's, kept here, so the host and the bundle it loads
// share it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

#include "handover/SystemCalls.h"

namespace platform {

// The hand-over's file calls, and the random bytes UUIDs are made from.
class SystemCalls : public handover::SystemCalls {
  public:
    virtual ssize_t getrandom(void* buffer, std::size_t count, unsigned int flags);

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
