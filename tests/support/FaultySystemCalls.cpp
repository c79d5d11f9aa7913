#include "support/FaultySystemCalls.h"

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/foundation/Dispatch.h"

namespace testing_support {

const char* callName(Call call) {
    static constexpr const char* kNames[] = {
        "openat",    "write",    "read",  "fsync",   "close",     "mkdirat",       "linkat",
        "renameat2", "unlinkat", "flock", "fstatat", "getrandom", "listDirectory", "fchmod"};
    return kNames[static_cast<int>(call)];
}

void FaultySystemCalls::failCall(std::size_t n, int error) {
    std::lock_guard lock(mutex_);
    failAt_ = n;
    failAtError_ = error;
}

void FaultySystemCalls::failKind(Call kind, std::size_t nth, int error) {
    std::lock_guard lock(mutex_);
    failKind_ = {kind, nth};
    failKindError_ = error;
}

void FaultySystemCalls::setShortWrites(bool shortWrites) {
    std::lock_guard lock(mutex_);
    shortWrites_ = shortWrites;
}

void FaultySystemCalls::setInterruptEveryWrite(std::size_t k) {
    std::lock_guard lock(mutex_);
    interruptEvery_ = k;
}

void FaultySystemCalls::scriptRandomBytes(std::vector<std::array<std::uint8_t, 16>> blocks) {
    std::lock_guard lock(mutex_);
    randomBlocks_.assign(blocks.begin(), blocks.end());
}

void FaultySystemCalls::refuseUnnamedFiles(bool refuse) {
    std::lock_guard lock(mutex_);
    refuseUnnamed_ = refuse;
}

void FaultySystemCalls::blockNext(Call kind) {
    std::lock_guard lock(mutex_);
    blockKind_ = kind;
    released_ = false;
}

bool FaultySystemCalls::waitUntilBlocked(int milliseconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&] { return blocked_; });
}

void FaultySystemCalls::release() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    changed_.notify_all();
}

std::size_t FaultySystemCalls::callCount() const {
    std::lock_guard lock(mutex_);
    return calls_.size();
}

std::vector<Call> FaultySystemCalls::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

bool FaultySystemCalls::allOffMainThread(Call kind) const {
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < calls_.size(); ++i) {
        if (calls_[i] == kind && onMain_[i])
            return false;
    }
    return true;
}

int FaultySystemCalls::enter(Call kind) {
    std::unique_lock lock(mutex_);
    calls_.push_back(kind);
    onMain_.push_back(platform::Dispatch::isMainThread());
    if (blockKind_ == kind) {
        blockKind_.reset();
        blocked_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
        blocked_ = false;
    }
    if (failAt_ && *failAt_ == calls_.size())
        return failAtError_;
    if (failKind_ && failKind_->first == kind) {
        if (--failKind_->second == 0) {
            failKind_.reset();
            return failKindError_;
        }
    }
    return 0;
}

#define FAULTY_ENTER(kind, failure)      \
    if (const int error = enter(kind)) { \
        errno = error;                   \
        return failure;                  \
    }

int FaultySystemCalls::openat(int directory, const char* path, int flags, mode_t mode) {
    FAULTY_ENTER(Call::openat, -1);
    {
        std::lock_guard lock(mutex_);
        if (refuseUnnamed_ && (flags & O_TMPFILE) == O_TMPFILE) {
            errno = EOPNOTSUPP;
            return -1;
        }
    }
    return SystemCalls::openat(directory, path, flags, mode);
}

ssize_t FaultySystemCalls::write(int fd, const void* buffer, std::size_t count) {
    FAULTY_ENTER(Call::write, -1);
    {
        std::lock_guard lock(mutex_);
        ++writes_;
        if (interruptEvery_ && writes_ % interruptEvery_ == 0) {
            errno = EINTR;
            return -1;
        }
        if (shortWrites_ && count > 1)
            count /= 2;
    }
    return SystemCalls::write(fd, buffer, count);
}

ssize_t FaultySystemCalls::read(int fd, void* buffer, std::size_t count) {
    FAULTY_ENTER(Call::read, -1);
    return SystemCalls::read(fd, buffer, count);
}

int FaultySystemCalls::fsync(int fd) {
    FAULTY_ENTER(Call::fsync, -1);
    return SystemCalls::fsync(fd);
}

int FaultySystemCalls::close(int fd) {
    FAULTY_ENTER(Call::close, -1);
    return SystemCalls::close(fd);
}

int FaultySystemCalls::mkdirat(int directory, const char* path, mode_t mode) {
    FAULTY_ENTER(Call::mkdirat, -1);
    return SystemCalls::mkdirat(directory, path, mode);
}

int FaultySystemCalls::linkat(int fromDirectory, const char* fromPath, int toDirectory,
                              const char* toPath, int flags) {
    FAULTY_ENTER(Call::linkat, -1);
    return SystemCalls::linkat(fromDirectory, fromPath, toDirectory, toPath, flags);
}

int FaultySystemCalls::renameat2(int fromDirectory, const char* fromPath, int toDirectory,
                                 const char* toPath, unsigned int flags) {
    FAULTY_ENTER(Call::renameat2, -1);
    return SystemCalls::renameat2(fromDirectory, fromPath, toDirectory, toPath, flags);
}

int FaultySystemCalls::unlinkat(int directory, const char* path, int flags) {
    FAULTY_ENTER(Call::unlinkat, -1);
    return SystemCalls::unlinkat(directory, path, flags);
}

int FaultySystemCalls::flock(int fd, int operation) {
    FAULTY_ENTER(Call::flock, -1);
    return SystemCalls::flock(fd, operation);
}

int FaultySystemCalls::fstatat(int directory, const char* path, struct ::stat* status, int flags) {
    FAULTY_ENTER(Call::fstatat, -1);
    return SystemCalls::fstatat(directory, path, status, flags);
}

int FaultySystemCalls::fchmod(int fd, mode_t mode) {
    FAULTY_ENTER(Call::fchmod, -1);
    return SystemCalls::fchmod(fd, mode);
}

ssize_t FaultySystemCalls::getrandom(void* buffer, std::size_t count, unsigned int flags) {
    FAULTY_ENTER(Call::getrandom, -1);
    {
        std::lock_guard lock(mutex_);
        if (!randomBlocks_.empty() && count <= 16) {
            std::memcpy(buffer, randomBlocks_.front().data(), count);
            randomBlocks_.pop_front();
            return static_cast<ssize_t>(count);
        }
    }
    return SystemCalls::getrandom(buffer, count, flags);
}

int FaultySystemCalls::listDirectory(int fd, void (*visit)(const char* name, void* context),
                                     void* context) {
    if (const int error = enter(Call::listDirectory)) {
        SystemCalls::close(fd);
        errno = error;
        return -1;
    }
    return SystemCalls::listDirectory(fd, visit, context);
}

}  // namespace testing_support
