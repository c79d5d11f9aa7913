// TextWrap: a text's lines as a terminal of a given width shows them, wrapped only where they
// are looked at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Range.h"

namespace host {

// The text's lines wrapped to `width` columns (cluster widths as the terminal shows them): at
// the text's line breaks (CR LF counts once), and where a line is too long at its last space
// (which is dropped), or between clusters of a word longer than the line. No empty line is
// made after a final line break. Ranges are bytes of `text`.
//   wrapLines("one two", 4) == {{0, 3}, {4, 3}}
[[nodiscard]] std::vector<platform::Range> wrapLines(std::string_view text, int width);

// A text's bytes kept in pieces (as an attributed text keeps them), read as one sequence
// without joining them: a large text shown on the screen is not copied. The pieces must outlive
// this and stay unchanged.
class PiecedBytes {
  public:
    PiecedBytes() = default;
    explicit PiecedBytes(std::vector<std::string_view> pieces);

    [[nodiscard]] std::size_t size() const { return size_; }
    // The byte at `at`, which is below size(). Reading near the last byte read costs no search.
    [[nodiscard]] char operator[](std::size_t at) const;
    // The bytes [start, start + length): a view of the piece that holds them all, or else the
    // pieces' parts joined into `scratch`.
    [[nodiscard]] std::string_view slice(std::size_t start, std::size_t length,
                                         std::string& scratch) const;

  private:
    [[nodiscard]] std::size_t pieceHolding(std::size_t at) const;

    std::vector<std::string_view> pieces_;  // none empty
    std::vector<std::size_t> starts_;       // where each piece starts in the whole
    std::size_t size_ = 0;
    mutable std::size_t last_ = 0;  // the piece read last
};

// The lines of a text at a width, for a screen that shows a few of them at a time: it wraps
// the blocks it is asked about and no others, so the first screen of a text of any size, and
// its last, cost what those screens hold. A block is a paragraph (the text between line
// breaks); a paragraph longer than kBlockBytes is cut into blocks at fixed places (multiples
// of kBlockBytes, at least kBlockBytes from its start), each starting a new row, so that no
// place in the text is more than two blocks' reach from a block's start. The text's pieces
// must outlive this and stay unchanged.
class WrappedText {
  public:
    static constexpr std::size_t kBlockBytes = 64 * 1024;

    // A line: the block holding it (the byte where the block starts) and its index there.
    struct Position {
        std::size_t block = 0;
        std::size_t line = 0;
        friend bool operator==(const Position&, const Position&) = default;
    };

    WrappedText(PiecedBytes text, int width);
    WrappedText(std::string_view text, int width)
        : WrappedText(PiecedBytes(std::vector{text}), width) {}

    [[nodiscard]] int width() const { return width_; }
    [[nodiscard]] static Position first() { return {}; }
    [[nodiscard]] Position last();
    // The line holding byte `offset` (the text's end: the last line).
    [[nodiscard]] Position at(std::size_t offset);
    // `from` moved by `lines` (up when negative), stopping at the first and the last line;
    // `moved` (when given) tells how many lines it went.
    [[nodiscard]] Position moved(Position from, std::int64_t lines, std::int64_t* moved = nullptr);
    // The bytes of the line at `at`, without its line break.
    [[nodiscard]] platform::Range line(Position at);

  private:
    struct Block {
        std::size_t start = 0, end = 0;  // the block's bytes, without the break that ends it
        std::size_t next = 0;            // where the next block starts
        std::size_t cutsFrom = 0;        // the paragraph may be cut from here on
        std::vector<platform::Range> lines;
    };
    const Block& blockContaining(std::size_t offset);
    const Block& blockStartingAt(std::size_t start);
    const Block& build(std::size_t start, std::size_t cutsFrom);
    [[nodiscard]] std::size_t lineBreakLength(std::size_t at) const;
    [[nodiscard]] std::size_t cutAt(std::size_t multiple) const;
    void trimCache();

    PiecedBytes text_;
    int width_;
    std::map<std::size_t, Block> blocks_;  // by start
};

}  // namespace host
