// How the host tells the outcome of a share: in words, or as one JSON object.
//
// JSON: {"outcome": "completed" | "cancelled" | "failed" | "open",
//        "error": null | {"domain", "code", "message", "underlying": null | {...}},
//        "files": [paths of the files this share created in the import folder],
//        "cancelledButSaved": null | path of the file saved although the share was cancelled,
//        "navigationTitle": "...",
//        "textView": {"string": "...", "runs": [{"start", "length", "fontSize", "bold",
//                                                "foregroundColor": "#rrggbb" | null}]},
//        "importFolder": [paths]}   (only with --list)
// A path is exact: a string when its bytes are UTF-8, else {"base64": "..."} holding its bytes
// (standard base64 with padding), so that every path reads back to the bytes that open it.
// Run offsets and lengths count bytes of the UTF-8 string; a run ends wherever the font or the
// foreground colour changes. The JSON is written as it is made, straight from the text's own
// storage: a text of any size costs no copy of it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "frame/Output.h"
#include "host/session/ShareSession.h"

namespace host {

// Where the JSON goes. On a terminal every C0 and C1 control, DEL and bidirectional control
// (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069) is written as \uXXXX, so none
// can act on the terminal or reorder what is read; the document means the same.
enum class JsonTarget { file, terminal };

// Writes `text` as a JSON string: quotes, backslashes and control characters escaped, any byte
// that is not UTF-8 written as U+FFFD so the document stays valid.
void writeJsonString(frame::Output& out, std::string_view text,
                     JsonTarget target = JsonTarget::file);
// The same without the quotes, for a string written in pieces.
void writeJsonStringContent(frame::Output& out, std::string_view text,
                            JsonTarget target = JsonTarget::file);
// Writes a path exactly: a string when it is UTF-8, else {"base64": "<its bytes>"}.
void writeJsonPath(frame::Output& out, std::string_view path, JsonTarget target = JsonTarget::file);

// The outcome (and, when given, the import folder's listing) as one JSON object and a line end.
void writeOutcomeJson(frame::Output& out, const ShareOutcome* outcome,
                      const std::vector<std::string>* listing,
                      JsonTarget target = JsonTarget::file);

// The outcome in words: what goes to standard output (the saved path alone, what a script
// reads), and what goes to standard error for a person (that it was sent, cancelled or failed).
// `colourErr` adds terminal colours to the words.
struct OutcomeWords {
    std::string out;
    std::string err;
};
[[nodiscard]] OutcomeWords outcomeWords(const ShareOutcome& outcome, bool colourErr);

// The exit status for an outcome.
[[nodiscard]] int exitStatusFor(const ShareOutcome& outcome);

}  // namespace host
