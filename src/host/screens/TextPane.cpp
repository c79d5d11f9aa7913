#include "host/screens/TextPane.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "host/screens/VisualOrder.h"
#include "host/session/StyledSpans.h"
#include "platform/foundation/Unicode.h"

namespace host {
namespace {

using platform::AttributedText;
using platform::Range;

// Text without a colour of its own takes the palette's text colour: the sheet paints its own
// background, so the terminal's own foreground could be the same as it (a dark terminal's light
// text on the light sheet).
CellStyle styleOf(const StyledSpan& span, double smallestSize, const Palette& palette) {
    CellStyle style{palette.text, palette.background};
    if (span.foreground)
        style.foreground = rgbOver(*span.foreground, palette.background);
    style.bold = span.font && span.font->isBold();
    style.underline = span.font && span.font->pointSize() > smallestSize;
    return style;
}

// One wrapped line of the text view's content, styled span by span, in the order a reader
// reads it: a right-to-left line (Arabic, Hebrew, ...) is drawn in visual order and ends at the
// text's right edge, `right` columns from the row's start.
void drawTextLine(Row& row, const AttributedText& text, const StyledSpans& spans, Range line,
                  double smallestSize, const Palette& palette, int right) {
    std::vector<std::pair<Range, CellStyle>> styled;
    spans.forEach(line, [&](const StyledSpan& span) {
        styled.emplace_back(span.range, styleOf(span, smallestSize, palette));
    });
    const std::string bytes = text.substring(line);
    bool rightToLeft = false;
    const std::vector<VisualCluster> visual = visualOrder(bytes, &rightToLeft);
    const bool stored = std::is_sorted(
        visual.begin(), visual.end(),
        [](const VisualCluster& a, const VisualCluster& b) { return a.start < b.start; });
    if (stored && !rightToLeft) {
        for (const auto& [range, style] : styled)
            row.text(std::string_view(bytes).substr(range.location - line.location, range.length),
                     style);
        return;
    }
    if (rightToLeft)
        row.padTo(right - columnsOf(bytes), row.base());
    std::size_t span = 0;
    for (const VisualCluster& cluster : visual) {
        const std::uint64_t at = line.location + cluster.start;
        span = 0;
        while (span + 1 < styled.size() && styled[span].first.end() <= at)
            ++span;
        const CellStyle style = styled.empty() ? CellStyle{} : styled[span].second;
        if (cluster.mirrored.empty()) {
            row.text(std::string_view(bytes).substr(cluster.start, cluster.size), style);
        } else {
            std::string mirrored;
            for (const char32_t c : cluster.mirrored)
                platform::appendUtf8(mirrored, c);
            row.text(mirrored, style);
        }
    }
}

}  // namespace

std::vector<std::string> TextPane::draw(const AttributedText& text, platform::EdgeInsets inset,
                                        int columns, int rows, const Palette& palette,
                                        ColourDepth depth) {
    std::vector<std::string> content;
    const int contentRows = std::max(rows, 0);
    const CellStyle plain{palette.text, palette.background};
    const int leftColumns = static_cast<int>(inset.left / kPointsPerColumn + 0.5);
    const int rightColumns = static_cast<int>(inset.right / kPointsPerColumn + 0.5);
    const int topRows = static_cast<int>(inset.top / kPointsPerRow + 0.5);
    const int width = std::max(columns - leftColumns - rightColumns, 1);
    if (!layout_ || layout_->width() != width ||
        source_.characterStorage() != text.characterStorage() ||
        source_.length() != text.length()) {
        const std::size_t kept = layout_ ? layout_->line(top_).location : 0;
        if (!layout_ || source_.characterStorage() != text.characterStorage() ||
            source_.length() != text.length()) {
            source_ = text;
            std::vector<std::string_view> pieces;
            source_.forEachPiece([&](std::string_view piece) { pieces.push_back(piece); });
            characters_ = PiecedBytes(std::move(pieces));
        }
        layout_.emplace(characters_, width);
        top_ = layout_->at(kept);
    }
    const StyledSpans spans(text);
    const double smallest = spans.smallestPointSize();
    const std::int64_t textRows = std::max(contentRows - topRows, 0);
    if (jump_ != Jump::none)
        top_ = jump_ == Jump::start ? WrappedText::first() : layout_->last();
    top_ = layout_->moved(top_, scroll_);
    jump_ = Jump::none;
    scroll_ = 0;
    // No scrolling past the text's end: the last screen is full.
    const std::int64_t wanted = std::max<std::int64_t>(textRows - 1, 0);
    const WrappedText::Position bottom = layout_->moved(top_, wanted);
    top_ = layout_->moved(bottom, -wanted);
    showsStart_ = top_ == WrappedText::first();
    showsEnd_ = bottom == layout_->last();
    shownEnd_ = layout_->line(bottom).end();
    for (int i = 0; i < topRows && i < contentRows; ++i)
        content.push_back(Row(columns, plain, depth).finish());
    for (WrappedText::Position at = top_; static_cast<int>(content.size()) < contentRows;) {
        Row row(columns, plain, depth);
        row.padTo(leftColumns, plain);
        drawTextLine(row, text, spans, layout_->line(at), smallest, palette, leftColumns + width);
        content.push_back(row.finish());
        if (at == bottom)
            break;
        at = layout_->moved(at, 1);
    }
    while (static_cast<int>(content.size()) < contentRows)
        content.push_back(Row(columns, plain, depth).finish());
    return content;
}

std::string TextPane::position() const {
    if (showsStart_ && showsEnd_)
        return {};
    if (showsStart_)
        return "Top";
    if (showsEnd_)
        return "Bot";
    const std::uint64_t total = std::max<std::uint64_t>(characters_.size(), 1);
    return std::to_string(std::min<std::uint64_t>(shownEnd_ * 100 / total, 99)) + "%";
}

}  // namespace host
