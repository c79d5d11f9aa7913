// Faults the fuzz targets found, each kept from coming back. The host catches only the
// documented errors of the bundle and the interface file; anything else thrown while reading
// them ended the host abruptly instead of reporting "the extension could not be loaded".
#include <gtest/gtest.h>

#include <string>

#include "platform/extension/ExtensionBundle.h"
#include "platform/extension/InterfaceFile.h"
#include "platform/foundation/Coder.h"
#include "platform/ui/BarButtonItem.h"

namespace {

using platform::ExtensionBundleError;
using platform::ExtensionPropertyList;
using platform::InterfaceFile;
using platform::InterfaceFileError;

const std::string kRequired =
    R"("CFBundleIdentifier": "a", "CFBundleExecutable": "x.so",
       "NSExtension": {"NSExtensionPointIdentifier": "p", "NSExtensionPrincipalClass": "M.C",
                       "NSExtensionMainInterface": "Main"})";

TEST(FuzzFindings, APropertyListWhoseVersionIsNotAStringIsRefusedNotACrash) {
    for (const char* version : {"1", "null", "[\"1.0\"]", "{}"}) {
        const std::string document =
            "{" + kRequired + R"(, "CFBundleShortVersionString": )" + version + "}";
        EXPECT_THROW((void)ExtensionPropertyList::parse(document, "Info.json"),
                     ExtensionBundleError)
            << version;
    }
    const auto info = ExtensionPropertyList::parse("{" + kRequired + "}", "Info.json");
    EXPECT_EQ(info.version, "") << "the version stays optional";
}

TEST(FuzzFindings, ANumberTooLargeForADoubleIsRefusedAsInvalidJsonNotACrash) {
    EXPECT_THROW(
        (void)ExtensionPropertyList::parse("{" + kRequired + R"(, "size": 1e999})", "Info.json"),
        ExtensionBundleError);
    EXPECT_THROW(
        (void)InterfaceFile::loadFromString(
            R"({"interfaceFormat": "quorvane-interface", "formatVersion": -1e400})", "Main.json"),
        InterfaceFileError);
}

TEST(FuzzFindings, AnInterfaceFileWhoseFormatIsNotAStringIsRefusedNotACrash) {
    for (const char* format : {"3", "null", "[]", "{\"a\": 1}"}) {
        const std::string document =
            std::string(R"({"interfaceFormat": )") + format + R"(, "formatVersion": 1})";
        EXPECT_THROW((void)InterfaceFile::loadFromString(document, "Main.json"), InterfaceFileError)
            << format;
    }
}

TEST(FuzzFindings, ABarItemNumberNoIntHoldsReadsAsAbsentNotAsUndefinedBehaviour) {
    using platform::BarButtonItemStyle;
    using platform::BarButtonSystemItem;
    struct Case {
        double number;
        std::optional<int> read;
    };
    for (const Case& each : {Case{2.9e18, std::nullopt}, Case{-1e300, std::nullopt},
                             Case{2147483648.0, std::nullopt}, Case{-2147483649.0, std::nullopt},
                             Case{2.0, 2}, Case{24.5, 24}, Case{-2147483648.0, -2147483648}}) {
        platform::BarButtonItem item;
        ASSERT_TRUE(item.initWithCoder(platform::Coder(nlohmann::json{
            {"title", "Send"}, {"style", each.number}, {"systemItem", each.number}})))
            << each.number;
        EXPECT_EQ(item.style(), each.read ? static_cast<BarButtonItemStyle>(*each.read)
                                          : BarButtonItemStyle::plain)
            << each.number;
        EXPECT_EQ(
            item.systemItem(),
            each.read ? std::optional(static_cast<BarButtonSystemItem>(*each.read)) : std::nullopt)
            << each.number;
    }
}

}  // namespace
