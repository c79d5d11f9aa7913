#include "host/cli/HostOptions.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <string_view>

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

std::optional<std::uint64_t> parseSize(std::string_view text) {
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (i == 0)
        return std::nullopt;
    int shift = 0;
    if (i + 1 == text.size()) {
        switch (text[i]) {
            case 'k':
            case 'K':
                shift = 10;
                break;
            case 'm':
            case 'M':
                shift = 20;
                break;
            case 'g':
            case 'G':
                shift = 30;
                break;
            default:
                return std::nullopt;
        }
    } else if (i != text.size()) {
        return std::nullopt;
    }
    if (value > (std::numeric_limits<std::uint64_t>::max() >> shift))
        return std::nullopt;
    return value << shift;
}

std::variant<HostOptions, UsageError> parseHostOptions(const std::vector<std::string>& arguments,
                                                       FrontEnd frontEnd) {
    const bool desktop = frontEnd == FrontEnd::desktop;
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
                return UsageError{"unknown appearance '" + *text +
                                  "' (use light, dark or unspecified)"};
            options.settings.appearance = *appearance;
            options.appearanceGiven = true;
        } else if (name == "--text-size") {
            const auto text = value();
            if (!text)
                return UsageError{"--text-size needs a content size category"};
            const auto category = textSizeNamed(*text);
            if (!category) {
                return UsageError{"unknown text size '" + *text +
                                  "' (use xSmall, Small, Medium, Large, xLarge, xxLarge, xxxLarge "
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
                return UsageError{"'" + *text +
                                  "' is not a platform version (use X or X.Y, such as 12.4)"};
            options.settings.platformVersion = *version;
        } else if (name == "--max-size") {
            const auto text = value();
            if (!text)
                return UsageError{"--max-size needs a size such as 200M"};
            const auto size = parseSize(*text);
            if (!size)
                return UsageError{"'" + *text +
                                  "' is not a size (use a whole number of bytes, or one with K, M "
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
            return UsageError{"unknown option '" + argument + "'"};
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

std::string usageText(const std::string& program) {
    return "Usage: " + program + R"( [OPTIONS] FILE|-
       )" + program +
           R"( --list [--json | -0]
       )" + program +
           R"( --controls

Shares the text of FILE (or of standard input, "-") with the teleprompter's share
extension, as a share sheet would. Without --send or --close the sheet is shown in the
terminal and waits for keys (read from the terminal, even when the text comes from
standard input):
  Enter, Ctrl+S   tap "Send to Teleprompter"      d      switch light/dark appearance
  Esc, q          tap the close item              Ctrl+C leave without acting
  Up Down PgUp PgDn Home End   scroll the text

Actions:
  --send                  tap "Send to Teleprompter" once the text is shown: the text is
                          saved as a new file in the teleprompter's import folder
  --close                 tap the close item: the share is cancelled, nothing is saved
  --list                  print the import folder's entries, one path per line (after the
                          share, when there is one); names with control characters are
                          quoted on a terminal

Options:
  --json                  print the outcome (and the listing) as one JSON object; a path
                          that is not UTF-8 is {"base64": "<its bytes>"}
  -0, --null              end each entry of --list with a NUL byte instead of a line feed
  --appearance MODE       light (default) or dark, in any letter case
  --text-size CATEGORY    xSmall, Small, Medium, Large (default), xLarge, xxLarge,
                          xxxLarge, AX1 ... AX5 (any letter case)
  --max-size SIZE         refuse a text larger than SIZE bytes (suffixes K, M, G; default 1G;
                          0 lets only the empty text through)
  -h, --help              show this help
  --version               show the version
  --                      end of the options: FILE follows, even if it begins with -

Testing the extension:
  --platform-version X.Y  the platform version the extension sees (default )" +
           platform::PlatformVersion::current().toString() + R"()
  --bundle PATH           the extension bundle (default: the one installed beside this program)
  --controls              show the extension's coloured toggle and sticky slider in the
                          terminal (space, t, Left, Right; q or Esc quits)
  --appearance unspecified  the extension is given no appearance

The input must be UTF-8 text; it is checked as it is read, and nothing is sent when a byte
is not UTF-8 or the text is larger than the size cap. Without FILE a share reads standard
input (with --list or --json too). Standard output carries only the saved path, the listing
or the JSON; what happened is told on standard error. Once the text is saved, SIGINT,
SIGTERM, SIGHUP and SIGQUIT wait until it is reported.

Environment:
  QUORVANE_CONTAINER_ROOT    folder holding the application group containers
  XDG_DATA_HOME              without QUORVANE_CONTAINER_ROOT, the containers are in
                             $XDG_DATA_HOME/quorvane/app-groups
  HOME                       without either, they are in ~/.local/share/quorvane/app-groups
  QUORVANE_EXTENSION_BUNDLE  the extension bundle, when --bundle is not given
  NO_COLOR                   no colour in the output or on the sheet
  TERM                       the terminal's type, whose description (terminfo) says how to
                             draw the sheet and how many colours it has; a terminal that
                             cannot move its cursor (TERM=dumb) gets no sheet
  COLORTERM                  truecolor or 24bit: the sheet uses 24-bit colour

Exit status:
  0  the text was sent (--controls: the gallery was closed; --list alone: listed)
  1  the share was cancelled by the person; nothing was saved
  2  bad usage (such as no --send or --close and no terminal), or the input could not be
     read, is not UTF-8 or is larger than the size cap (nothing written)
  3  the share ended with an error: the text was not saved; or the import folder could not
     be listed
  4  the extension could not be loaded
  5  the share was cancelled while the text was being sent, and it was saved all the same
  6  the outcome or listing could not be written to standard output (the share itself may
     have completed: standard error says so)
  130  Ctrl+C on the sheet before a send: the program stopped without acting; nothing was
       sent
)";
}

}  // namespace host
