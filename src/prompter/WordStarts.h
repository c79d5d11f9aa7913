// WordStarts: the words that start in a run of a script's bytes, as the script index counts them.
//
// A word starts at a byte that is not a space, a tab or a UTF-8 continuation byte when the
// character before it was a space, a tab, an ideograph or kana, or the start of the run's
// paragraph; each ideograph or kana (lead bytes 0xE3 to 0xE9) is a word of its own. `boundary`
// carries, between runs, whether the next character may start a word (1 at a paragraph's start),
// so a text counted in pieces, split anywhere (inside a character too), counts as it does whole.
//
//   unsigned boundary = 1;
//   countWordStarts(bytes, 5, boundary) + countWordStarts(bytes + 5, n - 5, boundary);
#pragma once

#include <cstddef>
#include <cstdint>

namespace prompter {

// Counts at memory speed, many bytes at a time; the same count and `boundary` as
// countWordStartsByByte for every input, valid UTF-8 or not.
[[nodiscard]] std::uint64_t countWordStarts(const unsigned char* bytes, std::size_t size,
                                            unsigned& boundary);
// The same, a byte at a time: where the many-at-a-time form is not built.
[[nodiscard]] std::uint64_t countWordStartsByByte(const unsigned char* bytes, std::size_t size,
                                                  unsigned& boundary);

}  // namespace prompter
