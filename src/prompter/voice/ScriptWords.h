// ScriptWords: the words of a script a presenter says aloud, in order, each tied to the word the
// prompting view counts it as.
//
// The view counts words per paragraph (a paragraph is a line): a word starts at a character
// after a space, a tab or the line's start, and each ideograph or kana is a word of its own.
// Here the same words are found and normalised for a recogniser (lower case, punctuation at the
// edges gone, a hyphenated word said as its parts). Words inside a cue (`[pause]`, `[slide 4]`)
// and on a section heading line (`# Opening`) are counted but never expected to be spoken.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace prompter::voice {

struct SpokenWord {
    std::string text;         // lower case, as a dictionary spells it
    std::size_t paragraph;    // the line it is on
    std::size_t ordinal;      // the view's word in that paragraph, cue words counted
    std::size_t ordinalBare;  // the same, cue words not counted
};

struct ScriptWords {
    std::vector<SpokenWord> spoken;
    // Per paragraph: words counted with cue words, and without them.
    std::vector<std::size_t> counted;
    std::vector<std::size_t> countedBare;

    [[nodiscard]] static ScriptWords read(std::string_view text);
};

// `word` as a dictionary spells it: lower case, letters, digits and inner apostrophes only.
[[nodiscard]] std::string normalised(std::string_view word);

}  // namespace prompter::voice
