// QuorvaneStickySlider: a slider from -1 to 1 that sticks to a default value, shows its value
// in a small label riding over the thumb, and gives rate-limited selection ticks.
//
// On every change a person makes, the control (1) re-labels and re-places the label, (2) puts
// the slider back onto defaultValue when the new value lies strictly closer to it than
// stickedValue, ticking once, and asks for a tick when the value lies in either end zone,
// (3) runs valueChangedCallback. Ticks are at least feedbackTimeout seconds apart on the media
// clock; a tick asked for sooner is dropped. Setting the slider from code (the stick included)
// sends nothing back to the control.
//
// The control switches off autoresizing-mask translation on itself: its owner places it with
// constraints. Inside, the slider fills the full width from 15 points below the top to the
// bottom, and the label sits in the band from 5 to 15 points below the top, as wide as its
// text, its leading constant keeping its centre over the thumb's centre.
//
// Sections: stored properties · operations (method-list order) · internal routines.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "handover/ShareContract.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/RgbaColor.h"
#include "platform/ui/Label.h"
#include "platform/ui/LayoutConstraint.h"
#include "platform/ui/SelectionFeedbackGenerator.h"
#include "platform/ui/Slider.h"
#include "platform/ui/View.h"

namespace quorvane {

class QuorvaneStickySlider : public platform::View {
  public:
    static constexpr const char* kClassName = handover::kStickySliderClass;
    using Callback = std::function<void()>;

    // Layout of the two subviews, in points below the control's top.
    static constexpr double kLabelTop = 5.0;
    static constexpr double kSliderTop = 15.0;
    static constexpr double kLabelFontSize = 10.0;  // bold system font
    static constexpr float kMinimumValue = -1.0f;
    static constexpr float kMaximumValue = 1.0f;

    [[nodiscard]] std::string_view className() const override { return kClassName; }

    // A control at `frame`, made and initialised (initWithFrame:).
    static std::shared_ptr<QuorvaneStickySlider> make(platform::Rect frame = {});

    // ---- stored properties, in declaration order ----

    // printf format of the label: one floating-point conversion, given the value as a double.
    [[nodiscard]] const std::string& stringFormat() const { return stringFormat_; }
    // Media-clock time of the last tick; none until the first.
    [[nodiscard]] std::optional<double> lastHapticFeedback() const { return lastHapticFeedback_; }
    void setLastHapticFeedback(std::optional<double> seconds) { lastHapticFeedback_ = seconds; }
    // Least interval between two ticks, in seconds.
    [[nodiscard]] double feedbackTimeout() const { return feedbackTimeout_; }
    void setFeedbackTimeout(double seconds) { feedbackTimeout_ = seconds; }
    // Runs once after every change a person makes, after any stick. An empty function counts
    // as one that does nothing.
    [[nodiscard]] const Callback& valueChangedCallback() const { return valueChangedCallback_; }
    void setValueChangedCallback(Callback callback) { valueChangedCallback_ = std::move(callback); }
    // The value the slider sticks to.
    [[nodiscard]] float defaultValue() const { return defaultValue_; }
    void setDefaultValue(float value) { defaultValue_ = value; }
    // Stick radius: a value whose distance from defaultValue is strictly below it sticks.
    [[nodiscard]] float stickedValue() const { return stickedValue_; }
    void setStickedValue(float radius) { stickedValue_ = radius; }
    // Width parameter b of the end zones: a value v is in the zone of an end when
    // (|v - end| - b) < b, each step in 32-bit floats.
    [[nodiscard]] float borderDetectValue() const { return borderDetectValue_; }
    void setBorderDetectValue(float width) { borderDetectValue_ = width; }
    // Held for owners; the control itself never reads it.
    [[nodiscard]] const platform::RgbaColor& accentColor() const { return accentColor_; }
    void setAccentColor(platform::RgbaColor color) { accentColor_ = std::move(color); }
    // The value label and the slider, each made and configured on first read and then kept.
    const std::shared_ptr<platform::Label>& valueLabel();
    const std::shared_ptr<platform::Slider>& sliderView();
    // The label's leading constraint, whose constant places the label; set by set-up.
    [[nodiscard]] const platform::LayoutConstraintPtr& labelLeadingConstraint() const {
        return labelLeadingConstraint_;
    }
    void setLabelLeadingConstraint(platform::LayoutConstraintPtr constraint) {
        labelLeadingConstraint_ = std::move(constraint);
    }
    // Source of the ticks.
    [[nodiscard]] const std::shared_ptr<platform::SelectionFeedbackGenerator>& haptic() const {
        return haptic_;
    }

    // ---- operations, in the order of the class's method list ----

    // The slider's value-changed action: updateLabel, stickAndDetectBorders, then the callback.
    void valueChanged(const platform::ObjectPtr& sender);
    // initWithFrame: the view's initialiser, then set-up.
    void initWithFrame(platform::Rect frame);
    // initWithCoder: the view's initialiser, then set-up; false (no set-up) when it fails.
    // Nothing of the control's own is read from the archive.
    bool initWithCoder(const platform::Coder& coder);
    // Re-labels and re-places the label; the view's own layout work is not invoked from here.
    void layoutSubviews() override;

  private:
    void setupViews();
    void updateLabel();
    void stickAndDetectBorders();
    void giveHapticFeedback();

    const std::string stringFormat_ = "%.2f";
    std::optional<double> lastHapticFeedback_;  // seconds, media clock
    double feedbackTimeout_ = 0.5;              // seconds
    Callback valueChangedCallback_ = [] {};
    float defaultValue_ = 0.0f;
    float stickedValue_ = 0.05f;
    float borderDetectValue_ = 0.03f;
    platform::RgbaColor accentColor_ = platform::RgbaColor::blueColor();
    std::shared_ptr<platform::Label> valueLabel_;
    std::shared_ptr<platform::Slider> sliderView_;
    platform::LayoutConstraintPtr labelLeadingConstraint_;
    const std::shared_ptr<platform::SelectionFeedbackGenerator> haptic_ =
        std::make_shared<platform::SelectionFeedbackGenerator>();
};

}  // namespace quorvane
