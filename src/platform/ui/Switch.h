// Switch: an on/off control (UISwitch).
//
// A switch is always 51 x 31 points: a new frame or new bounds keep their origin and take that
// size. Turning it from code (setOn:, setOn:animated:) sends nothing; a person's flick
// (userToggle) flips it and sends the value-changed actions. The initialisers set the frame
// without going through the overridable setters, so a subclass's setters first run after
// construction.
#pragma once

#include <optional>

#include "platform/foundation/RgbaColor.h"
#include "platform/ui/Control.h"

namespace platform {

class Switch : public Control {
  public:
    static constexpr Size kSize{51.0, 31.0};  // points; the only size a switch takes

    [[nodiscard]] std::string_view className() const override { return "UISwitch"; }

    // initWithFrame: the frame's origin at the fixed size.
    void initWithFrame(Rect frame);
    // initWithCoder: also reads "on" and "onTintColor"; false when the archive fails.
    bool initWithCoder(const Coder& coder);
    static std::shared_ptr<Switch> make(Rect frame = {});

    // The colour of the track when on; none means the platform's own.
    [[nodiscard]] virtual std::optional<RgbaColor> onTintColor() const { return onTintColor_; }
    virtual void setOnTintColor(std::optional<RgbaColor> color) { onTintColor_ = std::move(color); }

    [[nodiscard]] virtual bool isOn() const { return on_; }
    virtual void setOn(bool on) { on_ = on; }
    // The stand-in does not animate; the flag is accepted and has no other effect.
    virtual void setOn(bool on, bool animated);

    void setFrame(Rect frame) override;
    void setBounds(Rect bounds) override;
    [[nodiscard]] Size intrinsicContentSize() const override { return kSize; }

    // What a person's flick does: when enabled, flips the state and sends the value-changed
    // actions. True when it flipped.
    bool userToggle();

  private:
    bool on_ = false;
    std::optional<RgbaColor> onTintColor_;
};

}  // namespace platform
