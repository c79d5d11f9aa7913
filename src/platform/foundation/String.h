// String: the platform's immutable string, UTF-8 in a shared buffer.
//
// Copies and substrings share the characters; nothing here ever copies them except `str()`.
// A shared text can therefore pass from the share sheet to the view, the captured text and the
// background write without its bytes being duplicated, and it may be read from any thread.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

class String {
  public:
    String() = default;
    String(const char* text) : String(std::string(text)) {}  // NOLINT: implicit like a literal
    String(std::string text);                                // NOLINT: takes ownership
    explicit String(std::string_view text) : String(std::string(text)) {}

    [[nodiscard]] std::string_view view() const {
        return buffer_ ? std::string_view(*buffer_).substr(offset_, length_) : std::string_view();
    }
    [[nodiscard]] std::size_t size() const { return length_; }
    [[nodiscard]] bool empty() const { return length_ == 0; }
    [[nodiscard]] std::string str() const { return std::string(view()); }

    // The bytes [pos, pos + count) clamped to the string, sharing this string's buffer.
    [[nodiscard]] String substr(std::size_t pos, std::size_t count = std::string::npos) const;

    // Identity of the character buffer: equal for strings that share their bytes.
    [[nodiscard]] const void* storageIdentity() const { return buffer_.get(); }

    friend bool operator==(const String& a, const String& b) { return a.view() == b.view(); }
    friend bool operator==(const String& a, std::string_view b) { return a.view() == b; }
    friend bool operator==(const String& a, const char* b) {
        return a.view() == std::string_view(b);
    }
    friend bool operator==(const String& a, const std::string& b) { return a.view() == b; }

  private:
    std::shared_ptr<const std::string> buffer_;
    std::size_t offset_ = 0;
    std::size_t length_ = 0;
};

}  // namespace platform
