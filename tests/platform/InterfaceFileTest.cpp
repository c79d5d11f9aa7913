#include "platform/extension/InterfaceFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/TextView.h"
#include "share/ShareViewController.h"

namespace {

using nlohmann::json;
using platform::InterfaceFile;
using platform::InterfaceFileError;

json shippedInterface() {
    std::ifstream file(QUORVANE_RESOURCES_DIR "/MainInterface.json");
    return json::parse(file);
}

std::string loadError(const json& document) {
    try {
        (void)InterfaceFile::loadFromString(document.dump(), "test.json");
    } catch (const InterfaceFileError& error) {
        return error.what();
    }
    return "";
}

TEST(InterfaceFile, TheShippedInterfaceMakesTheControllerAndConnectsItsOutlets) {
    auto loaded = InterfaceFile::loadFromFile(QUORVANE_RESOURCES_DIR "/MainInterface.json");
    auto controller =
        std::dynamic_pointer_cast<quorvane::ShareViewController>(loaded.initialViewController);
    ASSERT_TRUE(controller);
    loaded.objects.clear();  // only the controller is kept, as the host does
    ASSERT_TRUE(controller->textView());
    ASSERT_TRUE(controller->activityIndicator());
    ASSERT_TRUE(controller->sendButton()) << "kept by the navigation item";
    EXPECT_EQ(controller->textView()->superview(), controller->view());
    EXPECT_FALSE(controller->isViewLoaded()) << "viewDidLoad is the host's to trigger";
}

TEST(InterfaceFile, RefusesFilesTheControllerCannotWorkWith) {
    struct Case {
        const char* name;
        std::function<void(json&)> damage;
        const char* expected;
    };
    const Case cases[] = {
        {"no textView outlet",
         [](json& d) { d["objects"]["shareViewController"]["outlets"].erase("textView"); },
         "needs its outlet \"textView\" connected"},
        {"no activityIndicator outlet",
         [](json& d) { d["objects"]["shareViewController"]["outlets"].erase("activityIndicator"); },
         "needs its outlet \"activityIndicator\" connected"},
        {"outlet of the wrong kind",
         [](json& d) {
             d["objects"]["shareViewController"]["outlets"]["textView"] = "activityIndicator";
         },
         "outlet \"textView\" cannot hold a UIActivityIndicatorView"},
        {"outlet to a view nobody keeps",
         [](json& d) { d["objects"]["rootView"]["subviews"] = json::array({"activityIndicator"}); },
         "not in the controller's view"},
        {"unknown outlet",
         [](json& d) { d["objects"]["shareViewController"]["outlets"]["nope"] = "textView"; },
         "has no outlet \"nope\""},
        {"unknown class", [](json& d) { d["objects"]["textView"]["class"] = "UIWebView"; },
         "unknown class \"UIWebView\""},
        {"archive that fails to decode",
         [](json& d) { d["objects"]["textView"]["decodeFails"] = true; }, "could not be decoded"},
        {"dangling reference",
         [](json& d) { d["objects"]["rootView"]["subviews"].push_back("ghost"); },
         "no object with identifier \"ghost\""},
        {"wrong format", [](json& d) { d["formatVersion"] = 2; }, "formatVersion"},
        {"no initial controller", [](json& d) { d["initialViewController"] = "rootView"; },
         "not a view controller"},
    };
    for (const Case& c : cases) {
        json document = shippedInterface();
        c.damage(document);
        const std::string error = loadError(document);
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.name << ": " << error;
        EXPECT_NE(error.find("test.json"), std::string::npos)
            << c.name << ": the message names the file";
    }
}

TEST(InterfaceFile, ReportsUnreadableDocuments) {
    EXPECT_THROW((void)InterfaceFile::loadFromString("{not json", "broken.json"),
                 InterfaceFileError);
    EXPECT_THROW((void)InterfaceFile::loadFromFile("/nonexistent/interface.json"),
                 InterfaceFileError);
}

}  // namespace
