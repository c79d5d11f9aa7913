// AttributeValue: one value of an attributed text's attribute, shared and immutable.
//
// Colours compare by component, fonts by face, weight and size, paragraph styles by content.
// Values of any other kind (links, kerning, an application's own markers) are carried through
// untouched as opaque values with a type name and a payload.
#pragma once

#include <memory>
#include <string>
#include <variant>

#include "platform/foundation/Font.h"
#include "platform/foundation/ParagraphStyle.h"
#include "platform/foundation/RgbaColor.h"

namespace platform {

struct OpaqueValue {
    std::string typeName;  // e.g. "NSURL", "NSNumber"
    std::string payload;
    friend bool operator==(const OpaqueValue&, const OpaqueValue&) = default;
};

class AttributeValue;
// A value or none (null).
using AttributeValuePtr = std::shared_ptr<const AttributeValue>;

class AttributeValue {
  public:
    using Storage = std::variant<RgbaColor, Font, ParagraphStyle, OpaqueValue>;

    explicit AttributeValue(Storage storage) : storage_(std::move(storage)) {}

    static AttributeValuePtr make(RgbaColor color) {
        return std::make_shared<const AttributeValue>(std::move(color));
    }
    static AttributeValuePtr make(Font font) {
        return std::make_shared<const AttributeValue>(std::move(font));
    }
    static AttributeValuePtr make(ParagraphStyle style) {
        return std::make_shared<const AttributeValue>(style);
    }
    static AttributeValuePtr make(OpaqueValue value) {
        return std::make_shared<const AttributeValue>(std::move(value));
    }

    // isKindOfClass: the value when it is of that kind, null otherwise.
    [[nodiscard]] const RgbaColor* color() const { return std::get_if<RgbaColor>(&storage_); }
    [[nodiscard]] const Font* font() const { return std::get_if<Font>(&storage_); }
    [[nodiscard]] const ParagraphStyle* paragraphStyle() const {
        return std::get_if<ParagraphStyle>(&storage_);
    }
    [[nodiscard]] const OpaqueValue* opaque() const { return std::get_if<OpaqueValue>(&storage_); }

    [[nodiscard]] const Storage& storage() const { return storage_; }
    friend bool operator==(const AttributeValue&, const AttributeValue&) = default;

  private:
    Storage storage_;
};

// Equality of two values-or-none: both none, the same object, or equal contents.
[[nodiscard]] inline bool sameAttributeValue(const AttributeValuePtr& a,
                                             const AttributeValuePtr& b) {
    if (a == b)
        return true;
    if (!a || !b)
        return false;
    return *a == *b;
}

}  // namespace platform
