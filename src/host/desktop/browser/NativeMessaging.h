// NativeMessaging: the browsers' framing of the messages between an extension and a program
// it starts (Chromium's and Firefox's native messaging): each message is UTF-8 JSON preceded by
// its length in bytes, a 32-bit unsigned integer in the machine's own byte order. One message
// in, one message out, per share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include <nlohmann/json.hpp>

namespace host::browser {

// The largest message taken from the browser: 16 MiB of JSON, far above any script or page a
// person reads out (a book is a few MB), and small enough to hold in memory at once. A larger
// message is refused without being read.
inline constexpr std::uint32_t kMaxIncomingMessage = 16u << 20;
// Chromium takes at most 1 MB from a program; what we send stays far below that (a path and a
// reason of at most kMaxReasonBytes).
inline constexpr std::size_t kMaxOutgoingMessage = 1u << 20;
inline constexpr std::size_t kMaxReasonBytes = 2000;

// Reading one message from a descriptor: the JSON's bytes, or why there is none. `ended` is set
// when the stream ended before any byte of a message (the browser closed it: not an error).
struct FrameProblem {
    std::string reason;
    bool ended = false;
};
[[nodiscard]] std::variant<std::string, FrameProblem> readMessage(
    int fd, std::uint32_t maxBytes = kMaxIncomingMessage);

// Writes `message` framed. False when the descriptor took less than everything.
bool writeMessage(int fd, const nlohmann::json& message);

// A share asked for: {"action": "share", "text": TEXT, "show": true|false} ("show" defaults to
// true: the person sees the text in the share window and sends or closes it).
struct ShareRequest {
    std::string text;
    bool show = true;
};
// The request in `json`, or the reason it is refused, in words for the person who shared.
[[nodiscard]] std::variant<ShareRequest, std::string> parseShareRequest(const std::string& json);

// The replies: {"outcome": "sent", "path": PATH} (PATH a string, or {"base64": ...} for a path
// that is not UTF-8, as quorvane-share --json writes it; null when the text was sent but memory
// ran out before its path was read), {"outcome": "cancelled"} and
// {"outcome": "failed", "reason": WORDS} (cut to kMaxReasonBytes on a character boundary).
[[nodiscard]] nlohmann::json sentReply(const nlohmann::json& path);
[[nodiscard]] nlohmann::json cancelledReply();
[[nodiscard]] nlohmann::json failedReply(std::string reason);

}  // namespace host::browser
