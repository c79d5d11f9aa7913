#include "host/frontend/HostOptions.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <string_view>

#include "frame/SizeCap.h"
#include "host/frontend/ListingFormat.h"
#include "host/session/Colour.h"
#include "platform/foundation/Font.h"

namespace host {
namespace {

using platform::UserInterfaceStyle;

// Option values are words a person types: any letter case means the same ("DARK", "ax3").
bool sameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<UserInterfaceStyle> appearanceNamed(std::string_view name) {
    for (const auto style :
         {UserInterfaceStyle::light, UserInterfaceStyle::dark, UserInterfaceStyle::unspecified}) {
        if (sameWord(name, appearanceName(style)))
            return style;
    }
    return std::nullopt;
}

// The content size category of a name in any letter case ("large", "ax3").
std::optional<platform::ContentSizeCategory> textSizeNamed(std::string_view name) {
    for (int i = 0; i < platform::kContentSizeCategoryCount; ++i) {
        const auto category = static_cast<platform::ContentSizeCategory>(i);
        if (sameWord(name, platform::contentSizeCategoryName(category)))
            return category;
    }
    return std::nullopt;
}

}  // namespace

std::variant<HostOptions, UsageError> parseHostOptions(const std::vector<std::string>& arguments,
                                                       FrontEnd frontEnd) {
    const bool desktop = frontEnd == FrontEnd::desktop;
    HostOptions options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            if (options.input)
                return UsageError{"only one input may be given (got " +
                                  quotedInMessage(*options.input) + " and " +
                                  quotedInMessage(argument) + ")"};
            options.input = argument;
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> inlineValue;
        if (const std::size_t equals = argument.find('=');
            argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
        }
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < arguments.size())
                return arguments[++i];
            return std::nullopt;
        };
        auto flag = [&](bool& target) -> std::optional<UsageError> {
            if (inlineValue)
                return UsageError{"option " + name + " takes no value"};
            target = true;
            return std::nullopt;
        };
        std::optional<UsageError> problem;
        if (name == "-h" || name == "--help") {
            problem = flag(options.help);
        } else if (name == "--version") {
            problem = flag(options.version);
        } else if (name == "--send" || name == "--close") {
            const ShareAction action = name == "--send" ? ShareAction::send : ShareAction::close;
            if (inlineValue)
                return UsageError{"option " + name + " takes no value"};
            if (options.action != ShareAction::none && options.action != action) {
                return UsageError{"--send and --close cannot be given together"};
            }
            options.action = action;
        } else if (name == "--list") {
            problem = flag(options.list);
        } else if (name == "-0" || name == "--null") {
            problem = flag(options.listNull);
        } else if (name == "--json") {
            problem = flag(options.json);
        } else if (name == "--controls") {
            problem = flag(options.controls);
        } else if (name == "--appearance") {
            const auto text = value();
            if (!text)
                return UsageError{"--appearance needs a value: light, dark or unspecified"};
            const auto appearance = appearanceNamed(*text);
            if (!appearance)
                return UsageError{"unknown appearance " + quotedInMessage(*text) +
                                  " (use light, dark or unspecified)"};
            options.settings.appearance = *appearance;
            options.appearanceGiven = true;
        } else if (name == "--text-size") {
            const auto text = value();
            if (!text)
                return UsageError{"--text-size needs a content size category"};
            const auto category = textSizeNamed(*text);
            if (!category) {
                return UsageError{"unknown text size " + quotedInMessage(*text) +
                                  " (use xSmall, Small, Medium, Large, xLarge, xxLarge, xxxLarge "
                                  "or AX1 to AX5)"};
            }
            options.settings.textSize = *category;
            options.textSizeGiven = true;
        } else if (name == "--platform-version") {
            const auto text = value();
            if (!text)
                return UsageError{"--platform-version needs a version such as 13.0"};
            const auto version = platform::PlatformVersion::parse(*text);
            if (!version)
                return UsageError{quotedInMessage(*text) +
                                  " is not a platform version (use X or X.Y, such as 12.4)"};
            options.settings.platformVersion = *version;
        } else if (name == "--max-size") {
            const auto text = value();
            if (!text)
                return UsageError{"--max-size needs a size such as 200M"};
            const auto size = frame::parseSize(*text);
            if (!size)
                return UsageError{quotedInMessage(*text) +
                                  " is not a size (use a whole number of bytes, or one with K, M "
                                  "or G, such as 200M)"};
            options.maxInputSize = *size;
        } else if (name == "--bundle") {
            const auto text = value();
            if (!text || text->empty())
                return UsageError{"--bundle needs the path of the extension bundle"};
            options.bundlePath = *text;
        } else if (desktop && name == "--clipboard") {
            problem = flag(options.clipboard);
        } else if (desktop && name == "--selection") {
            problem = flag(options.selection);
        } else if (desktop && name == "--screenshot") {
            const auto text = value();
            if (!text || text->empty())
                return UsageError{"--screenshot needs the name of a PNG file to write"};
            options.screenshot = *text;
        } else {
            return UsageError{"unknown option " + quotedInMessage(argument)};
        }
        if (problem)
            return *problem;
    }
    if (options.clipboard && options.input)
        return UsageError{"give a FILE (or -) or --clipboard, not both"};
    if (options.selection && (options.input || options.clipboard))
        return UsageError{
            "--selection shares the selected text: give no FILE or --clipboard with it"};
    if (options.controls && (options.input || options.clipboard || options.selection ||
                             options.action != ShareAction::none || options.list || options.json)) {
        return UsageError{
            "--controls shows the controls alone: give no FILE, --send, --close, "
            "--list or --json with it"};
    }
    if (options.listNull && !options.list)
        return UsageError{"-0/--null separates the entries of --list: give --list with it"};
    if (options.listNull && options.json)
        return UsageError{"-0/--null and --json are two forms of the listing: choose one"};
    return options;
}

}  // namespace host
