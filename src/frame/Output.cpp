#include "frame/Output.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace frame {
namespace {
constexpr std::size_t kBufferSize = std::size_t(1) << 16;
}  // namespace

Output::Output(int fd) : fd_(fd) {
    buffer_.reserve(kBufferSize);
}

Output::~Output() {
    flush();
}

Output& Output::operator<<(std::string_view bytes) {
    if (error_)
        return *this;
    if (buffer_.size() + bytes.size() > kBufferSize) {
        writeOut(buffer_);
        buffer_.clear();
        // A large piece goes out as it is, without passing through the buffer.
        if (bytes.size() >= kBufferSize) {
            writeOut(bytes);
            return *this;
        }
    }
    buffer_.append(bytes);
    return *this;
}

bool Output::flush() {
    if (!buffer_.empty()) {
        writeOut(buffer_);
        buffer_.clear();
    }
    return !failed();
}

void Output::writeOut(std::string_view bytes) {
    while (!error_ && !bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // A non-blocking descriptor (shared with a parent that set it so) takes more
                // once it has room; it is not an error.
                struct pollfd ready = {fd_, POLLOUT, 0};
                (void)::poll(&ready, 1, -1);
            } else if (errno != EINTR) {
                error_ = errno;
            }
            continue;
        }
        if (written == 0) {
            error_ = EIO;  // a device that takes nothing would be retried for ever
            continue;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string Output::errorText() const {
    return error_ ? std::strerror(error_) : "";
}

}  // namespace frame
