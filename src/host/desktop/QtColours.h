// Conversions from the stand-in's values to Qt's, shared by everything the desktop draws.
#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <optional>

#include "platform/foundation/Font.h"
#include "platform/foundation/Geometry.h"
#include "platform/foundation/RgbaColor.h"

namespace host::desktop {

// The colour's components, clamped to the displayable range; none for a colour without
// components (a pattern), which the desktop cannot draw.
[[nodiscard]] std::optional<QColor> qtColour(const platform::RgbaColor& colour);

// A font at its point size, one point to one device-independent pixel. The system face is the
// desktop's own sans-serif family; other faces are looked up by name.
[[nodiscard]] QFont qtFont(const platform::Font& font);

[[nodiscard]] inline QRectF qtRect(const platform::Rect& rect, double zoom) {
    return {rect.origin.x * zoom, rect.origin.y * zoom, rect.size.width * zoom,
            rect.size.height * zoom};
}

}  // namespace host::desktop
