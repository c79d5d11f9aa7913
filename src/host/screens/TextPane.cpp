#include "host/screens/TextPane.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "host/session/StyledSpans.h"

namespace host {
namespace {

using platform::AttributedText;
using platform::Range;

// One wrapped line of the text view's content, styled span by span.
void drawTextLine(Row& row, const AttributedText& text, const StyledSpans& spans, Range line,
                  double smallestSize, Rgb background) {
    spans.forEach(line, [&](const StyledSpan& span) {
        CellStyle style;
        if (span.foreground) {
            style.foreground = rgbOver(*span.foreground, background);
            style.background = background;
        }
        style.bold = span.font && span.font->isBold();
        style.underline = span.font && span.font->pointSize() > smallestSize;
        row.text(text.substring(span.range), style);
    });
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
    for (int i = 0; i < topRows && i < contentRows; ++i)
        content.push_back(Row(columns, plain, depth).finish());
    for (WrappedText::Position at = top_; static_cast<int>(content.size()) < contentRows;) {
        Row row(columns, plain, depth);
        row.padTo(leftColumns, plain);
        drawTextLine(row, text, spans, layout_->line(at), smallest, palette.background);
        content.push_back(row.finish());
        if (at == bottom)
            break;
        at = layout_->moved(at, 1);
    }
    while (static_cast<int>(content.size()) < contentRows)
        content.push_back(Row(columns, plain, depth).finish());
    return content;
}

}  // namespace host
