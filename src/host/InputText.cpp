#include "host/InputText.h"

#include "platform/foundation/Unicode.h"

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
    for (std::size_t i = 0; i < bytes.size();) {
        const platform::Utf8Scalar scalar = platform::decodeUtf8(bytes, i);
        if (scalar.size == 1 && scalar.value == platform::kReplacementCharacter)
            return i;
        i += scalar.size;
    }
    return std::nullopt;
}

}  // namespace host
