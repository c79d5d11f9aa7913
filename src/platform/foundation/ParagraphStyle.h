// ParagraphStyle: the platform paragraph style. The extension treats it as opaque: it is only
// ever removed or set whole, never looked into.
#pragma once

namespace platform {

enum class TextAlignment { natural, left, center, right, justified };

struct ParagraphStyle {
    TextAlignment alignment = TextAlignment::natural;
    double lineSpacing = 0;          // points
    double paragraphSpacing = 0;     // points
    double firstLineHeadIndent = 0;  // points

    friend bool operator==(const ParagraphStyle&, const ParagraphStyle&) = default;
};

}  // namespace platform
