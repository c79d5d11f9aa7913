// TextView: a view that shows attributed text (UITextView).
#pragma once

#include "platform/foundation/AttributedText.h"
#include "platform/ui/View.h"

namespace platform {

class TextView : public View {
  public:
    [[nodiscard]] std::string_view className() const override { return "UITextView"; }
    // initWithCoder: also reads "text" (plain content) and "editable".
    bool initWithCoder(const Coder& coder);
    static std::shared_ptr<TextView> make(Rect frame = {});

    // attributedText: the content as the view now holds it.
    [[nodiscard]] const AttributedText& attributedText() const { return attributedText_; }
    void setAttributedText(AttributedText text);
    [[nodiscard]] EdgeInsets textContainerInset() const { return textContainerInset_; }
    void setTextContainerInset(EdgeInsets inset);
    [[nodiscard]] bool isEditable() const { return editable_; }
    void setEditable(bool editable) { editable_ = editable; }

    // Number of times the content was set: lets a renderer notice a change cheaply.
    [[nodiscard]] std::uint64_t contentGeneration() const { return contentGeneration_; }

  private:
    AttributedText attributedText_;
    EdgeInsets textContainerInset_{8, 0, 8, 0};  // the platform default
    bool editable_ = true;
    std::uint64_t contentGeneration_ = 0;
};

}  // namespace platform
