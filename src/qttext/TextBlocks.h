// TextBlocks: a text cut into paragraphs, each laid out only when it is drawn or measured.
//
// The characters are indexed once into blocks: the text's paragraphs (split at its line breaks,
// CR LF counting once), with a paragraph longer than kMaxBlockBytes cut into pieces at a space
// near the limit (else at a character boundary). A block becomes a QTextLayout only when asked
// for, with the runs of its range: their fonts and colours, else the defaults. No whole-document
// layout is ever made, so a 100 MB text costs one pass to index and then only what shows.
//
// Each paragraph is aligned by its own direction (a right-to-left paragraph to the right), and
// emoji are drawn in the system's emoji font where it has one.
#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QTextLayout>
#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "qttext/TextSource.h"

namespace qttext {

class TextBlocks {
  public:
    static constexpr std::size_t kMaxBlockBytes = 16 * 1024;

    struct Block {
        std::uint64_t start;
        std::uint32_t length;  // without the line break
    };

    // Without a source, there is one empty block.
    TextBlocks() { indexBlocks(); }

    // Takes `source`. The index is made again only when its characters differ from the
    // current source's; the layouts are always made again. Returns whether the index changed.
    bool setSource(std::shared_ptr<const TextSource> source);
    // Takes `source` with its blocks cut already (by cut(), perhaps on another thread): all of
    // them, or those of its start only, while the rest are still being cut.
    void setSource(std::shared_ptr<const TextSource> source, std::vector<Block> blocks);
    // The blocks `source` is cut into, as setSource() cuts them. Any thread may cut a source
    // no one changes; when `stop` turns true the cutting ends early, with the blocks so far.
    [[nodiscard]] static std::vector<Block> cut(const TextSource& source,
                                                const std::atomic<bool>* stop = nullptr);
    [[nodiscard]] const std::shared_ptr<const TextSource>& source() const { return source_; }

    // What a run without a font or a colour is drawn in.
    void setDefaultFont(const QFont& font);
    void setDefaultColour(const QColor& colour);
    // Lines wrap at this width (device-independent pixels).
    void setWidth(double width);
    [[nodiscard]] double width() const { return width_; }
    // Each line takes this many times its own height (1: as the font sets it), the extra space
    // shared above and below it, so a paragraph is its lines' heights times this.
    void setLineSpacing(double factor);
    [[nodiscard]] double lineSpacing() const { return lineSpacing_; }

    [[nodiscard]] std::size_t count() const { return blocks_.size(); }
    [[nodiscard]] Block block(std::size_t index) const { return blocks_[index]; }
    [[nodiscard]] const std::vector<Block>& blocks() const { return blocks_; }

    // The block's layout at the current width, made now if it is not cached.
    QTextLayout& layout(std::size_t index);
    // The block's height as laid out: its lines' heights times the line spacing.
    [[nodiscard]] double height(std::size_t index);
    // Whether the block's layout is cached (measuring it costs nothing).
    [[nodiscard]] bool isLaidOut(std::size_t index) const { return layouts_.count(index) != 0; }
    // Drops every cached layout (after a change of font, colour or width they are made again
    // anyway); trimCache drops them only when more are cached than any viewport needs.
    void forgetLayouts();
    void trimCache();
    // Layouts made since the source or the width last changed.
    [[nodiscard]] std::size_t layoutsMade() const { return layoutsMade_; }
    // Changes each time the layouts are dropped because what they draw may differ (the source,
    // the font, the colour, the width): a picture made from them is stale when it changes.
    [[nodiscard]] std::uint64_t generation() const { return generation_; }

    // The family the system draws colour emoji in; empty when it has none.
    [[nodiscard]] static QString emojiFamily();

  private:
    void indexBlocks() { blocks_ = source_ ? cut(*source_) : std::vector<Block>{{0, 0}}; }

    std::shared_ptr<const TextSource> source_;
    std::vector<Block> blocks_;
    struct Laid {
        std::unique_ptr<QTextLayout> layout;
        double height;
    };
    std::unordered_map<std::size_t, Laid> layouts_;
    std::size_t layoutsMade_ = 0;
    std::uint64_t generation_ = 0;
    QFont defaultFont_;
    QColor defaultColour_ = Qt::black;
    double width_ = 1;
    double lineSpacing_ = 1;
};

}  // namespace qttext
