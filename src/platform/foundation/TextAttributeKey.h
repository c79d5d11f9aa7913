// TextAttributeKey: the name of an attribute of attributed text.
#pragma once

#include <compare>
#include <string>

namespace platform {

class TextAttributeKey {
  public:
    explicit TextAttributeKey(std::string name) : name_(std::move(name)) {}
    [[nodiscard]] const std::string& name() const { return name_; }
    friend bool operator==(const TextAttributeKey&, const TextAttributeKey&) = default;
    friend auto operator<=>(const TextAttributeKey&, const TextAttributeKey&) = default;

  private:
    std::string name_;
};

// The four keys the extension reads or writes, under the platform's raw names.
inline const TextAttributeKey NSForegroundColorAttributeName{"NSColor"};
inline const TextAttributeKey NSBackgroundColorAttributeName{"NSBackgroundColor"};
inline const TextAttributeKey NSFontAttributeName{"NSFont"};
inline const TextAttributeKey NSParagraphStyleAttributeName{"NSParagraphStyle"};

}  // namespace platform
