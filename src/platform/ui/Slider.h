// Slider: a horizontal control that picks a value from a range (UISlider).
//
// The value is a 32-bit float kept inside [minimumValue, maximumValue]: setting it clamps it,
// raising the minimum above it (or lowering the maximum below it) moves it along, and a
// minimum above the maximum pulls the maximum up (and the reverse). A value or bound that is
// not a number is taken as the minimum (value) or ignored (bounds). Setting the value from code
// sends nothing; a person's move (userSetValue) sends the value-changed actions.
//
// Geometry: the track spans the full width of the bounds it is given, kTrackHeight high and
// centred vertically; the thumb is kThumbSize, centred on the track, and its left edge moves
// linearly from the track's start at the minimum to the track's end less the thumb's width at
// the maximum.
#pragma once

#include "platform/ui/Control.h"

namespace platform {

class Slider : public Control {
  public:
    static constexpr double kTrackHeight = 4.0;    // points
    static constexpr Size kThumbSize{31.0, 31.0};  // points

    [[nodiscard]] std::string_view className() const override { return "UISlider"; }

    // initWithCoder: also reads "minimumValue", "maximumValue" and "value" (in that order,
    // each with the clamping of its setter); false when the archive fails.
    bool initWithCoder(const Coder& coder);
    static std::shared_ptr<Slider> make(Rect frame = {});

    [[nodiscard]] float value() const { return value_; }
    void setValue(float value);
    // The stand-in does not animate; the flag is accepted and has no other effect.
    void setValue(float value, bool animated);
    [[nodiscard]] float minimumValue() const { return minimumValue_; }
    void setMinimumValue(float minimum);
    [[nodiscard]] float maximumValue() const { return maximumValue_; }
    void setMaximumValue(float maximum);

    // trackRectForBounds: the track's rectangle for `bounds` (any rectangle, not only the
    // slider's own).
    [[nodiscard]] Rect trackRectForBounds(Rect bounds) const;
    // thumbRectForBounds:trackRect:value: the thumb's rectangle on `track` for `value`. A value
    // outside the range is placed at the nearer end; an empty range places the thumb at the
    // start.
    [[nodiscard]] Rect thumbRectForBounds(Rect bounds, Rect track, float value) const;

    // A slider has a height of its own (the thumb's) but no width.
    [[nodiscard]] Size intrinsicContentSize() const override {
        return {kNoIntrinsicMetric, kThumbSize.height};
    }

    // What a person's move of the thumb does: when enabled, sets the value (clamped) and, if
    // that changed it, sends the value-changed actions, as the device does on every move of a
    // drag. True when the actions were sent.
    bool userSetValue(float value);

  private:
    [[nodiscard]] float clamped(float value) const;

    float minimumValue_ = 0.0f;
    float maximumValue_ = 1.0f;
    float value_ = 0.0f;
};

}  // namespace platform
