#include "host/frontend/InputText.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include <simdjson.h>

#include "frame/SizeCap.h"
#include "host/frontend/ListingFormat.h"
#include "platform/foundation/Unicode.h"

namespace host {
namespace {

constexpr std::size_t kLongestSequence = 4;
// A piece of a stream whose size is not known beforehand.
constexpr std::size_t kPiece = std::size_t(4) << 20;
// One read at a time is checked while its bytes are still in the processor's cache: reads of
// a quarter megabyte were measured to cost less in all than reads of 1 or 4 MB, whose bytes
// the check had to fetch from memory again.
constexpr std::size_t kLargestRead = std::size_t(256) << 10;

bool isContinuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

bool isInvalidAt(std::string_view bytes, std::size_t position, std::size_t* size) {
    const platform::Utf8Scalar scalar = platform::decodeUtf8(bytes, position);
    *size = scalar.size;
    return scalar.size == 1 && scalar.value == platform::kReplacementCharacter;
}

// Asks the kernel to back the storage of a large text with huge pages. Every 4 KB page of a
// text is otherwise a fault of its own on first touch (25,600 for 100 MB), which costs more
// than reading and checking the bytes; a huge page is one fault per 2 MB. Only the whole huge
// pages inside the storage are advised, so nothing beside it changes. A hint only: where the
// kernel has no huge pages, or they are turned off, the text is held in small pages as before.
void adviseHugePages(char* data, std::size_t size) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t end = (start + size) & ~(kHugePage - 1);
#ifdef MADV_HUGEPAGE
    if (end > first)
        (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#endif
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

// Appends at most `room` bytes read from `fd` to `piece` (whose capacity has room for them):
// what read() returns. Where the library can grow a string without clearing the new bytes, the
// read fills them directly, so no byte of a big text is written twice before it arrives.
ssize_t readInto(int fd, std::string& piece, std::size_t room) {
    const std::size_t old = piece.size();
    ssize_t got = -1;
#if defined(__cpp_lib_string_resize_and_overwrite)
    piece.resize_and_overwrite(old + room, [&](char* data, std::size_t) {
        got = ::read(fd, data + old, room);
        return old + static_cast<std::size_t>(std::max<ssize_t>(got, 0));
    });
#else
    piece.resize(old + room);
    got = ::read(fd, piece.data() + old, room);
    const int error = errno;
    piece.resize(old + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    errno = error;
#endif
    return got;
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
    // Nearly every text is valid: a vectorised check settles everything up to the start of the
    // scalar that `end` falls in at memory speed. Only what it finds invalid, and the last few
    // bytes, are walked scalar by scalar, which gives the exact offset of the first bad byte.
    std::size_t whole = std::min(end, bytes.size());
    for (int back = 0;
         back < 3 && whole > position && whole < bytes.size() && isContinuation(bytes[whole]);
         ++back)
        --whole;
    if (whole > position && simdjson::validate_utf8(bytes.data() + position, whole - position))
        position = whole;
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
    const std::string shown = path == "-" ? "standard input" : quotedInMessage(path);
    using Kind = InputProblem::Kind;
    const auto problem = [&](Kind kind, const std::string& why) { return InputProblem{kind, why}; };
    const auto tooLarge = [&] {
        return problem(Kind::tooLarge, shown + " is larger than the size cap of " +
                                           frame::sizeInWords(maxSize) +
                                           " (see --max-size); nothing was sent");
    };
    const OpenInput input(path);
    if (input.fd() < 0)
        return problem(Kind::unreadable, "cannot open " + shown + ": " + std::strerror(errno));

    // The text is read into pieces that are never copied as they fill, then joined once into
    // the text's own storage, each piece let go as soon as it is copied: the peak is the text
    // and one piece, whether the input is a file or a pipe. A piece never ends inside a UTF-8
    // sequence (an unfinished one moves on to the next piece), so each is checked on its own.
    std::vector<std::string> pieces;
    std::uint64_t total = 0;
    try {
        std::uint64_t known = 0;
        struct stat status {};
        if (::fstat(input.fd(), &status) == 0) {
            if (S_ISDIR(status.st_mode))
                return problem(Kind::unreadable, "cannot read " + shown + ": it is a folder");
            if (S_ISREG(status.st_mode) && status.st_size > 0) {
                known = static_cast<std::uint64_t>(status.st_size);
                if (known > maxSize)
                    return tooLarge();
            }
        }
        // The most ever held: the cap and one byte more, enough to know the input is over it.
        // Counted so that no cap, however large, wraps.
        const std::uint64_t limit =
            maxSize == std::numeric_limits<std::uint64_t>::max() ? maxSize : maxSize + 1;
        Utf8StreamCheck check;
        std::uint64_t pieceStart = 0;  // the offset of the last piece in the stream
        for (;;) {
            if (pieces.empty() || pieces.back().size() == pieces.back().capacity()) {
                // A file of known size fits its first piece exactly, with one byte to spare for
                // noticing its end (or that it grew).
                const std::uint64_t want = std::min<std::uint64_t>(
                    pieces.empty() && known > 0 ? known + 1 : kPiece, limit - total);
                std::string next;
                next.reserve(static_cast<std::size_t>(want) + kLongestSequence);
                adviseHugePages(next.data(), next.capacity());
                if (!pieces.empty()) {
                    std::string& full = pieces.back();
                    const auto decided = static_cast<std::size_t>(check.checked());
                    next.append(full, decided);
                    full.resize(decided);
                    pieceStart += decided;
                    check = Utf8StreamCheck();
                }
                pieces.push_back(std::move(next));
            }
            std::string& piece = pieces.back();
            const std::size_t old = piece.size();
            // A few megabytes a read. Never more than one byte past the cap; never zero bytes,
            // which would read as the end of the input.
            const std::size_t room = static_cast<std::size_t>(
                std::min<std::uint64_t>({piece.capacity() - old, kLargestRead, limit - total}));
            if (room == 0)
                return tooLarge();
            const ssize_t got = readInto(input.fd(), piece, room);
            if (got < 0) {
                const int error = errno;
                if (error == EINTR)
                    continue;
                return problem(Kind::unreadable,
                               "cannot read " + shown + ": " + std::strerror(error));
            }
            total += static_cast<std::uint64_t>(got);
            if (total > maxSize)
                return tooLarge();
            const auto bad = got == 0 ? check.finish(piece) : check.feed(piece);
            if (bad) {
                return problem(Kind::notUtf8,
                               shown + " is not UTF-8 text (invalid byte at offset " +
                                   std::to_string(pieceStart + *bad) + "); nothing was sent");
            }
            if (got == 0)
                break;
        }
        if (pieces.size() == 1)
            return std::move(pieces.front());
        std::string text;
        text.reserve(static_cast<std::size_t>(total));
        adviseHugePages(text.data(), text.capacity());
        for (std::string& piece : pieces) {
            text.append(piece);
            std::string().swap(piece);
        }
        return text;
    } catch (const std::bad_alloc&) {
        return problem(Kind::noMemory,
                       "not enough memory to read " + shown +
                           (total == 0 ? "" : " (" + std::to_string(total) + " bytes read)") +
                           "; nothing was sent");
    } catch (const std::length_error&) {
        return problem(Kind::noMemory, "not enough memory to read " + shown + "; nothing was sent");
    }
}

std::optional<std::size_t> firstInvalidUtf8(std::string_view bytes) {
    Utf8StreamCheck check;
    if (const auto bad = check.finish(bytes))
        return static_cast<std::size_t>(*bad);
    return std::nullopt;
}

}  // namespace host
