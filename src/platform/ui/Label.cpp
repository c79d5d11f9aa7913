#include "platform/ui/Label.h"

#include "platform/foundation/ClassRegistry.h"

namespace platform {
namespace {

// Code points of a UTF-8 text: every byte that does not continue a sequence starts one.
std::size_t characterCount(const std::string& text) {
    std::size_t count = 0;
    for (const char byte : text) {
        if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

}  // namespace

bool Label::initWithCoder(const Coder& coder) {
    if (!View::initWithCoder(coder))
        return false;
    if (auto text = coder.decodeString("text"))
        text_ = std::move(*text);
    if (const auto size = coder.decodeDouble("fontSize"))
        font_ = Font::systemFontOfSize(*size);
    return true;
}

std::shared_ptr<Label> Label::make(Rect frame) {
    auto label = std::make_shared<Label>();
    label->initWithFrame(frame);
    return label;
}

void Label::setText(std::string text) {
    if (text == text_)
        return;
    text_ = std::move(text);
    contentSizeChanged();
}

void Label::setFont(Font font) {
    if (font == font_)
        return;
    font_ = std::move(font);
    contentSizeChanged();
}

Size Label::intrinsicContentSize() const {
    if (text_.empty())
        return {0.0, 0.0};
    const double size = font_.pointSize();
    return {static_cast<double>(characterCount(text_)) * (kCharacterWidthFactor * size),
            kLineHeightFactor * size};
}

void Label::contentSizeChanged() {
    if (const auto parent = superview())
        parent->setNeedsLayout();
}

namespace {
[[maybe_unused]] const bool registered =
    ClassRegistry::shared().registerClass(decodableClass<Label>("UILabel", "UIView"));
}  // namespace

}  // namespace platform
