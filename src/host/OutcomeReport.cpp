#include "host/OutcomeReport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace host {
namespace {

using nlohmann::json;

json errorJson(const platform::PlatformError& error) {
    json result{
        {"domain", error.domain}, {"code", error.code}, {"message", error.localizedDescription()}};
    result["underlying"] = error.underlying ? errorJson(*error.underlying) : json(nullptr);
    return result;
}

const char* outcomeName(ShareOutcome::Kind kind) {
    switch (kind) {
        case ShareOutcome::Kind::completed:
            return "completed";
        case ShareOutcome::Kind::cancelled:
            return "cancelled";
        case ShareOutcome::Kind::failed:
            return "failed";
        case ShareOutcome::Kind::open:
            break;
    }
    return "open";
}

// Runs of the text view's content where neither the font nor the foreground colour changes.
json runsJson(const platform::AttributedText& text) {
    const auto fonts = text.runs(platform::NSFontAttributeName);
    const auto colours = text.runs(platform::NSForegroundColorAttributeName);
    json runs = json::array();
    std::size_t f = 0, c = 0;
    std::uint64_t position = 0;
    while (position < text.length()) {
        while (fonts[f].range.end() <= position)
            ++f;
        while (colours[c].range.end() <= position)
            ++c;
        const std::uint64_t end = std::min(fonts[f].range.end(), colours[c].range.end());
        const platform::Font* font = fonts[f].value ? fonts[f].value->font() : nullptr;
        const platform::RgbaColor* colour = colours[c].value ? colours[c].value->color() : nullptr;
        runs.push_back({{"start", position},
                        {"length", end - position},
                        {"fontSize", font ? json(font->pointSize()) : json(nullptr)},
                        {"bold", font && font->isBold()},
                        {"foregroundColor", colour ? colourJson(*colour) : json(nullptr)}});
        position = end;
    }
    return runs;
}

}  // namespace

json colourJson(const platform::RgbaColor& color) {
    double components[4] = {0, 0, 0, 0};
    if (!color.getRed(&components[0], &components[1], &components[2], &components[3]))
        return nullptr;
    char text[8];
    auto byte = [](double value) {
        if (!(value > 0))
            return 0L;
        return std::min(255L, std::lround(value * 255.0));
    };
    std::snprintf(text, sizeof text, "#%02lx%02lx%02lx",
                  static_cast<unsigned long>(byte(components[0])),
                  static_cast<unsigned long>(byte(components[1])),
                  static_cast<unsigned long>(byte(components[2])));
    return text;
}

json outcomeJson(const ShareOutcome& outcome) {
    json files = json::array();
    for (const auto& url : outcome.newFiles)
        files.push_back(url.path());
    return {{"outcome", outcomeName(outcome.kind)},
            {"error", outcome.error ? errorJson(*outcome.error) : json(nullptr)},
            {"files", files},
            {"navigationTitle", outcome.navigationTitle},
            {"textView",
             {{"string", outcome.textViewContent.string()},
              {"runs", runsJson(outcome.textViewContent)}}}};
}

std::string outcomeWords(const ShareOutcome& outcome, bool colour) {
    auto paint = [&](const char* code, const std::string& text) {
        return colour ? std::string("\033[") + code + "m" + text + "\033[0m" : text;
    };
    switch (outcome.kind) {
        case ShareOutcome::Kind::completed: {
            std::string words = paint("1;32", "Sent to the teleprompter.");
            for (const auto& url : outcome.newFiles)
                words += "\n  " + url.path();
            return words;
        }
        case ShareOutcome::Kind::cancelled: {
            if (outcome.newFiles.empty())
                return paint("33", "Cancelled: nothing was sent.");
            // Closing during a send cancels the request, but the write under way goes on and
            // may finish: the person must not be told that nothing was sent.
            std::string words =
                paint("33", "Cancelled while sending; the text was saved all the same:");
            for (const auto& url : outcome.newFiles)
                words += "\n  " + url.path();
            return words;
        }
        case ShareOutcome::Kind::failed:
            return paint("1;31", "Not sent: ") +
                   (outcome.error ? outcome.error->localizedDescription() : "unknown error");
        case ShareOutcome::Kind::open:
            break;
    }
    return paint("1;31", "The extension did not end the share.");
}

int exitStatusFor(const ShareOutcome& outcome) {
    switch (outcome.kind) {
        case ShareOutcome::Kind::completed:
            return kExitCompleted;
        case ShareOutcome::Kind::cancelled:
            return kExitCancelled;
        case ShareOutcome::Kind::failed:
            return kExitFailed;
        case ShareOutcome::Kind::open:
            break;
    }
    return kExitExtensionUnavailable;
}

}  // namespace host
