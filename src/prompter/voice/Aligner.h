// Aligner: where the presenter is in the script, from the words a recogniser heard.
//
// The script is the sequence of words a presenter says (cues, headings and words the recogniser
// cannot hear already left out). The place is the last of them that was said. Each word heard
// is matched against the script's words; a run is a chain of heard words matching script words
// in order, with at most a couple of script words left out between links (skipped by the
// presenter or missed by the recogniser). How far the place may move for a word depends on how
// long a run confirms it:
//   - the next word: one word is enough while the presenter reads on (the word before matched
//     the place), two after an interruption;
//   - a few words on (words left out): a run of two, with a word the script says rarely (not
//     "the" or "and") after the words left out;
//   - further on in the sentence: a run of three;
//   - a paragraph or more on, or any way back: a run of several (kConfirmWords), with no word
//     left out or added between them.
// A word that matches nothing near enough, an ad-lib, or silence leaves the place where it is;
// several candidates go to the nearest one ahead. Nothing here blocks or waits: it is a pure
// function of the words heard, so a hypothesis that the recogniser revises is aligned again from
// a copy of the state at the start of the utterance.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace prompter::voice {

class Aligner {
  public:
    static constexpr std::ptrdiff_t kNearWords = 4;   // "a few words on"
    static constexpr std::ptrdiff_t kLocalWords = 8;  // "further on in the sentence"
    static constexpr std::ptrdiff_t kGapWords = 3;    // most script words between two links
    static constexpr int kConfirmWords = 4;           // a run that confirms a re-sync
    static constexpr std::size_t kCommonAfter = 2;    // a word said more often is common

    explicit Aligner(std::vector<std::string> words = {});

    // The index of the last word said, or -1 before the first.
    [[nodiscard]] std::ptrdiff_t place() const { return place_; }
    // Starts from `index` (the presenter or a key moved there), forgetting the runs.
    void setPlace(std::ptrdiff_t index);
    [[nodiscard]] std::size_t size() const { return script_->words.size(); }
    [[nodiscard]] const std::string& word(std::size_t index) const { return script_->words[index]; }

    struct Step {
        bool moved = false;
        bool resync = false;  // a confirmed move beyond the words near the place
    };
    // One word heard.
    Step hear(std::string_view word);

  private:
    struct Script {
        std::vector<std::string> words;
        std::unordered_map<std::string, std::vector<std::size_t>> where;
    };
    struct Run {
        std::size_t end;  // the script word the last heard word matched
        int length;       // heard words in the chain
        int rare;         // of those after the last word left out, words the script says at
                          // most kCommonAfter times
        int unbroken;     // of those, the last ones matching script words one after another
    };

    [[nodiscard]] int required(std::ptrdiff_t distance, bool continuing) const;

    std::shared_ptr<const Script> script_;  // shared by copies
    std::ptrdiff_t place_ = -1;
    std::vector<Run> runs_;    // the runs ending at the last word heard
    int wordsSinceMatch_ = 0;  // heard words that matched nothing since the runs were made
    bool placed_ = false;      // put at its place by setPlace(), nothing heard since
};

}  // namespace prompter::voice
