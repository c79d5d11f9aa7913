#include "prompter/ScriptIndex.h"

#include "prompter/Beside.h"
#include "prompter/WordStarts.h"
#include "qttext/PlainTextSource.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace prompter {
namespace {

// Words starting in bytes [from, to), carrying whether the next character may start a word.
std::uint64_t countWords(const unsigned char* bytes, std::size_t from, std::size_t to,
                         unsigned& boundary) {
    return countWordStarts(bytes + from, to - from, boundary);
}

QString headingTitle(const std::string& line) {
    QString title = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())).trimmed();
    qsizetype hashes = 0;
    while (hashes < title.size() && title[hashes] == QLatin1Char('#'))
        ++hashes;
    return title.mid(hashes).trimmed();
}

}  // namespace

ScriptIndex::ScriptIndex() : starts_{0, 1}, hasText_{0} {}

ScriptIndex ScriptIndex::build(const qttext::TextSource& source,
                               const std::vector<qttext::TextBlocks::Block>& blocks,
                               const std::atomic<bool>* stop) {
    constexpr std::uint64_t kStopCheckBytes = std::uint64_t{1} << 20;
    std::uint64_t checkAt = kStopCheckBytes;
    bool stopped = false;
    ScriptIndex index;
    const std::size_t count = blocks.size();
    std::vector<double> words(count, 0);
    index.hasText_.assign(count, 0);
    std::vector<std::size_t> headings;

    std::size_t block = 0;
    std::uint64_t offset = 0;
    unsigned boundary = 1;
    bool inCue = false;
    std::uint64_t cueStart = 0;
    std::uint64_t cueWords = 0;
    bool seenText = false;
    // A block ends: an unclosed `[` was text after all.
    const auto endBlock = [&] {
        if (inCue)
            words[block] += static_cast<double>(cueWords);
        inCue = false;
        cueWords = 0;
        boundary = 1;
        seenText = false;
    };
    source.forEachPiece([&](std::string_view piece) {
        if (stopped)
            return;
        const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
        const std::uint64_t pieceEnd = offset + piece.size();
        std::size_t i = 0;
        while (i < piece.size() && count > 0) {
            const std::uint64_t at = offset + i;
            if (stop && at >= checkAt) {
                checkAt = at + kStopCheckBytes;
                if (stop->load(std::memory_order_relaxed)) {
                    stopped = true;
                    return;
                }
            }
            while (block + 1 < count && at >= blocks[block + 1].start) {
                endBlock();
                ++block;
            }
            const std::uint64_t blockEnd = blocks[block].start + blocks[block].length;
            if (at >= blockEnd) {  // the line break: on to the next block's start
                const std::uint64_t next = block + 1 < count ? blocks[block + 1].start : pieceEnd;
                i = static_cast<std::size_t>(std::min(next, pieceEnd) - offset);
                continue;
            }
            const auto stop = static_cast<std::size_t>(std::min(blockEnd, pieceEnd) - offset);
            if (!seenText) {
                std::size_t first = i;
                while (first < stop && (bytes[first] == ' ' || bytes[first] == '\t'))
                    ++first;
                if (first < stop) {
                    seenText = true;
                    index.hasText_[block] = 1;
                    if (bytes[first] == '#')
                        headings.push_back(block);
                }
            }
            while (i < stop) {
                if (!inCue) {
                    const void* open = std::memchr(bytes + i, '[', stop - i);
                    const std::size_t until =
                        open ? static_cast<std::size_t>(static_cast<const unsigned char*>(open) -
                                                        bytes)
                             : stop;
                    words[block] += static_cast<double>(countWords(bytes, i, until, boundary));
                    i = until;
                    if (open) {
                        inCue = true;
                        cueStart = offset + i;
                        cueWords = countWords(bytes, i, i + 1, boundary);
                        ++i;
                    }
                } else {
                    const void* close = std::memchr(bytes + i, ']', stop - i);
                    const std::size_t until =
                        close ? static_cast<std::size_t>(static_cast<const unsigned char*>(close) -
                                                         bytes)
                              : stop;
                    cueWords += countWords(bytes, i, until, boundary);
                    i = until;
                    if (close) {
                        inCue = false;
                        cueWords = 0;
                        index.cues_.push_back({cueStart, offset + i + 1 - cueStart});
                        boundary = 1;  // a cue parts words as a space does
                        ++i;
                    }
                }
            }
        }
        offset += piece.size();
    });
    if (stopped)
        return ScriptIndex();
    if (count > 0)
        endBlock();

    index.starts_.assign(count + 1, 0);
    index.words_ = 0;
    for (std::size_t i = 0; i < count; ++i) {
        index.words_ += static_cast<std::uint64_t>(words[i]);
        index.starts_[i + 1] = index.starts_[i] + std::max(words[i], 1.0);
    }
    if (count == 0) {
        index.starts_ = {0, 1};
        index.hasText_ = {0};
    }
    for (const std::size_t heading : headings) {
        const auto& at = blocks[heading];
        index.sections_.push_back(
            {heading,
             headingTitle(source.substring(at.start, std::min<std::uint32_t>(at.length, 1024)))});
    }
    const auto first = std::find(index.hasText_.begin(), index.hasText_.end(), 1);
    if (first != index.hasText_.end())
        index.title_ = static_cast<std::size_t>(first - index.hasText_.begin());
    return index;
}

ScriptIndexing::Made ScriptIndexing::head(const qttext::TextSource& source, std::uint64_t bytes) {
    if (bytes >= source.length()) {
        auto blocks = qttext::TextBlocks::cut(source);
        ScriptIndex index = ScriptIndex::build(source, blocks);
        return {std::move(blocks), std::move(index)};
    }
    // A block is cut by what comes before its end only, so every block of the head but the
    // last is one of the whole script's.
    const qttext::PlainTextSource start(source.substring(0, bytes));
    auto blocks = qttext::TextBlocks::cut(start);
    if (blocks.size() > 1)
        blocks.pop_back();
    ScriptIndex index = ScriptIndex::build(start, blocks);
    return {std::move(blocks), std::move(index)};
}

namespace {

// Characters of another source's, not copied, for a part of it indexed alone.
class Slice : public qttext::TextSource {
  public:
    explicit Slice(std::string_view text) : text_(text) {}
    [[nodiscard]] std::uint64_t length() const override { return text_.size(); }
    void forEachPiece(const std::function<void(std::string_view)>& visit) const override {
        visit(text_);
    }
    [[nodiscard]] std::string substring(std::uint64_t start, std::uint64_t length) const override {
        return start < text_.size() ? std::string(text_.substr(start, length)) : std::string();
    }
    void forEachRun(std::uint64_t start, std::uint64_t length,
                    const std::function<void(const qttext::TextRun&)>& visit) const override {
        if (start < text_.size() && length > 0)
            visit({start, std::min<std::uint64_t>(length, text_.size() - start), {}, {}});
    }
    [[nodiscard]] const void* characterIdentity() const override { return text_.data(); }

  private:
    std::string_view text_;
};

}  // namespace

ScriptIndexing::Made ScriptIndexing::whole(const qttext::TextSource& source,
                                           const std::atomic<bool>* stop) {
    std::string_view all;
    int pieces = 0;
    source.forEachPiece([&](std::string_view piece) {
        if (pieces++ == 0)
            all = piece;
    });
    // A big text held in one piece is indexed in two halves at once, cut after the line break
    // nearest its middle: a paragraph is cut by what comes before it in its line only, so the
    // second half's paragraphs are the whole text's from there.
    std::size_t split = 0;
    if (pieces == 1 && all.size() >= kSplitBytes) {
        const void* found = std::memchr(all.data() + all.size() / 2, '\n', all.size() / 4);
        if (found)
            split = static_cast<std::size_t>(static_cast<const char*>(found) - all.data()) + 1;
    }
    if (split == 0) {
        auto blocks = qttext::TextBlocks::cut(source, stop);
        ScriptIndex index = ScriptIndex::build(source, blocks, stop);
        return {std::move(blocks), std::move(index)};
    }
    const Slice firstHalf(all.substr(0, split));
    const Slice secondHalf(all.substr(split));
    Made second;
    const auto indexSecond = [&] {
        second.blocks = qttext::TextBlocks::cut(secondHalf, stop);
        second.index = ScriptIndex::build(secondHalf, second.blocks, stop);
    };
    std::vector<qttext::TextBlocks::Block> blocks;
    ScriptIndex index;
    inTwo(
        [&] {
            blocks = qttext::TextBlocks::cut(firstHalf, stop);
            if (!blocks.empty())
                blocks.pop_back();  // the empty text after the line break: the second half's start
            index = ScriptIndex::build(firstHalf, blocks, stop);
        },
        indexSecond);
    const std::size_t firstCount = blocks.size();
    blocks.reserve(firstCount + second.blocks.size());
    for (const auto& block : second.blocks)
        blocks.push_back({block.start + split, block.length});
    index.append(second.index, firstCount, split);
    return {std::move(blocks), std::move(index)};
}

void ScriptIndex::append(const ScriptIndex& after, std::size_t paragraphs, std::uint64_t bytes) {
    const double length = starts_.back();
    starts_.reserve(starts_.size() + after.paragraphCount());
    for (std::size_t i = 1; i < after.starts_.size(); ++i)
        starts_.push_back(length + after.starts_[i]);
    hasText_.insert(hasText_.end(), after.hasText_.begin(), after.hasText_.end());
    for (const auto& section : after.sections_)
        sections_.push_back({section.paragraph + paragraphs, section.title});
    for (const auto& cue : after.cues_)
        cues_.push_back({cue.start + bytes, cue.length});
    if (!title_ && after.title_)
        title_ = *after.title_ + paragraphs;
    words_ += after.words_;
}

ScriptIndexing::ScriptIndexing(std::shared_ptr<const qttext::TextSource> source,
                               std::function<void()> done)
    : source_(std::move(source)) {
    run({}, std::move(done));
}

ScriptIndexing::ScriptIndexing(Read read, std::function<void()> done) {
    run(std::move(read), std::move(done));
}

void ScriptIndexing::run(Read read, std::function<void()> done) {
    // The script read (when it is to be), then its index; or why it cannot be read.
    const auto make = [this, read = std::move(read)] {
        if (read) {
            auto text = read();
            if (auto* failure = std::get_if<ScriptReadError>(&text)) {
                made_.failure = std::move(failure->message);
                return;
            }
            source_ = std::make_shared<qttext::PlainTextSource>(
                std::get<std::shared_ptr<const std::string>>(std::move(text)));
        }
        Made made = whole(*source_, &stop_);
        made.source = read ? source_ : nullptr;
        made_ = std::move(made);
    };
    try {
        thread_ = std::thread([this, make, done] {
            // Behind the window's thread: the frames drawn meanwhile keep their pace, the first
            // one above all, on a machine busy with other work.
            const auto self = static_cast<id_t>(::gettid());
            errno = 0;
            if (const int nice = ::getpriority(PRIO_PROCESS, self); errno == 0)
                ::setpriority(PRIO_PROCESS, self, std::min(nice + 10, 19));
            make();
            if (stop_.load(std::memory_order_relaxed))
                return;
            done_.store(true, std::memory_order_release);
            done();
        });
    } catch (const std::system_error&) {
        // No thread to be had (a limit on processes): the script is read and indexed here, at
        // once, the window waiting for it as it did before there was a thread; `done` all the
        // same.
        make();
        done_.store(true, std::memory_order_release);
        done();
    }
}

ScriptIndexing::~ScriptIndexing() {
    stop_.store(true, std::memory_order_relaxed);
    if (thread_.joinable())
        thread_.join();
}

std::size_t ScriptIndex::paragraphAt(double words) const {
    const auto after = std::upper_bound(starts_.begin(), starts_.end(), words);
    const auto index = std::max<std::ptrdiff_t>(after - starts_.begin() - 1, 0);
    return std::min(static_cast<std::size_t>(index), paragraphCount() - 1);
}

std::size_t ScriptIndex::paragraphWithText(std::size_t from, int count) const {
    std::size_t at = from;
    const std::size_t last = paragraphCount() - 1;
    for (int moved = 0; moved < std::abs(count);) {
        std::size_t next = at;
        do {
            if (count > 0 ? next >= last : next == 0)
                return at;
            next = count > 0 ? next + 1 : next - 1;
        } while (!hasText(next));
        at = next;
        ++moved;
    }
    return at;
}

std::optional<std::size_t> ScriptIndex::sectionOf(std::size_t paragraph) const {
    const auto after = std::upper_bound(
        sections_.begin(), sections_.end(), paragraph,
        [](std::size_t value, const Section& section) { return value < section.paragraph; });
    if (after == sections_.begin())
        return std::nullopt;
    return static_cast<std::size_t>(after - sections_.begin() - 1);
}

bool ScriptIndex::isHeading(std::size_t paragraph) const {
    const auto section = sectionOf(paragraph);
    return section && sections_[*section].paragraph == paragraph;
}

void ScriptIndex::WordCount::feed(std::string_view piece) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
    std::size_t i = 0;
    while (i < piece.size()) {
        // The stretch up to the next line break, bracket or end.
        std::size_t stop = i;
        while (stop < piece.size()) {
            const unsigned char c = bytes[stop];
            if ((c >= 0x0A && c <= 0x0D) || c == '[' || c == ']')
                break;
            ++stop;
        }
        const std::uint64_t counted = countWords(bytes, i, stop, boundary_);
        (inCue_ ? pendingCueWords_ : words_) += counted;
        if (stop == piece.size())
            break;
        const unsigned char c = bytes[stop];
        i = stop + 1;
        if (c == '[' && !inCue_) {
            inCue_ = true;
            pendingCueWords_ = countWords(bytes, stop, stop + 1, boundary_);
        } else if (c == ']' && inCue_) {
            inCue_ = false;
            pendingCueWords_ = 0;
            boundary_ = 1;
        } else if (c == '[' || c == ']') {
            (inCue_ ? pendingCueWords_ : words_) += countWords(bytes, stop, stop + 1, boundary_);
        } else {  // a line ends: an unclosed `[` was text
            words_ += pendingCueWords_;
            pendingCueWords_ = 0;
            inCue_ = false;
            boundary_ = 1;
        }
    }
}

}  // namespace prompter
