#include "host/session/Colour.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace host {
namespace {

constexpr Palette kLightPalette{{255, 255, 255}, {249, 249, 249}, {0, 0, 0},
                                {138, 138, 142}, {0, 122, 255},   {198, 198, 200}};
constexpr Palette kDarkPalette{{0, 0, 0},       {28, 28, 30},   {255, 255, 255},
                               {142, 142, 147}, {10, 132, 255}, {56, 56, 58}};

double unit(double value) {
    return value > 0 ? std::min(value, 1.0) : 0.0;  // NaN fails the test and counts as 0
}

}  // namespace

std::optional<Rgb> rgbOf(const platform::RgbaColor& color) {
    double red = 0, green = 0, blue = 0, alpha = 0;
    if (!color.getRed(&red, &green, &blue, &alpha))
        return std::nullopt;
    const auto byte = [](double value) {
        return static_cast<std::uint8_t>(std::lround(unit(value) * 255.0));
    };
    return Rgb{byte(red), byte(green), byte(blue)};
}

Rgb rgbOver(const platform::RgbaColor& color, Rgb background) {
    double red = 0, green = 0, blue = 0, alpha = 0;
    if (!color.getRed(&red, &green, &blue, &alpha))
        return background;
    const double a = unit(alpha);
    auto blend = [a](double value, std::uint8_t under) {
        const double mixed = unit(value) * 255.0 * a + under * (1.0 - a);
        return static_cast<std::uint8_t>(std::lround(std::clamp(mixed, 0.0, 255.0)));
    };
    return {blend(red, background.red), blend(green, background.green),
            blend(blue, background.blue)};
}

std::string hexOf(Rgb colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.red, colour.green, colour.blue);
    return text;
}

std::span<const Tint> galleryTints() {
    static const Tint tints[] = {
        {"green", platform::RgbaColor(0.204, 0.780, 0.349, 1)},
        {"blue", platform::RgbaColor(0.0, 0.478, 1.0, 1)},
        {"orange", platform::RgbaColor(1.0, 0.584, 0.0, 1)},
        {"purple", platform::RgbaColor(0.686, 0.322, 0.871, 1)},
        {"red", platform::RgbaColor(1.0, 0.231, 0.188, 1)},
        {"none", std::nullopt},
    };
    return tints;
}

const Palette& paletteFor(platform::UserInterfaceStyle style) {
    return style == platform::UserInterfaceStyle::dark ? kDarkPalette : kLightPalette;
}

const char* appearanceName(platform::UserInterfaceStyle style) {
    switch (style) {
        case platform::UserInterfaceStyle::light:
            return "light";
        case platform::UserInterfaceStyle::dark:
            return "dark";
        case platform::UserInterfaceStyle::unspecified:
            break;
    }
    return "unspecified";
}

bool colourAllowedByEnvironment(const char* noColor) {
    return !(noColor && *noColor);
}

}  // namespace host
