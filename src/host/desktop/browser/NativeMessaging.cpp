#include "host/desktop/browser/NativeMessaging.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace host::browser {

namespace {

// Reads up to `size` bytes; returns how many were read before the end of the stream.
std::variant<std::size_t, std::string> readFully(int fd, char* into, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, into + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::string("the message could not be read: ") + std::strerror(errno);
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// A size in MiB with one decimal, rounded up, so that a size over the cap never reads as the cap.
std::string mebibytes(std::uint64_t bytes) {
    const std::uint64_t tenths = (bytes * 10 + (1u << 20) - 1) >> 20;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MiB";
}

}  // namespace

std::variant<std::string, FrameProblem> readMessage(int fd, std::uint32_t maxBytes) {
    char header[4];
    const auto headerRead = readFully(fd, header, sizeof header);
    if (const auto* problem = std::get_if<std::string>(&headerRead))
        return FrameProblem{*problem};
    const std::size_t headerBytes = std::get<std::size_t>(headerRead);
    if (headerBytes == 0)
        return FrameProblem{"the browser closed the connection without a message", true};
    if (headerBytes < sizeof header)
        return FrameProblem{"the message was cut short (its length was incomplete)"};
    std::uint32_t length = 0;
    std::memcpy(&length, header, sizeof length);  // the machine's own byte order
    if (length > maxBytes) {
        // The browser is still writing the message: read it to its end (up to four times the
        // cap, beyond which it is not waited for), so that it takes the answer rather than a
        // closed pipe.
        if (length / 4 <= maxBytes) {
            char discard[65536];
            for (std::uint64_t left = length; left > 0;) {
                const auto got =
                    readFully(fd, discard, std::min<std::uint64_t>(left, sizeof discard));
                if (!std::holds_alternative<std::size_t>(got) || std::get<std::size_t>(got) == 0)
                    break;
                left -= std::get<std::size_t>(got);
            }
        }
        return FrameProblem{"the text is too large to share from the browser (" +
                            mebibytes(length) + "; at most " + mebibytes(maxBytes) + ")"};
    }
    std::string message(length, '\0');
    const auto bodyRead = readFully(fd, message.data(), length);
    if (const auto* problem = std::get_if<std::string>(&bodyRead))
        return FrameProblem{*problem};
    if (std::get<std::size_t>(bodyRead) < length)
        return FrameProblem{"the message was cut short (" +
                            std::to_string(std::get<std::size_t>(bodyRead)) + " of " +
                            std::to_string(length) + " bytes arrived)"};
    return message;
}

bool writeMessage(int fd, const nlohmann::json& message) {
    // Anything not UTF-8 in a reason becomes U+FFFD: the browser takes only UTF-8.
    const std::string body = message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    const auto length = static_cast<std::uint32_t>(body.size());
    std::string frame(sizeof length, '\0');
    std::memcpy(frame.data(), &length, sizeof length);
    frame += body;
    for (std::size_t done = 0; done < frame.size();) {
        const ssize_t written = ::write(fd, frame.data() + done, frame.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

std::variant<ShareRequest, std::string> parseShareRequest(const std::string& json) {
    nlohmann::json message;
    try {
        message = nlohmann::json::parse(json);
    } catch (const nlohmann::json::parse_error& error) {
        const std::string what = error.what();
        // The browser encodes what it sends as UTF-8; a text it could not encode (a lone
        // surrogate in a page's string, say) arrives as an escape that stands for no character.
        if (what.find("surrogate") != std::string::npos ||
            what.find("UTF-8") != std::string::npos || what.find("UTF8") != std::string::npos)
            return std::string(
                "the text is not valid Unicode (UTF-8), so it cannot be saved exactly");
        return std::string("the browser's message is not valid JSON");
    } catch (const nlohmann::json::out_of_range&) {
        // JSON sets no bound on numbers; one beyond a double (1e999) is refused, not a crash.
        return std::string("the browser's message holds a number too large to read");
    } catch (const nlohmann::json::exception&) {
        return std::string("the browser's message is not valid JSON");
    }
    if (!message.is_object())
        return std::string("the browser's message is not a JSON object");
    const auto action = message.find("action");
    if (action == message.end() || !action->is_string() || *action != "share")
        return std::string("the browser's message asks for no share (\"action\": \"share\")");
    const auto text = message.find("text");
    if (text == message.end() || !text->is_string())
        return std::string("the browser's message holds no text (\"text\" is not a string)");
    ShareRequest request;
    // Moved, not copied: a text of many megabytes is held once less.
    request.text = std::move(text->get_ref<std::string&>());
    if (const auto show = message.find("show"); show != message.end()) {
        if (!show->is_boolean())
            return std::string("\"show\" in the browser's message is not true or false");
        request.show = show->get<bool>();
    }
    return request;
}

nlohmann::json sentReply(const nlohmann::json& path) {
    return {{"outcome", "sent"}, {"path", path}};
}

nlohmann::json cancelledReply() {
    return {{"outcome", "cancelled"}};
}

nlohmann::json failedReply(std::string reason) {
    if (reason.size() > kMaxReasonBytes) {
        std::size_t cut = kMaxReasonBytes;
        // Never in the middle of a character: back over continuation bytes.
        while (cut > 0 && (static_cast<unsigned char>(reason[cut]) & 0xC0) == 0x80)
            --cut;
        reason.resize(cut);
        reason += "…";
    }
    return {{"outcome", "failed"}, {"reason", reason}};
}

}  // namespace host::browser
