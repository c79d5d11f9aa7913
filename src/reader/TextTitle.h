// TextTitle: what a reader of the import folder shows of a waiting text and how it names it.
//
// Pure functions over bytes; no file is touched here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "handover/ShareContract.h"
#include "handover/TextTitle.h"

namespace reader {

// How many bytes of a text are read for its title: a title is its first line, and a first line
// longer than this is shown cut.
inline constexpr std::size_t kTitleReadLimit = 4096;

// Whether `name` is a text's name: the contract's one rule (upper-case UUID, nothing more).
using handover::isTextName;

// The title of a text from its first bytes: the hand-over's one rule (see handover/TextTitle.h),
// the bytes given back as they are.
//   titleOf("\n\n  Evening news \r\nGood evening") == "Evening news"
using handover::titleOf;

// The file name a text delivered into a folder gets: made from `title`, then " (copy)" when
// `copy` is 2 or more, then ".txt". The whole name is at most kMaxFileNameBytes bytes, valid
// UTF-8, and safe on every common file system and in a shell listing:
// - no "/", no NUL, no control characters (C0, DEL, C1): each becomes a space; runs of white
//   space become one space;
// - bytes that are not UTF-8 become U+FFFD; the direction overrides and marks that could make a
//   name read other than it is (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069) are
//   dropped, and so are the invisible U+200B, U+2060 and U+FEFF (a byte-order mark);
// - no leading dot or space (a name never hides, never is "." or ".."), no trailing space;
// - the title is cut at a character boundary to fit; "Untitled" when nothing is left.
//   fileNameFor("Evening news", 1) == "Evening news.txt"
//   fileNameFor("../etc/passwd", 3) == "-etc-passwd (3).txt"
inline constexpr std::size_t kMaxFileNameBytes = 100;
[[nodiscard]] std::string fileNameFor(std::string_view title, unsigned copy);

// `bytes` as the inside of a JSON string: quotes, backslashes and control characters escaped,
// bytes that are not UTF-8 written as U+FFFD. `pending` carries an incomplete UTF-8 sequence
// from the end of one piece to the next, so a text can be escaped piece by piece as it is read;
// call once more with `last` true to flush it. `forTerminal` (JSON a person's terminal shows)
// also writes DEL, the C1 controls and the direction marks as \u escapes: the same string to
// any JSON reader, and nothing the terminal would act on or reorder by.
void appendJsonEscaped(std::string& out, std::string_view bytes, std::string* pending = nullptr,
                       bool last = true, bool forTerminal = false);

// Whether `bytes` are UTF-8 (by the rules appendJsonEscaped reads them with). To check a text
// piece by piece, pass the same `pending` each time (it carries a sequence cut by a piece's end)
// and `last` true with the final piece.
[[nodiscard]] bool isUtf8(std::string_view bytes, std::string* pending = nullptr, bool last = true);

// `bytes` as one line of plain text that neither breaks a listing's columns nor steers a
// terminal: control characters (C0, DEL, C1: tabs, line breaks, escapes) become a space, bytes
// that are not UTF-8 U+FFFD, and the bidirectional controls (which would reorder the rest of
// the line: a title could pass for another) are dropped, unless `keepDirectionControls`.
[[nodiscard]] std::string plainLine(std::string_view bytes, bool keepDirectionControls = false);

}  // namespace reader
