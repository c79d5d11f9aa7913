#include "host/screens/TextWrap.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "host/tty/TerminalPaint.h"
#include "platform/foundation/Unicode.h"

namespace host {

using platform::Range;

std::vector<Range> wrapLines(std::string_view text, int width) {
    width = std::max(width, 1);
    std::vector<Range> lines;
    const auto push = [&](std::size_t from, std::size_t to) { lines.push_back({from, to - from}); };
    std::size_t lineStart = 0;
    std::size_t spaceAt = std::string_view::npos;  // the last space on the line
    std::size_t afterSpace = 0;
    int column = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t at = i;
        std::size_t after = i;
        const char32_t c = platform::nextScalar(text, after);
        if (platform::isLineBreak(c)) {
            push(lineStart, at);
            i = after;
            if (c == '\r' && i < text.size() && text[i] == '\n')
                ++i;
            lineStart = i;
            column = 0;
            spaceAt = std::string_view::npos;
            continue;
        }
        // A line break always ends a cluster, so a cluster never holds one.
        const Cluster cluster = clusterAt(text, at);
        i = at + cluster.size;
        if (column + cluster.columns > width && column > 0 && c == ' ') {
            // A space where the line is full ends it: the line keeps every word that fits.
            push(lineStart, at);
            lineStart = i;
            column = 0;
            spaceAt = std::string_view::npos;
            continue;
        }
        if (column + cluster.columns > width && column > 0) {
            if (spaceAt != std::string_view::npos) {
                push(lineStart, spaceAt);
                lineStart = afterSpace;
                column = columnsOf(text.substr(lineStart, at - lineStart));
            }
            if (column + cluster.columns > width && column > 0) {
                push(lineStart, at);
                lineStart = at;
                column = 0;
            }
            spaceAt = std::string_view::npos;
        }
        column += cluster.columns;
        if (cluster.size == 1 && c == ' ') {
            spaceAt = at;
            afterSpace = i;
        }
    }
    if (lineStart < text.size() || lines.empty())
        push(lineStart, text.size());
    return lines;
}

namespace {

constexpr std::size_t kCacheLimit = 1024;  // blocks kept; a screen needs a few dozen

bool isContinuationByte(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

PiecedBytes::PiecedBytes(std::vector<std::string_view> pieces) {
    for (std::string_view piece : pieces) {
        if (piece.empty())
            continue;
        pieces_.push_back(piece);
        starts_.push_back(size_);
        size_ += piece.size();
    }
}

std::size_t PiecedBytes::pieceHolding(std::size_t at) const {
    // Unsigned: a place before the last piece wraps round and fails the test as well.
    if (at - starts_[last_] < pieces_[last_].size())
        return last_;
    const auto after = std::upper_bound(starts_.begin(), starts_.end(), at);
    last_ = static_cast<std::size_t>(after - starts_.begin()) - 1;
    return last_;
}

char PiecedBytes::operator[](std::size_t at) const {
    const std::size_t piece = pieceHolding(at);
    return pieces_[piece][at - starts_[piece]];
}

std::string_view PiecedBytes::slice(std::size_t start, std::size_t length,
                                    std::string& scratch) const {
    if (length == 0)
        return {};
    std::size_t piece = pieceHolding(start);
    std::size_t offset = start - starts_[piece];
    if (offset + length <= pieces_[piece].size())
        return pieces_[piece].substr(offset, length);
    scratch.clear();
    scratch.reserve(length);
    for (; scratch.size() < length; ++piece, offset = 0)
        scratch.append(pieces_[piece].substr(offset, length - scratch.size()));
    return scratch;
}

WrappedText::WrappedText(PiecedBytes text, int width)
    : text_(std::move(text)), width_(std::max(width, 1)) {}

// The bytes of the line break that starts at `at` (0 when none does). The patterns are those
// the UTF-8 decoder reads as line breaks: their lead bytes never continue another character.
std::size_t WrappedText::lineBreakLength(std::size_t at) const {
    const auto byte = [&](std::size_t i) {
        return i < text_.size() ? static_cast<unsigned char>(text_[i]) : 0;
    };
    switch (byte(at)) {
        case '\r':
            return byte(at + 1) == '\n' ? 2 : 1;
        case '\n':
        case '\v':
        case '\f':
            return 1;
        case 0xC2:
            return byte(at + 1) == 0x85 ? 2 : 0;
        case 0xE2:
            return byte(at + 1) == 0x80 && (byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9) ? 3 : 0;
        default:
            return 0;
    }
}

// The cut near `multiple` * kBlockBytes: moved past the bytes that continue a character.
std::size_t WrappedText::cutAt(std::size_t multiple) const {
    std::size_t cut = multiple * kBlockBytes;
    for (int i = 0; i < 3 && cut < text_.size() && isContinuationByte(text_[cut]); ++i)
        ++cut;
    return cut;
}

const WrappedText::Block& WrappedText::build(std::size_t start, std::size_t cutsFrom) {
    if (const auto found = blocks_.find(start); found != blocks_.end())
        return found->second;
    // The first cut after the start that the paragraph allows.
    std::size_t multiple = std::max(start + 1, cutsFrom) / kBlockBytes;
    while (cutAt(multiple) < std::max(start + 1, cutsFrom))
        ++multiple;
    const std::size_t limit = std::min(cutAt(multiple), text_.size());

    Block block;
    block.start = start;
    block.cutsFrom = cutsFrom;
    block.end = limit;
    block.next = limit;
    for (std::size_t i = start; i < text_.size(); ++i) {
        if (const std::size_t length = lineBreakLength(i)) {  // a break wins over a cut
            block.end = i;
            block.next = i + length;
            break;
        }
        if (i == limit)
            break;
    }
    std::string joined;  // used only where the block spans pieces
    std::vector<Range> lines = wrapLines(text_.slice(start, block.end - start, joined), width_);
    for (Range& line : lines)
        line.location += start;
    block.lines = std::move(lines);
    return blocks_.emplace(start, std::move(block)).first->second;
}

const WrappedText::Block& WrappedText::blockContaining(std::size_t offset) {
    offset = std::min(offset, text_.size());
    // The paragraph's start: just after the last line break that ends at or before `offset`.
    // Further back than two blocks' reach it does not matter where: every cut is allowed.
    const std::size_t reach = 2 * kBlockBytes + 4;
    const std::size_t floor = offset > reach ? offset - reach : 0;
    std::optional<std::size_t> paragraph;
    for (std::size_t j = offset; j > floor; --j) {
        const std::size_t i = j - 1;
        const auto byte = static_cast<unsigned char>(text_[i]);
        const bool ends = byte == '\n' || byte == '\v' || byte == '\f' ||
                          (byte == '\r' && (i + 1 >= text_.size() || text_[i + 1] != '\n')) ||
                          (byte == 0x85 && i >= 1 && lineBreakLength(i - 1) == 2) ||
                          ((byte == 0xA8 || byte == 0xA9) && i >= 2 && lineBreakLength(i - 2) == 3);
        if (ends) {
            paragraph = j;
            break;
        }
    }
    if (!paragraph && floor == 0)
        paragraph = 0;
    const std::size_t cutsFrom = paragraph ? *paragraph + kBlockBytes : 0;
    std::size_t start = paragraph.value_or(0);
    // The last cut at or before `offset` that the paragraph allows, if any.
    for (std::size_t multiple = offset / kBlockBytes; multiple > 0; --multiple) {
        const std::size_t cut = cutAt(multiple);
        if (cut > offset || cut >= text_.size() || lineBreakLength(cut) != 0)
            continue;
        if (cut >= cutsFrom && cut >= start)
            start = cut;
        break;
    }
    return build(start, cutsFrom);
}

const WrappedText::Block& WrappedText::blockStartingAt(std::size_t start) {
    if (const auto found = blocks_.find(start); found != blocks_.end())
        return found->second;
    return blockContaining(start);
}

void WrappedText::trimCache() {
    if (blocks_.size() > kCacheLimit)
        blocks_.clear();
}

WrappedText::Position WrappedText::last() {
    trimCache();
    const Block* block = &blockContaining(text_.size());
    // No line is made after a final line break.
    if (block->start == text_.size() && block->start > 0)
        block = &blockContaining(text_.size() - 1);
    return {block->start, block->lines.size() - 1};
}

WrappedText::Position WrappedText::at(std::size_t offset) {
    trimCache();
    if (offset >= text_.size())
        return last();
    const Block& block = blockContaining(offset);
    std::size_t line = 0;
    while (line + 1 < block.lines.size() && block.lines[line + 1].location <= offset)
        ++line;
    return {block.start, line};
}

WrappedText::Position WrappedText::moved(Position from, std::int64_t lines, std::int64_t* moved) {
    trimCache();
    std::int64_t done = 0;
    while (lines > 0) {
        const Block& block = blockStartingAt(from.block);
        const auto below = static_cast<std::int64_t>(block.lines.size() - 1 - from.line);
        if (lines <= below) {
            from.line += static_cast<std::size_t>(lines);
            done += lines;
            break;
        }
        if (block.next >= text_.size()) {  // the last block
            from.line = block.lines.size() - 1;
            done += below;
            break;
        }
        lines -= below + 1;
        done += below + 1;
        from = {block.next, 0};
        // A block after a line break starts a paragraph; one after a cut continues it.
        if (block.next > block.end)
            build(block.next, block.next + kBlockBytes);
        else
            build(block.next, block.cutsFrom);
    }
    while (lines < 0) {
        if (-lines <= static_cast<std::int64_t>(from.line)) {
            from.line -= static_cast<std::size_t>(-lines);
            done += -lines;
            break;
        }
        done += static_cast<std::int64_t>(from.line);
        if (from.block == 0) {
            from.line = 0;
            break;
        }
        lines += static_cast<std::int64_t>(from.line) + 1;
        ++done;
        const Block& previous = blockContaining(from.block - 1);
        from = {previous.start, previous.lines.size() - 1};
    }
    if (moved)
        *moved = done;
    return from;
}

Range WrappedText::line(Position at) {
    trimCache();
    const Block& block = blockStartingAt(at.block);
    return block.lines[std::min(at.line, block.lines.size() - 1)];
}

}  // namespace host
