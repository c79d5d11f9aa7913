// ViewTree: finding the stand-in's views that a front-end draws, by their toolkit type.
#pragma once

#include <memory>

#include "platform/ui/View.h"

namespace host {

// The first view of type T in the tree under `view` (itself included), depth first in subview
// order; null when there is none.
template <typename T>
[[nodiscard]] std::shared_ptr<T> findView(const std::shared_ptr<platform::View>& view) {
    if (!view)
        return nullptr;
    if (auto found = std::dynamic_pointer_cast<T>(view))
        return found;
    for (const auto& subview : view->subviews()) {
        if (auto found = findView<T>(subview))
            return found;
    }
    return nullptr;
}

}  // namespace host
