// RemoteCommand: the messages a remote sends the prompter, read from JSON, and what it is sent
// back (replies and the prompt's state), written as JSON.
//
// A command is one JSON object naming it: {"command": "pause"}, {"command": "speed", "value":
// 160}, {"command": "jump", "paragraph": 4}, {"command": "jump", "by": -1}. Reading is strict:
// anything that is not exactly one known command with the fields it takes (of the right type and in
// range) is refused with a message that names what was wrong, so a controller with a typo learns of
// it instead of driving the prompt somewhere unexpected. Every command may carry an "id" (a string
// or a number) that its reply echoes. Paragraphs and sections count from 1, as the prompter shows
// them.
//
// No Qt here: the same reader serves the socket, the HTTP calls and the fuzzer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace prompter::remote {

enum class CommandKind {
    state,  // only asks for the state
    start,  // the countdown, then movement
    pause,
    resume,
    toggle,
    speed,  // value: words a minute
    faster,
    slower,
    jump,     // to a paragraph or a section, or by paragraphs
    screens,  // value: screens forward (negative: back)
    add,      // text: a new script in the library; prompt: prompt it at once
};

struct Command {
    static constexpr double kMinSpeed = 20;  // words a minute, as the prompt allows
    static constexpr double kMaxSpeed = 600;
    static constexpr double kMaxScreens = 1000;  // a jump further than this is a mistake
    static constexpr std::int64_t kMaxIndex = 1'000'000'000;

    CommandKind kind = CommandKind::state;
    double value = 0;                       // speed, screens
    std::optional<std::int64_t> paragraph;  // jump, from 1
    std::optional<std::int64_t> section;    // jump, from 1
    std::optional<std::int64_t> by;         // jump, paragraphs on (negative: back), as the keys
    std::string text;                       // add
    bool prompt = false;                    // add
    std::string id;                         // echoed in the reply, as JSON (empty: none)
};

struct CommandError {
    std::string message;
    std::string id;  // as JSON, when the message carried one that could be read
};

using CommandReading = std::variant<Command, CommandError>;

[[nodiscard]] std::string_view commandName(CommandKind kind);
[[nodiscard]] std::optional<CommandKind> commandNamed(std::string_view name);

// One message from a WebSocket.
[[nodiscard]] CommandReading readMessage(std::string_view bytes);
// POST /api/NAME with `body`: empty, or a JSON object of the command's fields (a "command"
// field, when present, must agree with NAME).
[[nodiscard]] CommandReading readApiCall(std::string_view name, std::string_view body);
// The command as a message readMessage reads back as the same command.
[[nodiscard]] std::string writeMessage(const Command& command);

// {"ok": "NAME"} (and the id) for a command carried out.
[[nodiscard]] std::string okReply(const Command& command);
// {"error": "MESSAGE"} (and the id).
[[nodiscard]] std::string errorReply(std::string_view message, std::string_view id = {});

// What a remote shows of the prompt.
struct RemoteState {
    std::optional<std::string> script;  // the title; none while nothing is prompted
    std::string scriptId;               // tells one script's text from another's
    bool running = false;               // moving or counting down
    bool countingDown = false;
    bool following = false;     // another prompter (--follow) sets the place
    bool connected = true;      // a follower's link to its leader
    double speed = 140;         // words a minute
    double position = 0;        // words read
    double length = 0;          // words in the script
    std::size_t paragraph = 0;  // from 1; 0 while nothing is prompted
    std::size_t paragraphs = 0;
    // The script's index is still being made: `length`, `paragraphs` and `sections` are those
    // of its start so far.
    bool counting = false;
    std::optional<std::size_t> section;  // from 1, when the script has sections
    std::vector<std::string> sections;   // their titles
    std::vector<std::string> lines;      // the paragraph at the reading line and the next ones
};

// {"state": {...}}. The place is rounded to a hundredth of a word (finer than a frame's movement
// at any speed a person reads at), the speed and length to a tenth, so a still prompt writes
// the same text each time and only a change is worth sending.
[[nodiscard]] std::string writeState(const RemoteState& state);
// Reads what writeState wrote (a follower reads its leader); nothing when it is not a state.
[[nodiscard]] std::optional<RemoteState> readState(std::string_view bytes);

}  // namespace prompter::remote
