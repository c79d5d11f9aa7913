#include "share/PlainTextLoading.h"

namespace quorvane {

void loadPlainText(const platform::ExtensionItem& item,
                   std::function<void(platform::String)> completion) {
    const auto& attachments = item.attachments();
    if (!attachments || attachments->empty())
        return;
    const std::shared_ptr<platform::ItemProvider>& provider = attachments->front();
    if (!provider || !provider->hasItemConformingToTypeIdentifier(kPlainTextTypeIdentifier))
        return;
    provider->loadItemForTypeIdentifier(
        kPlainTextTypeIdentifier, nullptr,
        [completion = std::move(completion)](
            const std::optional<platform::ProvidedItem>& delivered,
            const std::optional<platform::PlatformError>& /*error*/) {
            if (!delivered)
                return;
            if (const auto* text = std::get_if<platform::String>(&*delivered))
                completion(*text);
        });
}

}  // namespace quorvane
