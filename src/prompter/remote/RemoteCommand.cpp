#include "prompter/remote/RemoteCommand.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <nlohmann/json.hpp>
#include <utility>

namespace prompter::remote {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxDepth = 4;  // a command is flat; deeper is not one
constexpr std::size_t kMaxIdBytes = 200;
constexpr std::size_t kMaxNameInError = 40;  // bytes of an unknown name quoted back

struct Named {
    CommandKind kind;
    std::string_view name;
    std::array<std::string_view, 3> fields;  // besides "command" and "id"
};

constexpr std::array<Named, 11> kCommands{{
    {CommandKind::state, "state", {}},
    {CommandKind::start, "start", {}},
    {CommandKind::pause, "pause", {}},
    {CommandKind::resume, "resume", {}},
    {CommandKind::toggle, "toggle", {}},
    {CommandKind::speed, "speed", {"value"}},
    {CommandKind::faster, "faster", {}},
    {CommandKind::slower, "slower", {}},
    {CommandKind::jump, "jump", {"paragraph", "section", "by"}},
    {CommandKind::screens, "screens", {"value"}},
    {CommandKind::add, "add", {"text", "prompt"}},
}};

const Named& named(CommandKind kind) {
    return *std::find_if(kCommands.begin(), kCommands.end(),
                         [kind](const Named& entry) { return entry.kind == kind; });
}

std::string dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// A name from the wire, shortened and made printable, to quote back in an error.
std::string shownName(std::string_view name) {
    std::string shown = dump(json(std::string(name.substr(0, kMaxNameInError))));
    if (name.size() > kMaxNameInError)
        shown.insert(shown.size() - 1, "...");
    return shown;
}

// Deeper nesting than any command has is refused before parsing, so a hostile message of a
// million brackets costs one pass and no deep structure.
bool nestedTooDeeply(std::string_view bytes) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : bytes) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth)
                return true;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

struct Parsed {
    std::optional<json> value;
    std::string error;
};

Parsed parse(std::string_view bytes) {
    if (nestedTooDeeply(bytes))
        return {std::nullopt, "malformed JSON: nested too deeply for a command"};
    try {
        return {json::parse(bytes), {}};
    } catch (const json::parse_error& error) {
        return {std::nullopt, "malformed JSON at byte " + std::to_string(error.byte)};
    } catch (const json::exception&) {  // a number beyond a double's range
        return {std::nullopt, "malformed JSON: a number out of range"};
    }
}

std::optional<double> finiteNumber(const json& value) {
    if (!value.is_number())
        return std::nullopt;
    const double number = value.get<double>();
    if (!std::isfinite(number))
        return std::nullopt;
    return number;
}

// A whole number from 1 to kMaxIndex (2.0 counts; 2.5 does not).
std::optional<std::int64_t> index(const json& value) {
    const auto number = finiteNumber(value);
    if (!number || *number != std::floor(*number) || *number < 1 ||
        *number > static_cast<double>(Command::kMaxIndex))
        return std::nullopt;
    return static_cast<std::int64_t>(*number);
}

bool hasVisibleText(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        return c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v';
    });
}

// The fields of `object` as command `kind`; `object` may hold "command" and "id" too.
CommandReading readFields(CommandKind kind, const json& object, std::string id) {
    const Named& entry = named(kind);
    const std::string name(entry.name);
    auto refuse = [&](const std::string& message) {
        return CommandError{name + ": " + message, id};
    };
    for (const auto& [key, value] : object.items()) {
        if (key == "command" || key == "id")
            continue;
        if (std::find(entry.fields.begin(), entry.fields.end(), key) == entry.fields.end() ||
            key.empty())
            return refuse("takes no field " + shownName(key));
    }
    Command command;
    command.kind = kind;
    command.id = std::move(id);
    switch (kind) {
        case CommandKind::speed: {
            const auto value =
                object.contains("value") ? finiteNumber(object["value"]) : std::optional<double>{};
            if (!value || *value < Command::kMinSpeed || *value > Command::kMaxSpeed)
                return refuse("\"value\" must be a number of words a minute from 20 to 600");
            command.value = *value;
            break;
        }
        case CommandKind::screens: {
            const auto value =
                object.contains("value") ? finiteNumber(object["value"]) : std::optional<double>{};
            if (!value || std::abs(*value) > Command::kMaxScreens)
                return refuse("\"value\" must be a number of screens from -1000 to 1000");
            command.value = *value;
            break;
        }
        case CommandKind::jump: {
            const int given = static_cast<int>(object.contains("paragraph")) +
                              static_cast<int>(object.contains("section")) +
                              static_cast<int>(object.contains("by"));
            if (given != 1)
                return refuse(
                    "give one of \"paragraph\" or \"section\" (counted from 1) or \"by\" "
                    "(paragraphs on, or back when negative)");
            if (object.contains("by")) {
                const auto by = finiteNumber(object["by"]);
                if (!by || *by != std::floor(*by) ||
                    std::abs(*by) > static_cast<double>(Command::kMaxIndex))
                    return refuse("\"by\" must be a whole number of paragraphs");
                command.by = static_cast<std::int64_t>(*by);
                break;
            }
            const bool paragraph = object.contains("paragraph");
            const auto number = index(object[paragraph ? "paragraph" : "section"]);
            if (!number)
                return refuse(std::string("\"") + (paragraph ? "paragraph" : "section") +
                              "\" must be a whole number from 1");
            (paragraph ? command.paragraph : command.section) = number;
            break;
        }
        case CommandKind::add: {
            if (!object.contains("text") || !object["text"].is_string() ||
                !hasVisibleText(object["text"].get_ref<const std::string&>()))
                return refuse("\"text\" must be the script's text, not empty");
            command.text = object["text"].get<std::string>();
            if (object.contains("prompt")) {
                if (!object["prompt"].is_boolean())
                    return refuse("\"prompt\" must be true or false");
                command.prompt = object["prompt"].get<bool>();
            }
            break;
        }
        default:
            break;
    }
    return command;
}

// The "id" of `object` as JSON text, or an error.
std::optional<std::string> readId(const json& object, std::string* id) {
    if (!object.contains("id"))
        return std::nullopt;
    const json& value = object["id"];
    if ((value.is_string() && value.get_ref<const std::string&>().size() <= kMaxIdBytes) ||
        (value.is_number() && finiteNumber(value))) {
        *id = dump(value);
        return std::nullopt;
    }
    return std::string("\"id\" must be a number or a string of at most 200 bytes");
}

}  // namespace

std::string_view commandName(CommandKind kind) {
    return named(kind).name;
}

std::optional<CommandKind> commandNamed(std::string_view name) {
    for (const Named& entry : kCommands)
        if (entry.name == name)
            return entry.kind;
    return std::nullopt;
}

CommandReading readMessage(std::string_view bytes) {
    Parsed parsed = parse(bytes);
    if (!parsed.value)
        return CommandError{parsed.error, {}};
    const json& object = *parsed.value;
    if (!object.is_object())
        return CommandError{"a command is a JSON object, such as {\"command\": \"pause\"}", {}};
    std::string id;
    if (auto problem = readId(object, &id))
        return CommandError{*problem, {}};
    if (!object.contains("command") || !object["command"].is_string())
        return CommandError{"no \"command\" named, such as {\"command\": \"pause\"}", id};
    const std::string& name = object["command"].get_ref<const std::string&>();
    const auto kind = commandNamed(name);
    if (!kind)
        return CommandError{"unknown command " + shownName(name), id};
    return readFields(*kind, object, std::move(id));
}

CommandReading readApiCall(std::string_view name, std::string_view body) {
    const auto kind = commandNamed(name);
    if (!kind)
        return CommandError{"unknown command " + shownName(name), {}};
    json object = json::object();
    if (hasVisibleText(body)) {
        Parsed parsed = parse(body);
        if (!parsed.value)
            return CommandError{std::string(name) + ": " + parsed.error, {}};
        if (!parsed.value->is_object())
            return CommandError{std::string(name) + ": the body must be a JSON object", {}};
        object = std::move(*parsed.value);
    }
    std::string id;
    if (auto problem = readId(object, &id))
        return CommandError{*problem, {}};
    if (object.contains("command") &&
        (!object["command"].is_string() || object["command"].get_ref<const std::string&>() != name))
        return CommandError{std::string(name) + ": the body names another command", id};
    return readFields(*kind, object, std::move(id));
}

std::string writeMessage(const Command& command) {
    json object{{"command", commandName(command.kind)}};
    switch (command.kind) {
        case CommandKind::speed:
        case CommandKind::screens:
            object["value"] = command.value;
            break;
        case CommandKind::jump:
            if (command.paragraph)
                object["paragraph"] = *command.paragraph;
            if (command.section)
                object["section"] = *command.section;
            if (command.by)
                object["by"] = *command.by;
            break;
        case CommandKind::add:
            object["text"] = command.text;
            object["prompt"] = command.prompt;
            break;
        default:
            break;
    }
    if (!command.id.empty())
        object["id"] = json::parse(command.id);
    return dump(object);
}

std::string okReply(const Command& command) {
    json object{{"ok", commandName(command.kind)}};
    if (!command.id.empty())
        object["id"] = json::parse(command.id);
    return dump(object);
}

std::string errorReply(std::string_view message, std::string_view id) {
    json object{{"error", std::string(message)}};
    if (!id.empty())
        object["id"] = json::parse(id);
    return dump(object);
}

std::string writeState(const RemoteState& state) {
    const auto tenth = [](double value) { return std::round(value * 10) / 10; };
    const auto hundredth = [](double value) { return std::round(value * 100) / 100; };
    json object{
        {"script", state.script ? json(*state.script) : json(nullptr)},
        {"scriptId", state.scriptId},
        {"running", state.running},
        {"countingDown", state.countingDown},
        {"following", state.following},
        {"connected", state.connected},
        {"speed", tenth(state.speed)},
        {"position", hundredth(state.position)},
        {"length", tenth(state.length)},
        {"paragraph", state.paragraph},
        {"paragraphs", state.paragraphs},
        {"counting", state.counting},
        {"section", state.section ? json(*state.section) : json(nullptr)},
        {"sections", state.sections},
        {"lines", state.lines},
    };
    return dump(json{{"state", std::move(object)}});
}

std::optional<RemoteState> readState(std::string_view bytes) {
    Parsed parsed = parse(bytes.size() > 0 ? bytes : std::string_view("x"));
    if (!parsed.value || !parsed.value->is_object() || !parsed.value->contains("state"))
        return std::nullopt;
    const json& object = (*parsed.value)["state"];
    if (!object.is_object())
        return std::nullopt;
    try {
        RemoteState state;
        if (object.at("script").is_string())
            state.script = object.at("script").get<std::string>();
        state.scriptId = object.at("scriptId").get<std::string>();
        state.connected = object.at("connected").get<bool>();
        state.running = object.at("running").get<bool>();
        state.countingDown = object.at("countingDown").get<bool>();
        state.following = object.at("following").get<bool>();
        state.speed = object.at("speed").get<double>();
        state.position = object.at("position").get<double>();
        state.length = object.at("length").get<double>();
        state.paragraph = object.at("paragraph").get<std::size_t>();
        state.paragraphs = object.at("paragraphs").get<std::size_t>();
        state.counting = object.value("counting", false);  // absent from older prompters
        if (object.at("section").is_number())
            state.section = object.at("section").get<std::size_t>();
        state.sections = object.at("sections").get<std::vector<std::string>>();
        state.lines = object.at("lines").get<std::vector<std::string>>();
        return state;
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

}  // namespace prompter::remote
