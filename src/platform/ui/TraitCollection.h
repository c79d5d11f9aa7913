// TraitCollection: the environment a view controller is shown in.
#pragma once

#include "platform/foundation/Font.h"

namespace platform {

// UIUserInterfaceStyle raw values.
enum class UserInterfaceStyle { unspecified = 0, light = 1, dark = 2 };
// UIUserInterfaceSizeClass raw values.
enum class SizeClass { unspecified = 0, compact = 1, regular = 2 };

struct TraitCollection {
    UserInterfaceStyle userInterfaceStyle = UserInterfaceStyle::light;
    ContentSizeCategory preferredContentSizeCategory = ContentSizeCategory::large;
    SizeClass horizontalSizeClass = SizeClass::compact;
    SizeClass verticalSizeClass = SizeClass::regular;

    friend bool operator==(const TraitCollection&, const TraitCollection&) = default;
};

}  // namespace platform
