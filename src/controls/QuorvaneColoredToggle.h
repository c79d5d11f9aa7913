// QuorvaneColoredToggle: an on/off switch on a capsule of a pale shade of its on tint's hue.
//
// The toggle keeps no state of its own. After every change of tint, frame, bounds, on state
// (from code or by a person) and every move in the view tree it repaints: the background takes
// the on tint's hue (clear's hue when there is no tint) at saturation kBackgroundSaturation and
// full brightness, opaque, and the layer's corner radius is the vertical midpoint of the
// bounds. The on state never affects the look. Until the first such change the background and
// radius are the switch's defaults.
#pragma once

#include <bit>
#include <cstdint>
#include <memory>
#include <optional>

#include "handover/ShareContract.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/RgbaColor.h"
#include "platform/ui/Switch.h"

namespace quorvane {

class QuorvaneColoredToggle : public platform::Switch {
  public:
    static constexpr const char* kClassName = handover::kColoredToggleClass;
    // Two steps of the double grid below 0.4, not 0.4: owners match the background colour
    // bit for bit.
    static constexpr double kBackgroundSaturation = 0.3999999999999999;
    static_assert(std::bit_cast<std::uint64_t>(kBackgroundSaturation) == 0x3FD9999999999998u);

    [[nodiscard]] std::string_view className() const override { return kClassName; }

    // A toggle at `frame`'s origin, made and initialised (initWithFrame:).
    static std::shared_ptr<QuorvaneColoredToggle> make(platform::Rect frame = {});

    // ---- overrides of the switch, in the order of the class's method list ----

    [[nodiscard]] std::optional<platform::RgbaColor> onTintColor() const override;
    void setOnTintColor(std::optional<platform::RgbaColor> color) override;
    // initWithCoder: the switch's initialiser; when it succeeds the toggle becomes the target
    // of its own handleValueChanged: for value changes. False (and nothing registered) when it
    // fails. Does not repaint.
    bool initWithCoder(const platform::Coder& coder);
    // initWithFrame: the switch's initialiser, then the same registration. Does not repaint.
    void initWithFrame(platform::Rect frame);
    // The action of a person's change; the sender is not looked at.
    void handleValueChanged(const platform::ObjectPtr& sender);
    [[nodiscard]] platform::Rect frame() const override;
    void setFrame(platform::Rect frame) override;
    [[nodiscard]] platform::Rect bounds() const override;
    void setBounds(platform::Rect bounds) override;
    [[nodiscard]] bool isOn() const override;
    void setOn(bool on) override;
    void setOn(bool on, bool animated) override;
    // Repaints only: what the view does on a move is replaced, not extended.
    void didMoveToSuperview() override;

  private:
    void registerValueChangedAction();
    void updateAppearance();
};

}  // namespace quorvane
