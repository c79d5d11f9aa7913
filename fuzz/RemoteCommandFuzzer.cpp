// Arbitrary bytes through the remote's message reader, as a WebSocket message and as a POST to
// /api/NAME (the first line names the command, the rest is the body).
//
// Promises checked, for any bytes at all:
// - reading never throws; it gives a command or an error with a message;
// - a command read is written back as a message that reads as the same command, and its
//   reply is JSON naming it (with its id);
// - an error's reply is JSON carrying the message (and the id, when one was read);
// - a message the reader accepts stays within its bounds: a speed from 20 to 600, screens
//   within 1000, paragraphs and sections from 1, exactly one place for a jump, text for add.
#include <cmath>
#include <nlohmann/json.hpp>

#include "FuzzSupport.h"
#include "prompter/remote/RemoteCommand.h"

namespace fuzzing {
namespace {

using prompter::remote::Command;
using prompter::remote::CommandError;
using prompter::remote::CommandKind;
using prompter::remote::CommandReading;

bool same(const Command& a, const Command& b) {
    return a.kind == b.kind && a.value == b.value && a.paragraph == b.paragraph &&
           a.section == b.section && a.by == b.by && a.text == b.text && a.prompt == b.prompt &&
           a.id == b.id;
}

void checkReading(const CommandReading& reading) {
    using nlohmann::json;
    if (const auto* error = std::get_if<CommandError>(&reading)) {
        check(!error->message.empty(), "an error without a message");
        const json reply =
            json::parse(prompter::remote::errorReply(error->message, error->id), nullptr, false);
        check(reply.is_object() && reply.contains("error"), "an error reply that is not JSON");
        if (!error->id.empty())
            check(reply.contains("id"), "an error reply without the id read");
        return;
    }
    const Command& command = std::get<Command>(reading);
    switch (command.kind) {
        case CommandKind::speed:
            check(command.value >= Command::kMinSpeed && command.value <= Command::kMaxSpeed,
                  "a speed out of range accepted");
            break;
        case CommandKind::screens:
            check(std::isfinite(command.value) && std::abs(command.value) <= Command::kMaxScreens,
                  "screens out of range accepted");
            break;
        case CommandKind::jump:
            check(command.paragraph.has_value() + command.section.has_value() +
                          command.by.has_value() ==
                      1,
                  "a jump to more than one place, or none, accepted");
            check(command.paragraph.value_or(1) >= 1 && command.section.value_or(1) >= 1,
                  "a jump before the first accepted");
            break;
        case CommandKind::add:
            check(!command.text.empty(), "an add without text accepted");
            break;
        default:
            break;
    }
    const CommandReading again =
        prompter::remote::readMessage(prompter::remote::writeMessage(command));
    check(std::holds_alternative<Command>(again) && same(std::get<Command>(again), command),
          "a command written back reads differently");
    const json reply = json::parse(prompter::remote::okReply(command), nullptr, false);
    check(reply.is_object() && reply["ok"] == prompter::remote::commandName(command.kind),
          "an ok reply that does not name the command");
}

}  // namespace

int remoteCommandOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    checkReading(prompter::remote::readMessage(bytes));
    const std::size_t newline = bytes.find('\n');
    if (newline != std::string_view::npos)
        checkReading(
            prompter::remote::readApiCall(bytes.substr(0, newline), bytes.substr(newline + 1)));
    return 0;
}

}  // namespace fuzzing

#ifdef QUORVANE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::remoteCommandOneInput(data, size);
}
#endif
