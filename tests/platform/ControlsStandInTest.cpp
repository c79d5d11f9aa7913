// The stand-in's controls, label, constraint layout, feedback generator and media clock: the
// behaviour the custom controls build on.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "platform/ui/Control.h"
#include "platform/ui/Label.h"
#include "platform/ui/MediaClock.h"
#include "platform/ui/Slider.h"
#include "platform/ui/Switch.h"

namespace {

using platform::ClassRegistry;
using platform::ControlEvents;
using platform::Label;
using platform::makeRect;
using platform::ObjectPtr;
using platform::Rect;
using platform::Slider;
using platform::Switch;
using platform::View;

// A target that records the actions it receives, registered like any class.
class ActionRecorder : public platform::Object {
  public:
    [[nodiscard]] std::string_view className() const override { return "Test.ActionRecorder"; }
    std::vector<std::string> received;
    std::vector<ObjectPtr> senders;
};

platform::ClassInfo::Message recordAs(std::string name) {
    return [name](platform::Object& receiver, const ObjectPtr& sender) {
        auto& recorder = static_cast<ActionRecorder&>(receiver);
        recorder.received.push_back(name);
        recorder.senders.push_back(sender);
    };
}

[[maybe_unused]] const bool registered = ClassRegistry::shared().registerClass({
    .name = "Test.ActionRecorder",
    .messages = {{"first:", recordAs("first")}, {"second:", recordAs("second")}},
});

TEST(Control, ValueChangedActionsReachLiveTargetsOnlyWhenAPersonActs) {
    auto slider = Slider::make();
    auto recorder = std::make_shared<ActionRecorder>();
    slider->addTarget(recorder, "first:", ControlEvents::valueChanged);
    slider->addTarget(recorder, "second:", ControlEvents::valueChanged);
    slider->addTarget(recorder, "first:", ControlEvents::valueChanged);  // merged, not doubled

    slider->setValue(0.5f);
    slider->setValue(0.25f, true);
    EXPECT_TRUE(recorder->received.empty()) << "a value set from code sends nothing";

    EXPECT_TRUE(slider->userSetValue(0.75f));
    EXPECT_EQ(recorder->received, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(recorder->senders.front(), slider) << "the control is the sender";

    EXPECT_FALSE(slider->userSetValue(0.75f)) << "a move that changes nothing sends nothing";
    EXPECT_EQ(recorder->received.size(), 2u);

    slider->setEnabled(false);
    EXPECT_FALSE(slider->userSetValue(0.1f));
    EXPECT_FLOAT_EQ(slider->value(), 0.75f) << "a disabled control ignores a person";
    slider->setEnabled(true);

    slider->removeTarget(recorder, "second:", ControlEvents::valueChanged);
    EXPECT_EQ(slider->actionsForTarget(recorder, ControlEvents::valueChanged),
              (std::vector<std::string>{"first:"}));

    recorder->senders.clear();
    const std::weak_ptr<ActionRecorder> weakRecorder = recorder;
    recorder.reset();
    EXPECT_TRUE(weakRecorder.expired()) << "the control does not keep its target alive";
    EXPECT_TRUE(slider->allTargets().empty());
    EXPECT_TRUE(slider->userSetValue(0.2f)) << "a gone target is skipped";

    slider->addTarget(nullptr, "first:", ControlEvents::valueChanged);
    slider->addTarget(std::make_shared<ActionRecorder>(), "", ControlEvents::valueChanged);
    EXPECT_TRUE(slider->allTargets().empty()) << "no target or no action registers nothing";
}

TEST(Switch, KeepsItsSizeAndSendsOnlyForAFlickByAPerson) {
    auto control = Switch::make(makeRect(4, 6, 200, 100));
    EXPECT_EQ(control->frame(), makeRect(4, 6, 51, 31));
    control->setFrame(makeRect(1, 2, 10, 10));
    EXPECT_EQ(control->frame(), makeRect(1, 2, 51, 31));
    control->setBounds(makeRect(0, 10, 80, 80));
    EXPECT_EQ(control->bounds(), makeRect(0, 10, 51, 31));
    EXPECT_EQ(control->intrinsicContentSize(), Switch::kSize);

    auto recorder = std::make_shared<ActionRecorder>();
    control->addTarget(recorder, "first:", ControlEvents::valueChanged);
    control->setOn(true);
    control->setOn(false, true);
    EXPECT_TRUE(recorder->received.empty());

    EXPECT_TRUE(control->userToggle());
    EXPECT_TRUE(control->isOn());
    EXPECT_TRUE(control->userToggle());
    EXPECT_FALSE(control->isOn());
    EXPECT_EQ(recorder->received.size(), 2u);
    EXPECT_FALSE(control->onTintColor()) << "no tint of its own until one is set";
}

TEST(Slider, KeepsItsValueInsideItsRange) {
    constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
    struct Row {
        const char* name;
        float minimum, maximum, value;  // set in this order
        float expectedMinimum, expectedMaximum, expectedValue;
    };
    const Row rows[] = {
        {"inside", -1, 1, 0.25f, -1, 1, 0.25f},
        {"above the maximum", -1, 1, 3, -1, 1, 1},
        {"below the minimum", -1, 1, -3, -1, 1, -1},
        {"minimum above the default maximum pulls it up", 2, 1.5f, 0, 1.5f, 1.5f, 1.5f},
        {"not a number is the minimum", -1, 1, kNaN, -1, 1, -1},
        {"infinite is the nearer end", -1, 1, std::numeric_limits<float>::infinity(), -1, 1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto slider = Slider::make();
        slider->setMinimumValue(row.minimum);
        slider->setMaximumValue(row.maximum);
        slider->setValue(row.value);
        EXPECT_EQ(slider->minimumValue(), row.expectedMinimum);
        EXPECT_EQ(slider->maximumValue(), row.expectedMaximum);
        EXPECT_EQ(slider->value(), row.expectedValue);
    }

    auto slider = Slider::make();
    slider->setMinimumValue(-1);
    slider->setMaximumValue(1);
    slider->setValue(0.5f);
    slider->setMaximumValue(0.25f);
    EXPECT_EQ(slider->value(), 0.25f) << "lowering the maximum moves the value along";
    slider->setMinimumValue(0.75f);
    EXPECT_EQ(slider->value(), 0.75f) << "raising the minimum moves the value along";
    EXPECT_EQ(slider->maximumValue(), 0.75f);
    slider->setMinimumValue(kNaN);
    EXPECT_EQ(slider->minimumValue(), 0.75f) << "a bound that is not a number is ignored";
}

TEST(Slider, PlacesTheThumbLinearlyAlongTheTrack) {
    auto slider = Slider::make();
    slider->setMinimumValue(-1);
    slider->setMaximumValue(1);
    const Rect bounds = makeRect(0, 0, 301, 40);
    const Rect track = slider->trackRectForBounds(bounds);
    EXPECT_EQ(track.origin.x, 0);
    EXPECT_EQ(track.size.width, 301) << "the track spans the bounds' width";
    EXPECT_EQ(platform::rectGetMidY(track), 20);

    struct Row {
        const char* name;
        float value;
        double expectedMinX;
    };
    const Row rows[] = {
        {"minimum at the track's start", -1, 0},
        {"middle", 0, 135},
        {"maximum at the end less the thumb", 1, 270},
        {"outside the range at the nearer end", 4, 270},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Rect thumb = slider->thumbRectForBounds(bounds, track, row.value);
        EXPECT_EQ(thumb.origin.x, row.expectedMinX);
        EXPECT_EQ(thumb.size, Slider::kThumbSize);
        EXPECT_EQ(platform::rectGetMidY(thumb), platform::rectGetMidY(track));
    }

    auto empty = Slider::make();
    empty->setMinimumValue(1);
    EXPECT_EQ(empty->thumbRectForBounds(bounds, track, 1).origin.x, 0)
        << "an empty range places the thumb at the start instead of dividing by zero";
}

TEST(Label, MeasuresItsTextAndAsksItsSuperviewForLayout) {
    auto label = Label::make();
    EXPECT_EQ(label->intrinsicContentSize(), (platform::Size{0, 0}));
    label->setFont(platform::Font::boldSystemFontOfSize(10));
    label->setText("0.00");
    EXPECT_EQ(label->intrinsicContentSize(), (platform::Size{24, 12}));
    label->setText("\xC3\xA9t\xC3\xA9");  // three characters in five bytes
    EXPECT_EQ(label->intrinsicContentSize().width, 18);

    auto parent = View::make();
    parent->addSubview(label);
    parent->layoutIfNeeded();
    label->setText("\xC3\xA9t\xC3\xA9");
    EXPECT_FALSE(parent->needsLayout()) << "the same text changes nothing";
    label->setText("-1.00");
    EXPECT_TRUE(parent->needsLayout());
}

// A container and two subviews tied together the way a composite control ties its parts.
struct ConstraintScene {
    std::shared_ptr<View> container = View::make(makeRect(0, 0, 300, 40));
    std::shared_ptr<View> bar = View::make();
    std::shared_ptr<Label> caption = Label::make();
    platform::LayoutConstraintPtr captionLeading;

    ConstraintScene() {
        caption->setFont(platform::Font::systemFontOfSize(10));
        caption->setText("abcd");
        container->addSubview(caption);
        container->addSubview(bar);
        captionLeading =
            caption->leadingAnchor().constraintEqualToAnchor(container->leadingAnchor(), 7);
        container->addConstraints({
            captionLeading,
            caption->topAnchor().constraintEqualToAnchor(container->topAnchor(), 5),
            // Declared before the bar's own top is known: resolved through it.
            caption->bottomAnchor().constraintEqualToAnchor(bar->topAnchor()),
            bar->leadingAnchor().constraintEqualToAnchor(container->leadingAnchor()),
            bar->trailingAnchor().constraintEqualToAnchor(container->trailingAnchor()),
            bar->topAnchor().constraintEqualToAnchor(container->topAnchor(), 15),
            bar->bottomAnchor().constraintEqualToAnchor(container->bottomAnchor()),
        });
    }
};

TEST(ConstraintLayout, ResolvesEdgesIntoFramesOfSubviews) {
    ConstraintScene scene;
    EXPECT_EQ(scene.caption->frame(), Rect{}) << "constraints act in a layout pass, not before";
    scene.container->layoutIfNeeded();
    EXPECT_EQ(scene.bar->frame(), makeRect(0, 15, 300, 25));
    EXPECT_EQ(scene.caption->frame(), makeRect(7, 5, 24, 10))
        << "no width constraint: the label is as wide as its text";

    scene.captionLeading->setConstant(40);
    EXPECT_TRUE(scene.container->needsLayout());
    EXPECT_EQ(scene.caption->frame().origin.x, 7) << "moves at the next layout pass";
    scene.container->layoutIfNeeded();
    EXPECT_EQ(scene.caption->frame().origin.x, 40);

    scene.container->setFrame(makeRect(0, 0, 200, 60));
    scene.container->layoutIfNeeded();
    EXPECT_EQ(scene.bar->frame(), makeRect(0, 15, 200, 45));
}

TEST(ConstraintLayout, AppliesConstraintsAroundLayoutSubviews) {
    struct Mover : View {
        platform::LayoutConstraintPtr constraint;
        double next = 0;
        Rect seen;
        void layoutSubviews() override {
            seen = subviews().front()->frame();
            constraint->setConstant(next);
        }
    };
    auto mover = std::make_shared<Mover>();
    mover->initWithFrame(makeRect(0, 0, 100, 100));
    auto child = View::make(makeRect(0, 0, 10, 10));
    mover->addSubview(child);
    mover->constraint = child->leadingAnchor().constraintEqualToAnchor(mover->leadingAnchor());
    mover->addConstraint(mover->constraint);
    mover->constraint->setConstant(12);
    mover->next = 33;
    mover->layoutIfNeeded();
    EXPECT_EQ(mover->seen, makeRect(12, 0, 10, 10)) << "layoutSubviews sees constraints applied";
    EXPECT_EQ(child->frame(), makeRect(33, 0, 10, 10))
        << "only the constrained edge moves; an unconstrained axis and size stay";
}

TEST(ConstraintLayout, SkipsConstraintsItCannotHonour) {
    ConstraintScene scene;
    auto stranger = View::make(makeRect(0, 0, 10, 10));
    const auto foreign =
        scene.bar->leadingAnchor().constraintEqualToAnchor(stranger->trailingAnchor(), 3);
    // A second, contradicting constraint on an edge already known is ignored, not fought over.
    const auto contradicting =
        scene.bar->topAnchor().constraintEqualToAnchor(scene.container->topAnchor(), 99);
    scene.container->addConstraints({foreign, contradicting});
    auto gone = View::make();
    scene.container->addConstraint(
        gone->topAnchor().constraintEqualToAnchor(scene.container->topAnchor()));
    gone.reset();
    scene.container->layoutIfNeeded();
    EXPECT_EQ(scene.bar->frame(), makeRect(0, 15, 300, 25));

    auto other = View::make();
    other->addConstraint(scene.captionLeading);
    EXPECT_EQ(scene.captionLeading->owner(), scene.container) << "a constraint has one owner";
    EXPECT_EQ(scene.container->constraints().size(), 10u);
}

TEST(MediaClock, ReadsTheOverrideUntilClearedThenTheMonotonicClock) {
    platform::MediaClock::setOverride(12.5);
    EXPECT_EQ(platform::MediaClock::now(), 12.5);
    platform::MediaClock::setOverride(std::nullopt);
    const double first = platform::MediaClock::now();
    const double second = platform::MediaClock::now();
    EXPECT_LE(first, second);
    EXPECT_GT(first, 0.0);
}

TEST(ControlRegistry, ControlsAreMadeFromArchivesByPlatformName) {
    struct Row {
        const char* className;
        nlohmann::json archive;
    };
    const Row rows[] = {
        {"UIControl", {{"enabled", false}}},
        {"UISwitch", {{"on", true}, {"onTintColor", "#ff0000"}, {"frame", {3, 4, 9, 9}}}},
        {"UISlider", {{"minimumValue", -2}, {"maximumValue", 2}, {"value", 5}}},
        {"UILabel", {{"text", "hi"}, {"fontSize", 20}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.className);
        const platform::ClassInfo* info = ClassRegistry::shared().lookup(row.className);
        ASSERT_TRUE(info);
        ASSERT_TRUE(info->initWithCoder);
        ObjectPtr made = info->initWithCoder(platform::Coder(row.archive));
        ASSERT_TRUE(made);
        EXPECT_EQ(made->className(), row.className);
        nlohmann::json failing = row.archive;
        failing["decodeFails"] = true;
        EXPECT_FALSE(info->initWithCoder(platform::Coder(failing)));
    }
}

}  // namespace
