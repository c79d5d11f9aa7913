// FuzzSupport: what every fuzz target shares. A broken promise ends the run with a message;
// a reader of arbitrary input bytes; and the entry functions, one per target.
//
// The targets are built twice: with libFuzzer (the `fuzz` preset: each one its own program),
// and into the everyday test suite, which replays the checked-in seed corpora through the same
// entry functions so the corpora stay valid as the code changes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace fuzzing {

// The entry functions. Each returns 0; a broken promise goes to fail().
int titleLineOneInput(const std::uint8_t* data, std::size_t size);
int attributedTextOneInput(const std::uint8_t* data, std::size_t size);
int colorHelpersOneInput(const std::uint8_t* data, std::size_t size);
int propertyListOneInput(const std::uint8_t* data, std::size_t size);
int interfaceFileOneInput(const std::uint8_t* data, std::size_t size);
int hostOptionsOneInput(const std::uint8_t* data, std::size_t size);
int remoteCommandOneInput(const std::uint8_t* data, std::size_t size);  // the remote's reader

// Thrown by the replay's failure handler. Not a std::exception, so no target's own handler
// for the errors it expects can swallow it.
struct CheckFailure {
    std::string message;
};

using FailureHandler = void (*)(const std::string& message);

// By default a broken promise prints and aborts, which libFuzzer records as a crash with its
// input. The corpus replay installs a handler that throws CheckFailure instead.
inline FailureHandler gFailureHandler = nullptr;

[[noreturn]] inline void fail(const std::string& message) {
    if (gFailureHandler)
        gFailureHandler(message);
    std::fprintf(stderr, "broken promise: %s\n", message.c_str());
    std::abort();
}

inline void check(bool condition, const std::string_view what) {
    if (!condition)
        fail(std::string(what));
}

// Reads an input as a sequence of choices; once the bytes run out every read gives zeros, so
// any input, however short, is a complete run.
class Bytes {
  public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    [[nodiscard]] bool empty() const { return position_ >= size_; }

    std::uint8_t byte() { return empty() ? 0 : data_[position_++]; }

    // A number in [0, bound); 0 when bound is 0.
    std::uint32_t below(std::uint32_t bound) {
        if (bound == 0)
            return 0;
        std::uint32_t value = byte();
        if (bound > 256)
            value = (value << 8) | byte();
        return value % bound;
    }

    bool flag() { return (byte() & 1) != 0; }

    // Eight raw bytes as a double: every bit pattern, NaNs and infinities included.
    double anyDouble() {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i)
            bits = (bits << 8) | byte();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    // Up to `maxLength` bytes, the length read first.
    std::string text(std::size_t maxLength) {
        const std::size_t length = below(static_cast<std::uint32_t>(maxLength + 1));
        std::string result;
        for (std::size_t i = 0; i < length && !empty(); ++i)
            result.push_back(static_cast<char>(byte()));
        return result;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace fuzzing
