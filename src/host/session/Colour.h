// Colour: how front-ends turn the stand-in's colours into screen colours, and the sheet's
// palette for each appearance.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/foundation/RgbaColor.h"
#include "platform/ui/TraitCollection.h"

namespace host {

// An 8-bit-per-channel screen colour.
struct Rgb {
    std::uint8_t red = 0, green = 0, blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A colour's components clamped to 0...1 and rounded to 8 bits (not a number counts as 0),
// alpha left out; none for a colour without components (a pattern).
[[nodiscard]] std::optional<Rgb> rgbOf(const platform::RgbaColor& color);
// A colour as it shows over `background`: its components clamped and blended by its alpha. A
// colour without components shows as `background`.
[[nodiscard]] Rgb rgbOver(const platform::RgbaColor& color, Rgb background);
// "#rrggbb", lower case.
[[nodiscard]] std::string hexOf(Rgb colour);

// The sheet's colours for an appearance: the system's light and dark backgrounds, bar, text,
// secondary text, tint and separator. An unspecified appearance is drawn light, as the
// platform resolves it.
struct Palette {
    Rgb background, bar, text, secondary, tint, separator;
};
[[nodiscard]] const Palette& paletteFor(platform::UserInterfaceStyle style);

// The on-tints a person can try on the coloured toggle in the controls galleries, in order; the
// last is no tint at all (the switch's own).
struct Tint {
    const char* name;
    std::optional<platform::RgbaColor> colour;
};
[[nodiscard]] std::span<const Tint> galleryTints();

// "light", "dark" or "unspecified".
[[nodiscard]] const char* appearanceName(platform::UserInterfaceStyle style);

// Whether colour may be used at all: not when NO_COLOR is set to anything but an empty string
// (each front-end adds what its output can show).
[[nodiscard]] bool colourAllowedByEnvironment(const char* noColor);

}  // namespace host
