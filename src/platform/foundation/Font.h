// Font: the platform font (UIFont), a face, a weight and a point size.
//
// Text styles follow the user's text-size setting (the content size category). The point sizes
// are the device platform's dynamic type table for the two styles the extension uses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

enum class FontWeight { regular, bold };

// UIContentSizeCategory, smallest to largest; `large` is the platform default.
enum class ContentSizeCategory {
    extraSmall,
    small,
    medium,
    large,
    extraLarge,
    extraExtraLarge,
    extraExtraExtraLarge,
    accessibilityMedium,
    accessibilityLarge,
    accessibilityExtraLarge,
    accessibilityExtraExtraLarge,
    accessibilityExtraExtraExtraLarge,
};
inline constexpr int kContentSizeCategoryCount = 12;

// The short names people type ("xSmall" ... "xxxLarge", "AX1" ... "AX5"); case-sensitive.
[[nodiscard]] std::string_view contentSizeCategoryName(ContentSizeCategory category);
[[nodiscard]] std::optional<ContentSizeCategory> contentSizeCategoryNamed(std::string_view name);

enum class TextStyle { body, largeTitle };

class Font {
  public:
    static constexpr const char* kSystemFace = ".SystemUI";

    Font(std::string face, FontWeight weight, double pointSize)
        : face_(std::move(face)), weight_(weight), pointSize_(pointSize) {}

    static Font systemFontOfSize(double pointSize) {
        return {kSystemFace, FontWeight::regular, pointSize};
    }
    static Font boldSystemFontOfSize(double pointSize) {
        return {kSystemFace, FontWeight::bold, pointSize};
    }
    // The font for a text style at the process's current content size category (see
    // Application::preferredContentSizeCategory).
    static Font preferredFontForTextStyle(TextStyle style);
    // The same at a given category.
    static Font preferredFontForTextStyle(TextStyle style, ContentSizeCategory category);
    // Point size of a text style at a category, from the platform's table.
    [[nodiscard]] static double pointSizeForTextStyle(TextStyle style,
                                                      ContentSizeCategory category);

    // The same face and weight at another point size.
    [[nodiscard]] Font fontWithSize(double pointSize) const { return {face_, weight_, pointSize}; }

    [[nodiscard]] const std::string& face() const { return face_; }
    [[nodiscard]] FontWeight weight() const { return weight_; }
    [[nodiscard]] bool isBold() const { return weight_ == FontWeight::bold; }
    [[nodiscard]] double pointSize() const { return pointSize_; }

    friend bool operator==(const Font&, const Font&) = default;

  private:
    std::string face_;
    FontWeight weight_;
    double pointSize_;  // points
};

}  // namespace platform
