#include "host/InputText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace host {

std::optional<std::string> readInput(const std::string& path, std::string* problem) {
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string shown = standardInput ? "standard input" : "'" + path + "'";
    if (fd < 0) {
        *problem = "cannot open " + shown + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    struct stat status {};
    if (::fstat(fd, &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            *problem = "cannot read " + shown + ": it is a folder";
            if (!standardInput)
                ::close(fd);
            return std::nullopt;
        }
        if (S_ISREG(status.st_mode) && status.st_size > 0)
            text.reserve(static_cast<std::size_t>(status.st_size));
    }
    char buffer[1 << 16];
    for (;;) {
        // Large regular files are read straight into the text's own storage.
        if (text.capacity() - text.size() >= sizeof buffer) {
            const std::size_t old = text.size();
            text.resize(text.capacity());
            const ssize_t got = ::read(fd, text.data() + old, text.size() - old);
            if (got < 0 && errno == EINTR) {
                text.resize(old);
                continue;
            }
            if (got < 0) {
                *problem = "cannot read " + shown + ": " + std::strerror(errno);
                if (!standardInput)
                    ::close(fd);
                return std::nullopt;
            }
            text.resize(old + static_cast<std::size_t>(got));
            if (got == 0)
                break;
            continue;
        }
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *problem = "cannot read " + shown + ": " + std::strerror(errno);
            if (!standardInput)
                ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
    }
    if (!standardInput)
        ::close(fd);
    return text;
}

std::optional<std::size_t> firstInvalidUtf8(std::string_view bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead == 0xE0) {
            length = 3, low = 0xA0;  // no overlong forms
        } else if (lead >= 0xE1 && lead <= 0xEC) {
            length = 3;
        } else if (lead == 0xED) {
            length = 3, high = 0x9F;  // no surrogates
        } else if (lead >= 0xEE && lead <= 0xEF) {
            length = 3;
        } else if (lead == 0xF0) {
            length = 4, low = 0x90;
        } else if (lead >= 0xF1 && lead <= 0xF3) {
            length = 4;
        } else if (lead == 0xF4) {
            length = 4, high = 0x8F;  // nothing above U+10FFFF
        } else {
            return i;
        }
        if (i + length > size || data[i + 1] < low || data[i + 1] > high)
            return i;
        for (std::size_t k = 2; k < length; ++k) {
            if ((data[i + k] & 0xC0) != 0x80)
                return i;
        }
        i += length;
    }
    return std::nullopt;
}

}  // namespace host
