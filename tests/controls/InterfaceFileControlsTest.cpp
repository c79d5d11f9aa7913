// Both controls named in an interface file come out as configured as when made in code.
#include <gtest/gtest.h>

#include <optional>

#include <nlohmann/json.hpp>

#include "controls/QuorvaneColoredToggle.h"
#include "controls/QuorvaneStickySlider.h"
#include "platform/extension/InterfaceFile.h"
#include "platform/ui/MediaClock.h"

namespace {

using nlohmann::json;
using platform::makeRect;
using quorvane::QuorvaneColoredToggle;
using quorvane::QuorvaneStickySlider;

json interfaceWithBothControls() {
    return json::parse(R"({
      "interfaceFormat": "quorvane-interface", "formatVersion": 1,
      "initialViewController": "controller",
      "objects": {
        "controller": {"class": "UIViewController", "view": "root"},
        "root": {"class": "UIView", "frame": [0, 0, 320, 480], "subviews": ["toggle", "slider"]},
        "toggle": {"class": "QuorvaneShareExt.QuorvaneColoredToggle", "frame": [20, 40, 51, 31],
                   "onTintColor": "#0000ff", "on": true},
        "slider": {"class": "QuorvaneShareExt.QuorvaneStickySlider", "frame": [0, 100, 301, 40]}
      }
    })");
}

TEST(ControlsInInterfaceFiles, ComeOutConfigured) {
    auto loaded = platform::InterfaceFile::loadFromString(interfaceWithBothControls().dump(),
                                                          "controls.json");
    const auto root = loaded.initialViewController->view();
    ASSERT_TRUE(root);
    ASSERT_EQ(root->subviews().size(), 2u);
    auto toggle = std::dynamic_pointer_cast<QuorvaneColoredToggle>(root->subviews()[0]);
    auto slider = std::dynamic_pointer_cast<QuorvaneStickySlider>(root->subviews()[1]);
    ASSERT_TRUE(toggle);
    ASSERT_TRUE(slider);
    loaded.objects.clear();  // the view tree alone keeps them

    EXPECT_TRUE(toggle->isOn());
    EXPECT_EQ(toggle->allTargets(), (std::vector<platform::ObjectPtr>{toggle}));
    EXPECT_EQ(toggle->backgroundColor(),
              platform::RgbaColor::colorWithHue(240.0 / 360.0, 0.3999999999999999, 1.0, 1.0))
        << "painted when put into the root view";
    EXPECT_EQ(toggle->layer().cornerRadius(), 15.5);

    EXPECT_EQ(slider->frame(), makeRect(0, 100, 301, 40));
    EXPECT_EQ(slider->valueLabel()->text(), "0.00");
    EXPECT_EQ(slider->constraints().size(), 7u);
    ASSERT_TRUE(slider->labelLeadingConstraint());
    EXPECT_EQ(slider->sliderView()->allTargets(), (std::vector<platform::ObjectPtr>{slider}));

    // And they work as a person uses them.
    platform::MediaClock::setOverride(50.0);
    EXPECT_TRUE(toggle->userToggle());
    EXPECT_FALSE(toggle->isOn());
    root->layoutIfNeeded();
    EXPECT_EQ(slider->sliderView()->frame(), makeRect(0, 15, 301, 25));
    EXPECT_TRUE(slider->sliderView()->userSetValue(0.03f));
    EXPECT_EQ(slider->sliderView()->value(), 0.0f);
    EXPECT_EQ(slider->haptic()->selectionCount(), 1u);
    platform::MediaClock::setOverride(std::nullopt);
}

TEST(ControlsInInterfaceFiles, AControlThatCannotBeDecodedIsRefused) {
    for (const char* identifier : {"toggle", "slider"}) {
        SCOPED_TRACE(identifier);
        json document = interfaceWithBothControls();
        document["objects"][identifier]["decodeFails"] = true;
        try {
            (void)platform::InterfaceFile::loadFromString(document.dump(), "controls.json");
            ADD_FAILURE() << "loaded a control whose archive failed";
        } catch (const platform::InterfaceFileError& error) {
            EXPECT_NE(std::string(error.what()).find("could not be decoded"), std::string::npos)
                << error.what();
        }
    }
}

}  // namespace
