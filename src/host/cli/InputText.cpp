#include "host/cli/InputText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/foundation/Unicode.h"

namespace host {
namespace {

constexpr std::size_t kLongestSequence = 4;
constexpr std::size_t kChunk = std::size_t(1) << 16;
constexpr std::size_t kLargestRead = std::size_t(4) << 20;

bool isInvalidAt(std::string_view bytes, std::size_t position, std::size_t* size) {
    const platform::Utf8Scalar scalar = platform::decodeUtf8(bytes, position);
    *size = scalar.size;
    return scalar.size == 1 && scalar.value == platform::kReplacementCharacter;
}

// Closes a descriptor this reader opened, however the read ends.
class OpenInput {
  public:
    explicit OpenInput(const std::string& path)
        : standardInput_(path == "-"),
          fd_(standardInput_ ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~OpenInput() {
        if (!standardInput_ && fd_ >= 0)
            ::close(fd_);
    }
    OpenInput(const OpenInput&) = delete;
    OpenInput& operator=(const OpenInput&) = delete;
    [[nodiscard]] int fd() const { return fd_; }

  private:
    bool standardInput_;
    int fd_;
};

std::string sizeInWords(std::uint64_t bytes) {
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    std::size_t unit = 0;
    double value = static_cast<double>(bytes);
    while (value >= 1024 && unit + 1 < std::size(units) && bytes % 1024 == 0) {
        value /= 1024;
        bytes /= 1024;
        ++unit;
    }
    return std::to_string(bytes) + " " + units[unit];
}

}  // namespace

std::optional<std::uint64_t> Utf8StreamCheck::feed(std::string_view bytes) {
    // Scalars that start early enough to be whole are decided now; the last few bytes wait
    // for the next piece, since their sequence may go on there.
    return checkUpTo(bytes,
                     bytes.size() >= kLongestSequence ? bytes.size() - (kLongestSequence - 1) : 0);
}

std::optional<std::uint64_t> Utf8StreamCheck::finish(std::string_view bytes) {
    return checkUpTo(bytes, bytes.size());
}

std::optional<std::uint64_t> Utf8StreamCheck::checkUpTo(std::string_view bytes, std::size_t end) {
    std::size_t position = static_cast<std::size_t>(checked_);
    while (position < end) {
        std::size_t size = 0;
        if (isInvalidAt(bytes, position, &size))
            return position;
        position += size;
    }
    checked_ = position;
    return std::nullopt;
}

std::variant<std::string, InputProblem> readInputText(const std::string& path,
                                                      std::uint64_t maxSize) {
    const std::string shown = path == "-" ? "standard input" : "'" + path + "'";
    using Kind = InputProblem::Kind;
    const auto problem = [&](Kind kind, const std::string& why) { return InputProblem{kind, why}; };
    const auto tooLarge = [&] {
        return problem(Kind::tooLarge, shown + " is larger than the size cap of " +
                                           sizeInWords(maxSize) +
                                           " (see --max-size); nothing was sent");
    };
    const OpenInput input(path);
    if (input.fd() < 0)
        return problem(Kind::unreadable, "cannot open " + shown + ": " + std::strerror(errno));

    std::string text;
    try {
        struct stat status {};
        if (::fstat(input.fd(), &status) == 0) {
            if (S_ISDIR(status.st_mode))
                return problem(Kind::unreadable, "cannot read " + shown + ": it is a folder");
            if (S_ISREG(status.st_mode) && status.st_size > 0) {
                const auto size = static_cast<std::uint64_t>(status.st_size);
                if (size > maxSize)
                    return tooLarge();
                // Read straight into the text's own storage, with room to notice growth.
                text.reserve(static_cast<std::size_t>(size) + 1);
            }
        }
        Utf8StreamCheck check;
        for (;;) {
            // Grow only when full: a file whose size was known fits exactly, with one byte to
            // spare for noticing its end (or that it grew).
            if (text.capacity() == text.size())
                text.reserve(text.size() < kChunk ? kChunk : text.size() * 2);
            const std::size_t old = text.size();
            // A few megabytes a read: resize() clears what it adds, so the room offered to one
            // read must not be the whole spare capacity each time.
            std::size_t room = std::min(text.capacity() - old, kLargestRead);
            // Never read past the cap by more than one byte: one byte over is enough to know.
            if (room > maxSize - old + 1)
                room = static_cast<std::size_t>(maxSize - old + 1);
            text.resize(old + room);
            const ssize_t got = ::read(input.fd(), text.data() + old, room);
            if (got < 0) {
                const int error = errno;
                text.resize(old);
                if (error == EINTR)
                    continue;
                return problem(Kind::unreadable,
                               "cannot read " + shown + ": " + std::strerror(error));
            }
            text.resize(old + static_cast<std::size_t>(got));
            if (text.size() > maxSize)
                return tooLarge();
            const auto bad = got == 0 ? check.finish(text) : check.feed(text);
            if (bad) {
                return problem(Kind::notUtf8, shown +
                                                  " is not UTF-8 text (invalid byte at offset " +
                                                  std::to_string(*bad) + "); nothing was sent");
            }
            if (got == 0)
                break;
        }
    } catch (const std::bad_alloc&) {
        return problem(
            Kind::noMemory,
            "not enough memory to read " + shown +
                (text.empty() ? "" : " (" + std::to_string(text.size()) + " bytes read)") +
                "; nothing was sent");
    } catch (const std::length_error&) {
        return problem(Kind::noMemory, "not enough memory to read " + shown + "; nothing was sent");
    }
    return text;
}

std::optional<std::size_t> firstInvalidUtf8(std::string_view bytes) {
    Utf8StreamCheck check;
    if (const auto bad = check.finish(bytes))
        return static_cast<std::size_t>(*bad);
    return std::nullopt;
}

}  // namespace host
