#include "controls/QuorvaneStickySlider.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "platform/ui/MediaClock.h"

namespace {

using platform::makeRect;
using platform::Rect;
using quorvane::QuorvaneStickySlider;

// 301 points wide: the track is 301 wide and the thumb's left edge runs from 0 to 270, so the
// value 0 puts it at 135.
constexpr Rect kFrame = makeRect(0, 0, 301, 40);

// Holds the media clock at a chosen reading for one test.
class SetClock {
  public:
    explicit SetClock(double seconds) { set(seconds); }
    ~SetClock() { platform::MediaClock::setOverride(std::nullopt); }
    SetClock(const SetClock&) = delete;
    SetClock& operator=(const SetClock&) = delete;
    void set(double seconds) { platform::MediaClock::setOverride(seconds); }
};

class StickySlider : public ::testing::Test {
  protected:
    SetClock clock{1000.0};
    std::shared_ptr<QuorvaneStickySlider> control = QuorvaneStickySlider::make(kFrame);

    [[nodiscard]] std::uint64_t ticks() const { return control->haptic()->selectionCount(); }
    [[nodiscard]] std::string labelText() { return control->valueLabel()->text(); }
    // The label's leading constant for a thumb at `value` and a label `labelWidth` wide.
    [[nodiscard]] double constantOver(float value, double labelWidth) {
        const auto& slider = control->sliderView();
        const Rect bounds = control->bounds();
        const Rect thumb =
            slider->thumbRectForBounds(bounds, slider->trackRectForBounds(bounds), value);
        return thumb.origin.x - labelWidth * 0.5 + thumb.size.width * 0.5;
    }
    // One layout pass: the label is measured, then placed over the thumb.
    void settle() { control->layoutIfNeeded(); }
};

TEST_F(StickySlider, StartsAtZeroWithItsPartsInPlace) {
    const auto& slider = control->sliderView();
    EXPECT_EQ(slider->minimumValue(), -1.0f);
    EXPECT_EQ(slider->maximumValue(), 1.0f);
    EXPECT_EQ(slider->value(), 0.0f);
    EXPECT_EQ(labelText(), "0.00");
    EXPECT_FALSE(control->lastHapticFeedback());
    EXPECT_EQ(ticks(), 0u);
    EXPECT_EQ(control->stringFormat(), "%.2f");
    EXPECT_EQ(control->feedbackTimeout(), 0.5);
    EXPECT_EQ(control->defaultValue(), 0.0f);
    EXPECT_EQ(control->stickedValue(), 0.05f);
    EXPECT_EQ(control->borderDetectValue(), 0.03f);
    EXPECT_EQ(control->accentColor(), platform::RgbaColor::blueColor());

    ASSERT_TRUE(control->labelLeadingConstraint());
    EXPECT_EQ(control->valueLabel()->bounds().size.width, 0) << "not laid out yet";
    EXPECT_EQ(control->labelLeadingConstraint()->constant(), 150.5)
        << "a label of width 0 is placed at the thumb's centre";

    const auto& label = control->valueLabel();
    EXPECT_EQ(label->font(), platform::Font::boldSystemFontOfSize(10.0));
    EXPECT_EQ(label->backgroundColor(), platform::RgbaColor::clearColor());
    EXPECT_FALSE(label->translatesAutoresizingMaskIntoConstraints());
    EXPECT_FALSE(slider->translatesAutoresizingMaskIntoConstraints());
    EXPECT_FALSE(control->translatesAutoresizingMaskIntoConstraints());
    EXPECT_EQ(control->backgroundColor(), platform::RgbaColor::clearColor());
    EXPECT_EQ(control->subviews(), (std::vector<std::shared_ptr<platform::View>>{label, slider}))
        << "the slider lies above the label";
    EXPECT_EQ(control->constraints().size(), 7u);
    EXPECT_EQ(control->constraints().front(), control->labelLeadingConstraint());
    EXPECT_EQ(slider->actionsForTarget(control, platform::ControlEvents::valueChanged),
              (std::vector<std::string>{"valueChanged:"}));
}

TEST_F(StickySlider, LaysOutTheSliderBelowAndCentresTheLabelOverTheThumb) {
    control->layoutIfNeeded();
    EXPECT_EQ(control->sliderView()->frame(), makeRect(0, 15, 301, 25));
    // Thumb left edge 135, width 31, label measured at 24 wide: 135 - 12 + 15.5.
    EXPECT_EQ(control->labelLeadingConstraint()->constant(), 138.5);
    EXPECT_EQ(control->valueLabel()->frame(), makeRect(138.5, 5, 24, 10));
    EXPECT_EQ(platform::rectGetMidX(control->valueLabel()->frame()), 150.5)
        << "the label's centre lies over the thumb's centre";

    control->setFrame(makeRect(0, 0, 571, 40));
    control->layoutIfNeeded();
    EXPECT_EQ(control->labelLeadingConstraint()->constant(), 273.5) << "follows a new width";
}

TEST_F(StickySlider, SticksToTheDefaultValueWithinTheStickRadius) {
    struct Row {
        const char* name;
        float moveTo;
        bool sticks;
        const char* labelAfterEvent;
    };
    const Row rows[] = {
        {"0.03 sticks", 0.03f, true, "0.03"},
        {"-0.03 sticks", -0.03f, true, "-0.03"},
        {"exactly 0.05 away does not", 0.05f, false, "0.05"},
        {"exactly -0.05 away does not", -0.05f, false, "-0.05"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        control = QuorvaneStickySlider::make(kFrame);
        settle();
        const double labelWidth = control->valueLabel()->bounds().size.width;
        ASSERT_TRUE(control->sliderView()->userSetValue(row.moveTo));

        EXPECT_EQ(control->sliderView()->value(), row.sticks ? 0.0f : row.moveTo);
        EXPECT_EQ(ticks(), row.sticks ? 1u : 0u);
        EXPECT_EQ(labelText(), row.labelAfterEvent) << "the stick leaves the label alone";
        EXPECT_EQ(control->labelLeadingConstraint()->constant(),
                  constantOver(row.moveTo, labelWidth))
            << "the label stays over the thumb position before the stick";

        control->layoutIfNeeded();
        EXPECT_EQ(labelText(), row.sticks ? "0.00" : row.labelAfterEvent)
            << "the next layout pass shows where the slider is";
    }
}

TEST_F(StickySlider, AsksForATickInEitherEndZone) {
    struct Row {
        const char* name;
        float moveTo;
        std::uint64_t ticks;
    };
    const Row rows[] = {
        {"-0.95", -0.95f, 1}, {"0.95", 0.95f, 1},   {"-1", -1.0f, 1}, {"1", 1.0f, 1},
        {"-0.94", -0.94f, 0}, {"-0.93", -0.93f, 0}, {"0.5", 0.5f, 0}, {"0.94", 0.94f, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        control = QuorvaneStickySlider::make(kFrame);
        ASSERT_TRUE(control->sliderView()->userSetValue(row.moveTo));
        EXPECT_EQ(ticks(), row.ticks);
        EXPECT_EQ(control->sliderView()->value(), row.moveTo) << "end zones never move the value";
        EXPECT_EQ(control->lastHapticFeedback().has_value(), row.ticks == 1);
    }
}

TEST_F(StickySlider, SpacesTicksByTheTimeoutAndDropsEarlierRequests) {
    const auto& slider = control->sliderView();
    slider->userSetValue(0.95f);
    EXPECT_EQ(ticks(), 1u);
    EXPECT_EQ(control->lastHapticFeedback(), 1000.0);

    clock.set(1000.2);
    slider->userSetValue(0.96f);
    EXPECT_EQ(ticks(), 1u) << "0.2 s after the last tick: dropped";
    EXPECT_EQ(control->lastHapticFeedback(), 1000.0) << "a dropped request changes nothing";

    clock.set(1000.5);
    slider->userSetValue(0.97f);
    EXPECT_EQ(ticks(), 2u) << "exactly the timeout after the last tick";
    EXPECT_EQ(control->lastHapticFeedback(), 1000.5);
}

TEST_F(StickySlider, ADefaultInsideAnEndZoneTicksOncePerEventUnlessTheTimeoutIsZero) {
    struct Row {
        const char* name;
        double timeout;
        std::uint64_t ticks;
    };
    const Row rows[] = {
        {"the end-zone request is dropped", 0.5, 1},
        {"no timeout: both ticks", 0.0, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        control = QuorvaneStickySlider::make(kFrame);
        control->setDefaultValue(0.96f);
        control->setFeedbackTimeout(row.timeout);
        ASSERT_TRUE(control->sliderView()->userSetValue(0.98f));
        EXPECT_EQ(control->sliderView()->value(), 0.96f);
        EXPECT_EQ(ticks(), row.ticks);
    }
}

TEST_F(StickySlider, ReportsEveryEventOnceAfterTheStick) {
    int calls = 0;
    std::vector<float> seen;
    control->setValueChangedCallback([&] {
        ++calls;
        seen.push_back(control->sliderView()->value());
    });
    const auto& slider = control->sliderView();
    slider->userSetValue(0.03f);
    EXPECT_EQ(calls, 1) << "the stick's own setValue does not re-enter valueChanged:";
    slider->userSetValue(0.5f);
    EXPECT_EQ(calls, 2) << "also when nothing stuck or ticked";
    EXPECT_EQ(seen, (std::vector<float>{0.0f, 0.5f}));

    slider->setValue(0.7f);
    EXPECT_EQ(calls, 2) << "a value set from code is not an event";
    EXPECT_EQ(labelText(), "0.50");
}

TEST_F(StickySlider, SurvivesCallbacksThatReplaceThemselvesOrAreEmpty) {
    int first = 0, second = 0;
    control->setValueChangedCallback([&] {
        ++first;
        control->setValueChangedCallback([&] { ++second; });
    });
    control->sliderView()->userSetValue(0.5f);
    control->sliderView()->userSetValue(0.6f);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);

    control->setValueChangedCallback({});
    EXPECT_TRUE(control->sliderView()->userSetValue(0.7f));
    EXPECT_EQ(labelText(), "0.70");
}

TEST_F(StickySlider, FormatsTheValueWidenedToADouble) {
    struct Row {
        const char* name;
        float value;
        const char* text;
    };
    const Row rows[] = {
        {"negative that rounds to zero keeps its sign", -0.004f, "-0.00"},
        {"negative", -0.37f, "-0.37"},
        {"lower end", -1.0f, "-1.00"},
        {"upper end", 1.0f, "1.00"},
        {"a float just below the half rounds down", 0.005f, "0.00"},
        {"an exact half rounds to even", 0.125f, "0.12"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        control->sliderView()->setValue(row.value);
        control->setNeedsLayout();
        control->layoutIfNeeded();
        EXPECT_EQ(labelText(), row.text);
    }

    control->sliderView()->setMaximumValue(3.0e38f);
    control->sliderView()->setValue(3.0e38f);
    control->setNeedsLayout();
    control->layoutIfNeeded();
    EXPECT_EQ(labelText().size(), 42u) << "39 digits and the decimals, in full";
}

TEST_F(StickySlider, IsMadeFromAnArchiveOnlyWhenTheViewDecodes) {
    const platform::ClassInfo* info =
        platform::ClassRegistry::shared().lookup(QuorvaneStickySlider::kClassName);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->superclassName, "UIView");
    EXPECT_FALSE(info->initWithCoder(platform::Coder(nlohmann::json{{"decodeFails", true}})));

    auto decoded = std::dynamic_pointer_cast<QuorvaneStickySlider>(info->initWithCoder(
        platform::Coder(nlohmann::json{{"frame", {0, 0, 301, 40}}, {"defaultValue", 0.5}})));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->defaultValue(), 0.0f) << "nothing of the control's own is decoded";
    EXPECT_EQ(decoded->valueLabel()->text(), "0.00");
    EXPECT_EQ(decoded->labelLeadingConstraint()->constant(), 150.5);
}

}  // namespace
