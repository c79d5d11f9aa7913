// ItemProvider: a share request's attachment (NSItemProvider).
//
// The sharing application registers items by type identifier. A load for a type looks for the
// first registered item whose type conforms to it and delivers it once, later, on a worker
// thread (never on the caller's thread), with the item or none and an error or none.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/Object.h"
#include "platform/foundation/PlatformError.h"
#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"

namespace platform {

// Raw bytes (NSData).
struct Data {
    std::string bytes;
    friend bool operator==(const Data&, const Data&) = default;
};

// What a provider can deliver: a string, data or a URL.
using ProvidedItem = std::variant<String, Data, URL>;

struct ItemLoadResult {
    std::optional<ProvidedItem> item;
    std::optional<PlatformError> error;
};

class ItemProvider : public Object {
  public:
    using Loader = std::function<ItemLoadResult()>;
    using CompletionHandler = std::function<void(const std::optional<ProvidedItem>& item,
                                                 const std::optional<PlatformError>& error)>;

    [[nodiscard]] std::string_view className() const override { return "NSItemProvider"; }

    // registerItemForTypeIdentifier: an item that loads as itself.
    void registerItem(std::string typeIdentifier, ProvidedItem item);
    // An item computed when loaded, which may also fail (a loader returning an error).
    void registerItemLoader(std::string typeIdentifier, Loader loader);

    [[nodiscard]] std::vector<std::string> registeredTypeIdentifiers() const;
    // True when any registered type conforms to `typeIdentifier`.
    [[nodiscard]] bool hasItemConformingToTypeIdentifier(std::string_view typeIdentifier) const;
    // loadItemForTypeIdentifier:options:completionHandler: returns at once; the handler runs
    // exactly once on a worker thread. Options are not used and may be null.
    void loadItemForTypeIdentifier(std::string_view typeIdentifier, const void* options,
                                   CompletionHandler completionHandler) const;

  private:
    struct Registration {
        std::string typeIdentifier;
        Loader loader;
    };
    std::vector<Registration> registrations_;
};

}  // namespace platform
