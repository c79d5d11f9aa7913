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
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "prompter/ScriptFile.h"
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
    // Reads `source` once, cut into `blocks` as TextBlocks cut it. Any thread may build the
    // index of a source no one changes; when `stop` turns true it ends early, incomplete.
    [[nodiscard]] static ScriptIndex build(const qttext::TextSource& source,
                                           const std::vector<qttext::TextBlocks::Block>& blocks,
                                           const std::atomic<bool>* stop = nullptr);

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

    // The index of this text followed by `after`'s, this one's `paragraphs` paragraphs taking
    // `bytes` bytes (ending with a line break): as if both were indexed as one.
    void append(const ScriptIndex& after, std::size_t paragraphs, std::uint64_t bytes);

  private:
    std::vector<double> starts_;
    std::vector<std::uint8_t> hasText_;
    std::vector<Section> sections_;
    std::vector<Cue> cues_;
    std::optional<std::size_t> title_;
    std::uint64_t words_ = 0;
};

// The paragraphs (TextBlocks::cut) and the index of a whole script, made on a thread of their
// own, so a big script shows at once: the window draws its start from head() meanwhile.
//
// The characters are never changed once read, so the thread reads them while the window draws
// from them. Destroying a ScriptIndexing stops the thread and waits for it: a script replaced
// (edited, reloaded, another chosen) or a window closed never waits for an index it no longer
// needs, and never receives one made of other characters.
class ScriptIndexing {
  public:
    struct Made {
        std::vector<qttext::TextBlocks::Block> blocks;
        ScriptIndex index;
        // Made from a Read: the text read, whose index this is; or, when it could not be
        // read, why (and no index).
        std::shared_ptr<const qttext::TextSource> source;
        QString failure;
    };
    // Reads a whole script, while the window shows its start (ScriptFile::Start::rest).
    using Read = std::function<ScriptFile::Result()>;

    // The paragraphs whole in the first `bytes` of `source` and their index: the same, paragraph
    // for paragraph, as the start of the whole script's (the paragraph the cut falls in is left
    // out; at least one paragraph).
    [[nodiscard]] static Made head(const qttext::TextSource& source, std::uint64_t bytes);

    // The paragraphs and the index of the whole of `source`, made here, as the thread makes them
    // (a big text in two halves at once, each on a processor of its own where there are two);
    // ended early, incomplete, when `stop` turns true.
    static constexpr std::size_t kSplitBytes = std::size_t{4} << 20;
    [[nodiscard]] static Made whole(const qttext::TextSource& source,
                                    const std::atomic<bool>* stop = nullptr);

    // Starts making the index of `source`; `done` is called on the worker thread once it is
    // made (never after the destructor returns).
    ScriptIndexing(std::shared_ptr<const qttext::TextSource> source, std::function<void()> done);
    // Reads the script with `read` first, on the same thread, then makes the index of what it
    // read; `done` as above, once it is read and indexed or cannot be read.
    ScriptIndexing(Read read, std::function<void()> done);
    ~ScriptIndexing();
    ScriptIndexing(const ScriptIndexing&) = delete;
    ScriptIndexing& operator=(const ScriptIndexing&) = delete;

    [[nodiscard]] bool isDone() const { return done_.load(std::memory_order_acquire); }
    // The index made; only once isDone().
    [[nodiscard]] Made take() { return std::move(made_); }

  private:
    void run(Read read, std::function<void()> done);

    std::shared_ptr<const qttext::TextSource> source_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    Made made_;
    std::thread thread_;
};

}  // namespace prompter
