#include "host/HostOptions.h"

#include <string_view>

namespace host {
namespace {

using platform::UserInterfaceStyle;

std::optional<UserInterfaceStyle> appearanceNamed(std::string_view name) {
    if (name == "light")
        return UserInterfaceStyle::light;
    if (name == "dark")
        return UserInterfaceStyle::dark;
    if (name == "unspecified")
        return UserInterfaceStyle::unspecified;
    return std::nullopt;
}

}  // namespace

std::variant<HostOptions, UsageError> parseHostOptions(const std::vector<std::string>& arguments) {
    HostOptions options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            if (options.input)
                return UsageError{"only one input may be given (got '" + *options.input +
                                  "' and '" + argument + "')"};
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
            const Action action = name == "--send" ? Action::send : Action::close;
            if (inlineValue)
                return UsageError{"option " + name + " takes no value"};
            if (options.action != Action::none && options.action != action) {
                return UsageError{"--send and --close cannot be given together"};
            }
            options.action = action;
        } else if (name == "--list") {
            problem = flag(options.list);
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
                return UsageError{"unknown appearance '" + *text +
                                  "' (use light, dark or unspecified)"};
            options.appearance = *appearance;
        } else if (name == "--text-size") {
            const auto text = value();
            if (!text)
                return UsageError{"--text-size needs a content size category"};
            const auto category = platform::contentSizeCategoryNamed(*text);
            if (!category) {
                return UsageError{"unknown text size '" + *text +
                                  "' (use xSmall, Small, Medium, Large, xLarge, xxLarge, xxxLarge "
                                  "or AX1 to AX5)"};
            }
            options.textSize = *category;
        } else if (name == "--platform-version") {
            const auto text = value();
            if (!text)
                return UsageError{"--platform-version needs a version such as 13.0"};
            const auto version = platform::PlatformVersion::parse(*text);
            if (!version)
                return UsageError{"'" + *text +
                                  "' is not a platform version (use X or X.Y, such as 12.4)"};
            options.platformVersion = *version;
        } else if (name == "--bundle") {
            const auto text = value();
            if (!text || text->empty())
                return UsageError{"--bundle needs the path of the extension bundle"};
            options.bundlePath = *text;
        } else {
            return UsageError{"unknown option '" + argument + "'"};
        }
        if (problem)
            return *problem;
    }
    if (options.controls &&
        (options.input || options.action != Action::none || options.list || options.json)) {
        return UsageError{
            "--controls shows the controls alone: give no FILE, --send, --close, "
            "--list or --json with it"};
    }
    return options;
}

std::string usageText(const std::string& program) {
    return "Usage: " + program + R"( [OPTIONS] FILE|-
       )" + program +
           R"( --list
       )" + program +
           R"( --controls

Shares the text of FILE (or of standard input, "-") with the teleprompter's share
extension, as a share sheet would. Without --send or --close the sheet is shown in the
terminal and waits for keys (read from the terminal, even when the text comes from
standard input):
  Enter, Ctrl+S   tap "Send to Teleprompter"      d      switch light/dark appearance
  Esc, q          tap the close item              + -    larger / smaller text size
  Up Down PgUp PgDn Home End   scroll the text    Ctrl+C leave without acting

Actions:
  --send                  tap "Send to Teleprompter" once the text is shown: the text is
                          saved as a new file in the teleprompter's import folder
  --close                 tap the close item: the share is cancelled, nothing is saved
  --list                  print the import folder's entries, one path per line (after the
                          share, when there is one)
  --controls              show the extension's coloured toggle and sticky slider in the
                          terminal (space, t, Left, Right; q or Esc quits)

Options:
  --json                  print the outcome as one JSON object
  --appearance MODE       light (default), dark or unspecified
  --text-size CATEGORY    xSmall, Small, Medium, Large (default), xLarge, xxLarge,
                          xxxLarge, AX1 ... AX5
  --platform-version X.Y  the platform version the extension sees (default )" +
           platform::PlatformVersion::current().toString() + R"()
  --bundle PATH           the extension bundle (default: the one installed beside this program)
  -h, --help              show this help
  --version               show the version

The input must be UTF-8 text.

Environment:
  QUORVANE_CONTAINER_ROOT  folder holding the application group containers (default:
                           $XDG_DATA_HOME/quorvane/app-groups, else
                           ~/.local/share/quorvane/app-groups)
  NO_COLOR                 no colour in the output or on the sheet
  TERM, COLORTERM          the sheet's colours: none for TERM=dumb or a terminal type
                           without colour, 24-bit for COLORTERM=truecolor or 24bit

Exit status:
  0  the text was sent (--controls: the gallery was closed)
  1  the share was cancelled by the person
  2  bad usage (such as no --send or --close and no terminal), or the input could not be
     read or is not UTF-8 (nothing written)
  3  the share ended with an error: the text was not saved
  4  the extension could not be loaded
)";
}

}  // namespace host
