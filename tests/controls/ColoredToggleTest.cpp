#include "controls/QuorvaneColoredToggle.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <optional>

#include <nlohmann/json.hpp>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "platform/ui/View.h"

namespace {

using platform::makeRect;
using platform::RgbaColor;
using quorvane::QuorvaneColoredToggle;

// The background's saturation, written as its bit pattern so that a plain 0.4 cannot pass.
const double kSaturation = std::bit_cast<double>(std::uint64_t{0x3FD9999999999998});

RgbaColor expectedBackground(double hueFraction) {
    return RgbaColor::colorWithHue(hueFraction, kSaturation, 1.0, 1.0);
}

// A painted toggle: one repaint has run.
std::shared_ptr<QuorvaneColoredToggle> paintedToggle(std::optional<RgbaColor> tint) {
    auto toggle = QuorvaneColoredToggle::make(makeRect(0, 0, 51, 31));
    toggle->setOnTintColor(tint);
    return toggle;
}

TEST(ColoredToggle, TakesOnlyTheHueOfItsTint) {
    struct Row {
        const char* name;
        std::optional<RgbaColor> tint;
        double hueFraction;
    };
    const Row rows[] = {
        {"red", RgbaColor::redColor(), 0.0},
        {"pure blue", RgbaColor::blueColor(), 240.0 / 360.0},
        {"dull dark blue, same hue as pure blue", RgbaColor(0.1, 0.1, 0.3, 0.5), 240.0 / 360.0},
        {"green", RgbaColor(0, 1, 0, 1), 120.0 / 360.0},
        {"no tint paints from clear, hue 0", std::nullopt, 0.0},
        {"a colour without components counts as hue 0", RgbaColor::patternColor("stripes"), 0.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto toggle = paintedToggle(row.tint);
        ASSERT_TRUE(toggle->backgroundColor());
        EXPECT_EQ(*toggle->backgroundColor(), expectedBackground(row.hueFraction));
        EXPECT_NE(*toggle->backgroundColor(),
                  RgbaColor::colorWithHue(row.hueFraction, 0.4, 1.0, 1.0))
            << "the saturation is two steps below 0.4, not 0.4";
        EXPECT_EQ(toggle->onTintColor(), row.tint) << "the tint itself is left as set";
    }

    double red = 0, green = 0, blue = 0, alpha = 0;
    paintedToggle(RgbaColor::redColor())->backgroundColor()->getRed(&red, &green, &blue, &alpha);
    EXPECT_EQ(red, 1.0);
    EXPECT_NEAR(green, 0.6, 1e-12);
    EXPECT_NEAR(blue, 0.6, 1e-12);
    EXPECT_EQ(alpha, 1.0);
    paintedToggle(RgbaColor::blueColor())->backgroundColor()->getRed(&red, &green, &blue, &alpha);
    EXPECT_NEAR(red, 0.6, 1e-12);
    EXPECT_NEAR(green, 0.6, 1e-12);
    EXPECT_EQ(blue, 1.0);
}

TEST(ColoredToggle, RoundsIntoACapsuleFromTheBoundsMidpoint) {
    auto toggle = QuorvaneColoredToggle::make();
    EXPECT_FALSE(toggle->backgroundColor()) << "construction does not paint";
    EXPECT_EQ(toggle->layer().cornerRadius(), 0);

    toggle->setFrame(makeRect(0, 0, 51, 31));
    EXPECT_EQ(toggle->layer().cornerRadius(), 15.5);
    EXPECT_EQ(*toggle->backgroundColor(), expectedBackground(0.0));
    toggle->setBounds(makeRect(0, 10, 51, 31));
    EXPECT_EQ(toggle->layer().cornerRadius(), 25.5) << "origin y plus half the height";
    toggle->setFrame(makeRect(0, 0, 200, 200));
    EXPECT_EQ(toggle->layer().cornerRadius(), 25.5) << "the switch keeps its size and bounds";
}

TEST(ColoredToggle, ANewTintRepaintsAtOnce) {
    auto toggle = paintedToggle(RgbaColor::redColor());
    toggle->setOnTintColor(RgbaColor::blueColor());
    EXPECT_EQ(*toggle->backgroundColor(), expectedBackground(240.0 / 360.0));
    toggle->setOnTintColor(std::nullopt);
    EXPECT_EQ(*toggle->backgroundColor(), expectedBackground(0.0));
}

TEST(ColoredToggle, RepaintsTheSameLookOnEveryChangeOfState) {
    // Each change runs on a toggle whose background was overwritten behind its back, so a
    // missing repaint shows as black; a repaint that looked at the state would differ.
    struct Row {
        const char* name;
        void (*change)(QuorvaneColoredToggle&);
    };
    const Row rows[] = {
        {"on by a person", [](QuorvaneColoredToggle& t) { t.userToggle(); }},
        {"on and off by a person",
         [](QuorvaneColoredToggle& t) {
             t.userToggle();
             t.userToggle();
         }},
        {"setOn:", [](QuorvaneColoredToggle& t) { t.setOn(true); }},
        {"setOn: and back",
         [](QuorvaneColoredToggle& t) {
             t.setOn(true);
             t.setOn(false);
         }},
        {"setOn:animated:", [](QuorvaneColoredToggle& t) { t.setOn(true, true); }},
    };
    const RgbaColor tint(0.2, 0.8, 0.4, 1.0);
    const auto reference = paintedToggle(tint);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto toggle = paintedToggle(tint);
        toggle->setBounds(makeRect(0, 10, 51, 31));
        toggle->View::setBackgroundColor(RgbaColor::blackColor());
        toggle->layer().setCornerRadius(0);
        row.change(*toggle);
        EXPECT_EQ(toggle->backgroundColor(), reference->backgroundColor());
        EXPECT_EQ(toggle->layer().cornerRadius(), 25.5);
    }
}

TEST(ColoredToggle, RepaintsWhenAddedToAndRemovedFromASuperview) {
    auto parent = platform::View::make(makeRect(0, 0, 320, 480));
    auto toggle = QuorvaneColoredToggle::make(makeRect(10, 10, 51, 31));
    toggle->Switch::setOnTintColor(RgbaColor::blueColor());  // the base setter: no repaint
    EXPECT_FALSE(toggle->backgroundColor());

    parent->addSubview(toggle);
    EXPECT_EQ(toggle->backgroundColor(), expectedBackground(240.0 / 360.0));
    EXPECT_EQ(toggle->layer().cornerRadius(), 15.5);

    toggle->View::setBackgroundColor(std::nullopt);
    toggle->removeFromSuperview();
    EXPECT_EQ(toggle->backgroundColor(), expectedBackground(240.0 / 360.0));
}

TEST(ColoredToggle, ListensToItsOwnValueChangesOnceInitialised) {
    auto made = QuorvaneColoredToggle::make();
    EXPECT_EQ(made->actionsForTarget(made, platform::ControlEvents::valueChanged),
              (std::vector<std::string>{"handleValueChanged:"}));

    const platform::ClassInfo* info =
        platform::ClassRegistry::shared().lookup(QuorvaneColoredToggle::kClassName);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->superclassName, "UISwitch");
    auto decoded = std::dynamic_pointer_cast<QuorvaneColoredToggle>(info->initWithCoder(
        platform::Coder(nlohmann::json{{"frame", {5, 6, 51, 31}}, {"on", true}})));
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->isOn());
    EXPECT_FALSE(decoded->backgroundColor()) << "decoding does not paint";
    EXPECT_EQ(decoded->allTargets(), (std::vector<platform::ObjectPtr>{decoded}));

    const platform::Coder failing(nlohmann::json{{"decodeFails", true}});
    EXPECT_FALSE(info->initWithCoder(failing)) << "a failing archive yields no toggle";
    auto direct = std::make_shared<QuorvaneColoredToggle>();
    EXPECT_FALSE(direct->initWithCoder(failing));
    EXPECT_TRUE(direct->allTargets().empty()) << "and registers nothing";
}

}  // namespace
