#include "host/cli/OutcomeReport.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "host/cli/HostOptions.h"
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

void writeNumber(Output& out, double value) {
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

void writeInteger(Output& out, std::int64_t value) {
    out << std::to_string(value);
}

void writeError(Output& out, const platform::PlatformError& error) {
    out << "{\"domain\": ";
    writeJsonString(out, error.domain);
    out << ", \"code\": ";
    writeInteger(out, error.code);
    out << ", \"message\": ";
    writeJsonString(out, error.localizedDescription());
    out << ", \"underlying\": ";
    if (error.underlying)
        writeError(out, *error.underlying);
    else
        out << "null";
    out << "}";
}

void writePaths(Output& out, const std::vector<std::string>& paths) {
    out << "[";
    for (std::size_t i = 0; i < paths.size(); ++i) {
        out << (i ? ",\n    " : "\n    ");
        writeJsonString(out, paths[i]);
    }
    out << (paths.empty() ? "]" : "\n  ]");
}

void writeRuns(Output& out, const platform::AttributedText& text) {
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

void writeJsonStringContent(Output& out, std::string_view text) {
    std::size_t plainFrom = 0;  // the start of bytes that go out as they are
    const auto flushPlain = [&](std::size_t to) {
        if (to > plainFrom)
            out << text.substr(plainFrom, to - plainFrom);
    };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\') {
            ++i;
            continue;
        }
        if (byte >= 0x80) {
            const platform::Utf8Scalar scalar = platform::decodeUtf8(text, i);
            if (!(scalar.size == 1 && scalar.value == platform::kReplacementCharacter)) {
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

void writeJsonString(Output& out, std::string_view text) {
    out << '"';
    writeJsonStringContent(out, text);
    out << '"';
}

void writeOutcomeJson(Output& out, const ShareOutcome* outcome,
                      const std::vector<std::string>* listing) {
    out << "{";
    const char* separator = "\n  ";
    if (outcome) {
        out << separator << "\"outcome\": ";
        writeJsonString(out, outcomeName(outcome->kind));
        out << ",\n  \"error\": ";
        if (outcome->error)
            writeError(out, *outcome->error);
        else
            out << "null";
        std::vector<std::string> files;
        for (const auto& url : outcome->newFiles)
            files.push_back(url.path());
        out << ",\n  \"files\": ";
        writePaths(out, files);
        out << ",\n  \"cancelledButSaved\": ";
        if (outcome->cancelledButSaved())
            writeJsonString(out, files.front());
        else
            out << "null";
        out << ",\n  \"navigationTitle\": ";
        writeJsonString(out, outcome->navigationTitle.view());
        out << ",\n  \"textView\": {\n    \"string\": \"";
        // Piece by piece from the text's own storage: no copy of a text of any size.
        outcome->textViewContent.forEachPiece(
            [&](std::string_view piece) { writeJsonStringContent(out, piece); });
        out << "\"";
        out << ",\n    \"runs\": ";
        writeRuns(out, outcome->textViewContent);
        out << "\n  }";
        separator = ",\n  ";
    }
    if (listing) {
        out << separator << "\"importFolder\": ";
        writePaths(out, *listing);
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
