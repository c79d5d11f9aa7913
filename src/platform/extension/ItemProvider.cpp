#include "platform/extension/ItemProvider.h"

#include "platform/extension/TypeIdentifier.h"
#include "platform/foundation/Dispatch.h"

namespace platform {

void ItemProvider::registerItem(std::string typeIdentifier, ProvidedItem item) {
    registerItemLoader(std::move(typeIdentifier), [item = std::move(item)] {
        return ItemLoadResult{item, std::nullopt};
    });
}

void ItemProvider::registerItemLoader(std::string typeIdentifier, Loader loader) {
    registrations_.push_back({std::move(typeIdentifier), std::move(loader)});
}

std::vector<std::string> ItemProvider::registeredTypeIdentifiers() const {
    std::vector<std::string> types;
    for (const Registration& registration : registrations_)
        types.push_back(registration.typeIdentifier);
    return types;
}

bool ItemProvider::hasItemConformingToTypeIdentifier(std::string_view typeIdentifier) const {
    for (const Registration& registration : registrations_) {
        if (typeConformsTo(registration.typeIdentifier, typeIdentifier))
            return true;
    }
    return false;
}

void ItemProvider::loadItemForTypeIdentifier(std::string_view typeIdentifier,
                                             const void* /*options*/,
                                             CompletionHandler completionHandler) const {
    Loader loader;
    for (const Registration& registration : registrations_) {
        if (typeConformsTo(registration.typeIdentifier, typeIdentifier)) {
            loader = registration.loader;
            break;
        }
    }
    std::string requested(typeIdentifier);
    Dispatch::asyncGlobal(QualityOfService::userInitiated,
                          [loader = std::move(loader), handler = std::move(completionHandler),
                           requested = std::move(requested)] {
                              if (!loader) {
                                  PlatformError error;
                                  error.domain = "NSItemProviderErrorDomain";
                                  error.code = -1000;  // item unavailable
                                  error.userInfo[PlatformError::kLocalizedDescriptionKey] =
                                      "Cannot load representation of type " + requested;
                                  handler(std::nullopt, error);
                                  return;
                              }
                              const ItemLoadResult result = loader();
                              handler(result.item, result.error);
                          });
}

}  // namespace platform
