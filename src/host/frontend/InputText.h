// Reading the text to share: as a stream, checked as UTF-8 while it comes, under a size cap.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace host {

// Why no text was read. Every kind ends the program with the usage status: nothing is sent.
struct InputProblem {
    enum class Kind { unreadable, notUtf8, tooLarge, noMemory };
    Kind kind = Kind::unreadable;
    std::string message;  // names the input and the reason, ready for a person
};

// The whole content of `path` ("-": standard input). Reading stops at once at the first byte
// that is not UTF-8 (the message gives its offset) or once the text would pass `maxSize` bytes;
// a file known to be larger is refused before any of it is read, and so is one too large to
// hold in memory. Folders are refused too.
[[nodiscard]] std::variant<std::string, InputProblem> readInputText(const std::string& path,
                                                                    std::uint64_t maxSize);

// The offset of the first byte that does not belong to valid UTF-8 (overlong forms,
// surrogates and values above U+10FFFF are invalid), or none when all of it is valid.
[[nodiscard]] std::optional<std::size_t> firstInvalidUtf8(std::string_view bytes);

// Checks UTF-8 as it arrives in pieces: a sequence cut at the end of one piece is completed by
// the next. The offset of the first invalid byte, counted from the start of the stream.
class Utf8StreamCheck {
  public:
    // Takes the bytes [checked(), bytes.size()) of the stream so far, which must start with what
    // was seen before. Returns the offset of the first invalid byte, if any.
    [[nodiscard]] std::optional<std::uint64_t> feed(std::string_view bytes);
    // At the end of the stream: a sequence left unfinished is invalid.
    [[nodiscard]] std::optional<std::uint64_t> finish(std::string_view bytes);
    // Bytes known valid so far.
    [[nodiscard]] std::uint64_t checked() const { return checked_; }

  private:
    // Decides the scalars that start before `end`.
    std::optional<std::uint64_t> checkUpTo(std::string_view bytes, std::size_t end);

    std::uint64_t checked_ = 0;
};

}  // namespace host
