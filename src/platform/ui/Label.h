// Label: a view that shows one line of plain text (UILabel).
//
// Its intrinsic size is the text's: kCharacterWidthFactor of the font size per character (code
// point) wide and kLineHeightFactor of the font size high; an empty label has size zero. A new
// text or font marks the superview as needing layout, since the label's size may change.
#pragma once

#include <string>

#include "platform/foundation/Font.h"
#include "platform/ui/View.h"

namespace platform {

class Label : public View {
  public:
    static constexpr double kCharacterWidthFactor = 0.6;  // of the point size, per character
    static constexpr double kLineHeightFactor = 1.2;      // of the point size
    static constexpr double kDefaultFontSize = 17.0;      // points

    [[nodiscard]] std::string_view className() const override { return "UILabel"; }

    // initWithCoder: also reads "text" and "fontSize" (a system font); false when the archive
    // fails.
    bool initWithCoder(const Coder& coder);
    static std::shared_ptr<Label> make(Rect frame = {});

    // UTF-8.
    [[nodiscard]] const std::string& text() const { return text_; }
    void setText(std::string text);
    [[nodiscard]] const Font& font() const { return font_; }
    void setFont(Font font);

    [[nodiscard]] Size intrinsicContentSize() const override;

  private:
    void contentSizeChanged();

    std::string text_;
    Font font_ = Font::systemFontOfSize(kDefaultFontSize);
};

}  // namespace platform
