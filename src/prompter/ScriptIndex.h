// ScriptIndex: what a script holds besides its characters, read once in one pass: where each
// paragraph starts in words, which paragraphs hold text, the section headings and the cues.
//
// The editor, the prompting view, voice-following and the remote all read a script through this
// index, so each place a word, a section or a cue is counted agrees with the others.
//
//   - A paragraph is a block of the script's text (qttext::TextBlocks: a line, or a piece of a
//     very long line). Words are counted as the prompting view moves by them: a word starts at a
//     character after a space, a tab or the paragraph's start; each ideograph or kana is a word
//     of its own. A paragraph without words counts as one, so a blank line takes a moment too.
//   - A cue is a stretch in square brackets inside one paragraph (`[pause]`, `[slide 4]`): it is
//     drawn but never read aloud, so its words are not counted (an unclosed `[` is text).
//   - A section heading is a paragraph whose first character that is not a space is `#`; its
//     title is the rest without the `#`s and the spaces around. Its words are counted.
//   - The title line is the first paragraph that holds text.
//
//   ScriptIndex index = ScriptIndex::build(source, blocks);
//   index.sections()[0].title == "Opening";  index.paragraphStart(3) == 12.0;
#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "qttext/TextBlocks.h"
#include "qttext/TextSource.h"

namespace prompter {

class ScriptIndex {
  public:
    struct Section {
        std::size_t paragraph;  // the heading's paragraph
        QString title;          // without the `#`s
    };
    struct Cue {
        std::uint64_t start;   // bytes of the text, at the `[`
        std::uint64_t length;  // up to and with the `]`
    };

    // An index of one empty paragraph.
    ScriptIndex();
    // Reads `source` once, cut into `blocks` as TextBlocks cut it.
    [[nodiscard]] static ScriptIndex build(const qttext::TextSource& source,
                                           const std::vector<qttext::TextBlocks::Block>& blocks);

    [[nodiscard]] std::size_t paragraphCount() const { return hasText_.size(); }
    // The word at which paragraph `index` starts; paragraphStart(paragraphCount()) is the length.
    [[nodiscard]] double paragraphStart(std::size_t index) const { return starts_[index]; }
    [[nodiscard]] double length() const { return starts_.back(); }
    // Words the paragraph spans (at least one).
    [[nodiscard]] double weight(std::size_t index) const {
        return starts_[index + 1] - starts_[index];
    }
    // The paragraph word `words` falls in.
    [[nodiscard]] std::size_t paragraphAt(double words) const;
    // Whether the paragraph holds a character other than white space (a cue counts).
    [[nodiscard]] bool hasText(std::size_t index) const { return hasText_[index] != 0; }
    // The paragraphs holding text nearest `from` going `step` (+1 or -1) `count` times; stays
    // at the last one found when there are no more.
    [[nodiscard]] std::size_t paragraphWithText(std::size_t from, int count) const;
    // Words counted in the whole script (without the one each empty paragraph counts as).
    [[nodiscard]] std::uint64_t words() const { return words_; }

    [[nodiscard]] const std::vector<Section>& sections() const { return sections_; }
    // The section paragraph `index` is in (counted from 0), or nothing before the first.
    [[nodiscard]] std::optional<std::size_t> sectionOf(std::size_t paragraph) const;
    [[nodiscard]] bool isHeading(std::size_t paragraph) const;
    [[nodiscard]] const std::vector<Cue>& cues() const { return cues_; }
    // The first paragraph holding text, or nothing in an empty script.
    [[nodiscard]] std::optional<std::size_t> titleParagraph() const { return title_; }

    // The words of a whole text as the index counts them (cues left out), for a list of
    // scripts that need no index of their own. Fed in pieces; lines end at LF, CR, VT and FF.
    class WordCount {
      public:
        void feed(std::string_view piece);
        // The count, an unclosed `[` on the last line counted as text.
        [[nodiscard]] std::uint64_t total() const { return words_ + pendingCueWords_; }

      private:
        std::uint64_t words_ = 0;
        std::uint64_t pendingCueWords_ = 0;  // words since an unclosed `[` on this line
        unsigned boundary_ = 1;
        bool inCue_ = false;
    };

  private:
    std::vector<double> starts_;
    std::vector<std::uint8_t> hasText_;
    std::vector<Section> sections_;
    std::vector<Cue> cues_;
    std::optional<std::size_t> title_;
    std::uint64_t words_ = 0;
};

}  // namespace prompter
