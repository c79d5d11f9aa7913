// Descriptor: an open file or folder of the hand-over, closed (through the calls that opened
// it) when its scope ends.
#pragma once

#include <utility>

#include "handover/SystemCalls.h"

namespace handover {

class Descriptor {
  public:
    Descriptor() : Descriptor(-1) {}
    // Takes `fd` (which may be -1: none), to be closed by the system's own close.
    explicit Descriptor(int fd) : Descriptor(fd, SystemCalls::direct()) {}
    // Takes `fd` (which may be -1: none), to be closed through `calls`.
    Descriptor(int fd, SystemCalls& calls) : fd_(fd), calls_(&calls) {}
    Descriptor(Descriptor&& other) noexcept
        : fd_(std::exchange(other.fd_, -1)), calls_(other.calls_) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
            calls_ = other.calls_;
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { reset(); }

    [[nodiscard]] int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held and holds `fd` instead.
    void reset(int fd = -1) {
        if (fd_ >= 0)
            calls_->close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
    SystemCalls* calls_;
};

}  // namespace handover
