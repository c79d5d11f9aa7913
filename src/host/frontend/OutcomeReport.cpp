#include "host/frontend/OutcomeReport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "frame/Base64.h"
#include "handover/TextCharacters.h"
#include "host/frontend/HostOptions.h"
#include "host/frontend/InputText.h"
#include "host/session/Colour.h"
#include "host/session/StyledSpans.h"
#include "platform/foundation/Unicode.h"

namespace host {
namespace {

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

void writeNumber(frame::Output& out, double value) {
    if (!std::isfinite(value)) {
        out << "null";
        return;
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    const std::string_view written(text, static_cast<std::size_t>(end - text));
    out << written;
    if (written.find_first_of(".e") == std::string_view::npos)
        out << ".0";  // a point size stays a floating-point number for every reader
}

void writeInteger(frame::Output& out, std::int64_t value) {
    out << std::to_string(value);
}

void writeError(frame::Output& out, const platform::PlatformError& error, JsonTarget target) {
    out << "{\"domain\": ";
    writeJsonString(out, error.domain, target);
    out << ", \"code\": ";
    writeInteger(out, error.code);
    out << ", \"message\": ";
    writeJsonString(out, error.localizedDescription(), target);
    out << ", \"underlying\": ";
    if (error.underlying)
        writeError(out, *error.underlying, target);
    else
        out << "null";
    out << "}";
}

void writePaths(frame::Output& out, const std::vector<std::string>& paths, JsonTarget target) {
    out << "[";
    for (std::size_t i = 0; i < paths.size(); ++i) {
        out << (i ? ",\n    " : "\n    ");
        writeJsonPath(out, paths[i], target);
    }
    out << (paths.empty() ? "]" : "\n  ]");
}

// Scalars written as \uXXXX for a terminal, where they would act or reorder what is read: the
// C1 controls, DEL (the C0 ones always are) and the bidirectional controls.
bool actsOnATerminal(char32_t c) {
    return (c >= 0x7F && handover::isControl(c)) || handover::isDirectionControl(c);
}

void writeRuns(frame::Output& out, const platform::AttributedText& text) {
    out << "[";
    bool first = true;
    StyledSpans(text).forEach({0, text.length()}, [&](const StyledSpan& span) {
        out << (first ? "\n      {\"start\": " : ",\n      {\"start\": ");
        first = false;
        writeInteger(out, static_cast<std::int64_t>(span.range.location));
        out << ", \"length\": ";
        writeInteger(out, static_cast<std::int64_t>(span.range.length));
        out << ", \"fontSize\": ";
        if (span.font)
            writeNumber(out, span.font->pointSize());
        else
            out << "null";
        out << ", \"bold\": " << (span.font && span.font->isBold() ? "true" : "false");
        out << ", \"foregroundColor\": ";
        const auto rgb = span.foreground ? rgbOf(*span.foreground) : std::nullopt;
        if (rgb)
            writeJsonString(out, hexOf(*rgb));
        else
            out << "null";
        out << "}";
    });
    out << (first ? "]" : "\n    ]");
}

}  // namespace

void writeJsonStringContent(frame::Output& out, std::string_view text, JsonTarget target) {
    std::size_t plainFrom = 0;  // the start of bytes that go out as they are
    const auto flushPlain = [&](std::size_t to) {
        if (to > plainFrom)
            out << text.substr(plainFrom, to - plainFrom);
    };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
            ++i;
            continue;
        }
        if (byte == 0x7F && target == JsonTarget::file) {
            ++i;
            continue;
        }
        if (byte >= 0x80) {
            const platform::Utf8Scalar scalar = platform::decodeUtf8(text, i);
            if (!(scalar.size == 1 && scalar.value == platform::kReplacementCharacter)) {
                if (target == JsonTarget::terminal && actsOnATerminal(scalar.value)) {
                    flushPlain(i);
                    char escape[12];  // \u and four digits: every scalar here is below U+10000
                    std::snprintf(escape, sizeof escape, "\\u%04x",
                                  static_cast<unsigned>(scalar.value));
                    out << escape;
                    plainFrom = i + scalar.size;
                }
                i += scalar.size;
                continue;
            }
            flushPlain(i);
            out << "\xEF\xBF\xBD";
            plainFrom = ++i;
            continue;
        }
        flushPlain(i);
        switch (byte) {
            case '"':
                out << "\\\"";
                break;
            case '\\':
                out << "\\\\";
                break;
            case '\n':
                out << "\\n";
                break;
            case '\t':
                out << "\\t";
                break;
            case '\r':
                out << "\\r";
                break;
            case '\b':
                out << "\\b";
                break;
            case '\f':
                out << "\\f";
                break;
            default: {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                out << escape;
            }
        }
        plainFrom = ++i;
    }
    flushPlain(text.size());
}

void writeJsonString(frame::Output& out, std::string_view text, JsonTarget target) {
    out << '"';
    writeJsonStringContent(out, text, target);
    out << '"';
}

void writeJsonPath(frame::Output& out, std::string_view path, JsonTarget target) {
    if (!firstInvalidUtf8(path)) {
        writeJsonString(out, path, target);
        return;
    }
    out << "{\"base64\": \"" << frame::base64Of(path) << "\"}";
}

void writeOutcomeJson(frame::Output& out, const ShareOutcome* outcome,
                      const std::vector<std::string>* listing, JsonTarget target) {
    out << "{";
    const char* separator = "\n  ";
    if (outcome) {
        out << separator << "\"outcome\": ";
        writeJsonString(out, outcomeName(outcome->kind), target);
        out << ",\n  \"error\": ";
        if (outcome->error)
            writeError(out, *outcome->error, target);
        else
            out << "null";
        std::vector<std::string> files;
        for (const auto& url : outcome->newFiles)
            files.push_back(url.path());
        out << ",\n  \"files\": ";
        writePaths(out, files, target);
        out << ",\n  \"cancelledButSaved\": ";
        if (outcome->cancelledButSaved())
            writeJsonPath(out, files.front(), target);
        else
            out << "null";
        out << ",\n  \"navigationTitle\": ";
        writeJsonString(out, outcome->navigationTitle.view(), target);
        out << ",\n  \"textView\": {\n    \"string\": \"";
        // Piece by piece from the text's own storage: no copy of a text of any size.
        outcome->textViewContent.forEachPiece(
            [&](std::string_view piece) { writeJsonStringContent(out, piece, target); });
        out << "\"";
        out << ",\n    \"runs\": ";
        writeRuns(out, outcome->textViewContent);
        out << "\n  }";
        separator = ",\n  ";
    }
    if (listing) {
        out << separator << "\"importFolder\": ";
        writePaths(out, *listing, target);
    }
    out << "\n}\n";
}

OutcomeWords outcomeWords(const ShareOutcome& outcome, bool colourErr) {
    const auto paint = [](bool colour, const char* code, const std::string& text) {
        return colour ? std::string("\033[") + code + "m" + text + "\033[0m" : text;
    };
    std::string paths;
    for (const auto& url : outcome.newFiles)
        paths += url.path() + "\n";
    switch (outcome.kind) {
        case ShareOutcome::Kind::completed:
            // Standard output carries only what a script reads: the path.
            return {paths, paint(colourErr, "1;32", "Sent to the teleprompter.") + "\n"};
        case ShareOutcome::Kind::cancelled:
            if (!outcome.cancelledButSaved())
                return {"", paint(colourErr, "33", "Cancelled: nothing was sent.") + "\n"};
            // Closing during a send cancels the request, but the write under way goes on and
            // may finish: the person must not be told that nothing was sent.
            return {paths, paint(colourErr, "33",
                                 "Cancelled while sending; the text was saved all the same:") +
                               "\n"};
        case ShareOutcome::Kind::failed:
            return {"",
                    paint(colourErr, "1;31", "Not sent: ") +
                        (outcome.error ? outcome.error->localizedDescription() : "unknown error") +
                        "\n"};
        case ShareOutcome::Kind::open:
            break;
    }
    return {"", paint(colourErr, "1;31", "The extension did not end the share.") + "\n"};
}

int exitStatusFor(const ShareOutcome& outcome) {
    switch (outcome.kind) {
        case ShareOutcome::Kind::completed:
            return kExitCompleted;
        case ShareOutcome::Kind::cancelled:
            return outcome.cancelledButSaved() ? kExitCancelledButSaved : kExitCancelled;
        case ShareOutcome::Kind::failed:
            return kExitFailed;
        case ShareOutcome::Kind::open:
            break;
    }
    return kExitExtensionUnavailable;
}

}  // namespace host
