// RgbaColor: the platform colour (UIColor).
//
// An RGB colour holds red, green, blue and alpha as doubles, nominally 0 to 1 but not clamped
// (the extended range). A pattern colour stands for the platform colours that cannot be expressed
// as components: asking it for RGBA or HSB answers false and leaves the outputs untouched.
#pragma once

#include <string>

namespace platform {

class RgbaColor {
  public:
    enum class Kind { rgb, pattern };

    constexpr RgbaColor() = default;  // clear
    constexpr RgbaColor(double red, double green, double blue, double alpha)
        : red_(red), green_(green), blue_(blue), alpha_(alpha) {}

    static constexpr RgbaColor blackColor() { return {0, 0, 0, 1}; }
    static constexpr RgbaColor whiteColor() { return {1, 1, 1, 1}; }
    static constexpr RgbaColor clearColor() { return {0, 0, 0, 0}; }
    static constexpr RgbaColor blueColor() { return {0, 0, 1, 1}; }
    static constexpr RgbaColor redColor() { return {1, 0, 0, 1}; }
    // A colour that cannot report components, like an image pattern on the device.
    static RgbaColor patternColor(std::string patternName);

    // initWithHue:saturation:brightness:alpha: hue as a fraction of a turn; all 0 to 1.
    static RgbaColor colorWithHue(double hue, double saturation, double brightness, double alpha);

    // getRed:green:blue:alpha: each out-pointer may be null. False (outputs untouched) for a
    // pattern colour.
    bool getRed(double* red, double* green, double* blue, double* alpha) const;
    // getHue:saturation:brightness:alpha: hue as a fraction of a turn (0 to 1); greys report
    // hue 0 and saturation 0, and so does any colour with brightness 0 for its saturation. False
    // (outputs untouched) for a pattern colour.
    bool getHue(double* hue, double* saturation, double* brightness, double* alpha) const;

    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] const std::string& patternName() const { return patternName_; }

    friend bool operator==(const RgbaColor&, const RgbaColor&) = default;

  private:
    Kind kind_ = Kind::rgb;
    double red_ = 0, green_ = 0, blue_ = 0, alpha_ = 0;
    std::string patternName_;
};

}  // namespace platform
