// FaultySystemCalls: system calls that fail on request, for proving that no failure loses or
// half-writes a text. Counts every call; can fail the Nth call (or the Nth of one kind), cut
// writes short, interrupt writes, script the random bytes UUIDs are made from, and block a
// chosen call until released. Safe to use from the worker thread a send writes on.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/SystemCalls.h"

namespace testing_support {

enum class Call {
    openat,
    write,
    read,
    fsync,
    close,
    mkdirat,
    linkat,
    renameat2,
    unlinkat,
    flock,
    fstatat,
    getrandom,
    listDirectory,
    fchmod
};

[[nodiscard]] const char* callName(Call call);

class FaultySystemCalls : public platform::SystemCalls {
  public:
    // Fails call number `n` (1-based, over every call made) with `error`.
    void failCall(std::size_t n, int error);
    // Fails the `nth` (1-based) call of `kind` with `error`.
    void failKind(Call kind, std::size_t nth, int error);
    // Every write writes at most half of what it is asked (at least one byte).
    void setShortWrites(bool shortWrites);
    // Every `k`-th write fails with EINTR before writing anything.
    void setInterruptEveryWrite(std::size_t k);
    // The next reads of the random source return these blocks, in order.
    void scriptRandomBytes(std::vector<std::array<std::uint8_t, 16>> blocks);
    // Opening an unnamed file (O_TMPFILE) answers EOPNOTSUPP, as some file systems do.
    void refuseUnnamedFiles(bool refuse);
    // The next call of `kind` waits until release() is called.
    void blockNext(Call kind);
    // Waits until a call is blocked (true) or `milliseconds` passed (false).
    bool waitUntilBlocked(int milliseconds);
    void release();

    [[nodiscard]] std::size_t callCount() const;
    [[nodiscard]] std::vector<Call> calls() const;
    // Whether every call of `kind` so far came from a thread other than the main one.
    [[nodiscard]] bool allOffMainThread(Call kind) const;

    int openat(int directory, const char* path, int flags, mode_t mode) override;
    ssize_t write(int fd, const void* buffer, std::size_t count) override;
    ssize_t read(int fd, void* buffer, std::size_t count) override;
    int fsync(int fd) override;
    int close(int fd) override;
    int mkdirat(int directory, const char* path, mode_t mode) override;
    int linkat(int fromDirectory, const char* fromPath, int toDirectory, const char* toPath,
               int flags) override;
    int renameat2(int fromDirectory, const char* fromPath, int toDirectory, const char* toPath,
                  unsigned int flags) override;
    int unlinkat(int directory, const char* path, int flags) override;
    int flock(int fd, int operation) override;
    int fstatat(int directory, const char* path, struct ::stat* status, int flags) override;
    int fchmod(int fd, mode_t mode) override;
    ssize_t getrandom(void* buffer, std::size_t count, unsigned int flags) override;
    int listDirectory(int fd, void (*visit)(const char* name, void* context),
                      void* context) override;

  private:
    // Records the call; returns the errno to fail it with, or 0 to let it through.
    int enter(Call kind);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
    std::vector<bool> onMain_;
    std::optional<std::size_t> failAt_;
    int failAtError_ = 0;
    std::optional<std::pair<Call, std::size_t>> failKind_;
    int failKindError_ = 0;
    bool shortWrites_ = false;
    std::size_t interruptEvery_ = 0;
    std::size_t writes_ = 0;
    std::deque<std::array<std::uint8_t, 16>> randomBlocks_;
    bool refuseUnnamed_ = false;
    std::optional<Call> blockKind_;
    bool blocked_ = false;
    bool released_ = false;
};

}  // namespace testing_support
