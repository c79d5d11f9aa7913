// How the host tells the outcome of a share: in words, or as one JSON object.
//
// JSON: {"outcome": "completed" | "cancelled" | "failed",
//        "error": null | {"domain", "code", "message", "underlying": null | {...}},
//        "files": [paths of the new entries of the import folder],
//        "navigationTitle": "...",
//        "textView": {"string": "...", "runs": [{"start", "length", "fontSize", "bold",
//                                                "foregroundColor": "#rrggbb" | null}]}}
// Run offsets and lengths count bytes of the UTF-8 string; a run ends wherever the font or the
// foreground colour changes.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "host/ShareSession.h"

namespace host {

[[nodiscard]] nlohmann::json outcomeJson(const ShareOutcome& outcome);
// One or two lines for a person; `colour` adds terminal colours.
[[nodiscard]] std::string outcomeWords(const ShareOutcome& outcome, bool colour);
// The exit status for an outcome.
[[nodiscard]] int exitStatusFor(const ShareOutcome& outcome);

// "#rrggbb" of a colour's components rounded to 8 bits and clamped; null for a colour that
// has no components.
[[nodiscard]] nlohmann::json colourJson(const platform::RgbaColor& color);

}  // namespace host
