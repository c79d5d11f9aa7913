#include "host/desktop/QtColours.h"

#include <QGuiApplication>
#include <algorithm>
#include <cmath>

namespace host::desktop {

std::optional<QColor> qtColour(const platform::RgbaColor& colour) {
    double red = 0, green = 0, blue = 0, alpha = 0;
    if (!colour.getRed(&red, &green, &blue, &alpha))
        return std::nullopt;
    const auto unit = [](double value) {
        return std::isfinite(value) ? std::clamp(value, 0.0, 1.0) : 0.0;
    };
    return QColor::fromRgbF(static_cast<float>(unit(red)), static_cast<float>(unit(green)),
                            static_cast<float>(unit(blue)), static_cast<float>(unit(alpha)));
}

QFont qtFont(const platform::Font& font) {
    QFont result = QGuiApplication::font();
    if (font.face() != platform::Font::kSystemFace)
        result.setFamily(QString::fromStdString(font.face()));
    const double size = std::isfinite(font.pointSize()) ? font.pointSize() : 0.0;
    result.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    result.setWeight(font.isBold() ? QFont::Bold : QFont::Normal);
    return result;
}

}  // namespace host::desktop
