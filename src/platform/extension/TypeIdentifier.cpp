#include "platform/extension/TypeIdentifier.h"

#include <array>
#include <utility>

namespace platform {
namespace {

// Each type's direct parent.
constexpr std::array<std::pair<std::string_view, std::string_view>, 6> kParents{{
    {kUTTypeUTF8PlainText, kUTTypePlainText},
    {kUTTypePlainText, kUTTypeText},
    {kUTTypeText, kUTTypeData},
    {kUTTypeData, kUTTypeItem},
    {kUTTypeFileURL, kUTTypeURL},
    {kUTTypeURL, kUTTypeItem},
}};

std::string_view parentOf(std::string_view type) {
    for (const auto& [child, parent] : kParents) {
        if (child == type)
            return parent;
    }
    return {};
}

}  // namespace

bool typeConformsTo(std::string_view type, std::string_view conformsTo) {
    for (std::string_view current = type; !current.empty(); current = parentOf(current)) {
        if (current == conformsTo)
            return true;
    }
    return false;
}

}  // namespace platform
