// ExtensionItem: one input item of a share request (NSExtensionItem).
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/extension/ItemProvider.h"
#include "platform/foundation/AttributedText.h"
#include "platform/foundation/Object.h"

namespace platform {

class ExtensionItem : public Object {
  public:
    [[nodiscard]] std::string_view className() const override { return "NSExtensionItem"; }

    // The item's providers in order, or none.
    [[nodiscard]] const std::optional<std::vector<std::shared_ptr<ItemProvider>>>& attachments()
        const {
        return attachments_;
    }
    void setAttachments(std::optional<std::vector<std::shared_ptr<ItemProvider>>> attachments) {
        attachments_ = std::move(attachments);
    }
    // The item's attributed text (the sharing application's own rendering), or none.
    [[nodiscard]] const std::optional<AttributedText>& attributedContentText() const {
        return contentText_;
    }
    void setAttributedContentText(std::optional<AttributedText> text) {
        contentText_ = std::move(text);
    }

  private:
    std::optional<std::vector<std::shared_ptr<ItemProvider>>> attachments_;
    std::optional<AttributedText> contentText_;
};

}  // namespace platform
