// Arbitrary command lines for the share host: the input is split at NUL bytes into arguments.
//
// Promises checked: parsing never throws (the host does not catch there); a refusal says why;
// options that are accepted mean what they say: written back out in one canonical spelling
// ("--name=value", the input after "--") they parse to the very same options.
#include <string>
#include <variant>
#include <vector>

#include "FuzzSupport.h"
#include "host/frontend/HostOptions.h"

namespace fuzzing {
namespace {

using host::HostOptions;
using host::ShareAction;

std::string appearanceName(platform::UserInterfaceStyle style) {
    switch (style) {
        case platform::UserInterfaceStyle::light:
            return "light";
        case platform::UserInterfaceStyle::dark:
            return "dark";
        default:
            return "unspecified";
    }
}

std::vector<std::string> canonicalArguments(const HostOptions& options) {
    std::vector<std::string> arguments;
    if (options.action == ShareAction::send)
        arguments.push_back("--send");
    if (options.action == ShareAction::close)
        arguments.push_back("--close");
    if (options.list)
        arguments.push_back("--list");
    if (options.listNull)
        arguments.push_back("--null");
    if (options.json)
        arguments.push_back("--json");
    if (options.help)
        arguments.push_back("--help");
    if (options.version)
        arguments.push_back("--version");
    arguments.push_back("--appearance=" + appearanceName(options.settings.appearance));
    arguments.push_back("--text-size=" +
                        std::string(platform::contentSizeCategoryName(options.settings.textSize)));
    arguments.push_back("--platform-version=" + options.settings.platformVersion.toString());
    arguments.push_back("--max-size=" + std::to_string(options.maxInputSize));
    if (options.bundlePath)
        arguments.push_back("--bundle=" + *options.bundlePath);
    if (options.input) {
        arguments.push_back("--");
        arguments.push_back(*options.input);
    }
    return arguments;
}

bool sameOptions(const HostOptions& a, const HostOptions& b) {
    return a.input == b.input && a.action == b.action && a.list == b.list && a.json == b.json &&
           a.listNull == b.listNull && a.help == b.help && a.version == b.version &&
           a.settings.appearance == b.settings.appearance &&
           a.settings.textSize == b.settings.textSize &&
           a.settings.platformVersion == b.settings.platformVersion &&
           a.maxInputSize == b.maxInputSize && a.bundlePath == b.bundlePath;
}

}  // namespace

int hostOptionsOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size && arguments.size() <= 32; ++i) {
        if (data[i] == 0)
            arguments.emplace_back();
        else
            arguments.back().push_back(static_cast<char>(data[i]));
    }
    if (size == 0)
        arguments.clear();

    const auto parsed = host::parseHostOptions(arguments);
    if (const auto* problem = std::get_if<host::UsageError>(&parsed)) {
        check(!problem->message.empty(), "a refusal says why");
        return 0;
    }
    const HostOptions& options = std::get<HostOptions>(parsed);
    const auto again = host::parseHostOptions(canonicalArguments(options));
    const auto* reparsed = std::get_if<HostOptions>(&again);
    check(reparsed != nullptr, "accepted options written canonically are accepted again");
    check(sameOptions(options, *reparsed),
          "accepted options written canonically mean the same again");
    return 0;
}

}  // namespace fuzzing

#ifdef QUORVANE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::hostOptionsOneInput(data, size);
}
#endif
