#include "prompter/KeptPicture.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace prompter {
namespace {

// How far a glyph may stand out of its paragraph's rows (device-independent pixels): a
// paragraph this close to the rows being drawn is drawn too, clipped to them.
constexpr qreal kOverhang = 32;
// At most this many paragraphs are walked from the kept anchor to the one being read; further
// is a jump, and the ring is drawn afresh.
constexpr int kLongestWalk = 4096;

qint64 rowsOf(qttext::TextBlocks& blocks, std::size_t index, qreal ratio) {
    return std::max<qint64>(0, std::llround(blocks.height(index) * ratio));
}

qint64 ringRow(qint64 row, qint64 height) {
    const qint64 r = row % height;
    return r < 0 ? r + height : r;
}

// Draws the paragraphs that reach document rows [from, to), paragraph `anchor` starting at
// document row `anchorTop`: document row y lands on the target's row offset + sign * y (sign -1:
// upside down), mirrored left to right when the frame is; only the target's rows [clipFrom,
// clipTo) are touched.
void drawParagraphs(QPainter& painter, qttext::TextBlocks& blocks, const KeptPicture::Frame& frame,
                    std::size_t anchor, qint64 anchorTop, qint64 from, qint64 to, qint64 offset,
                    int sign, qint64 clipFrom, qint64 clipTo) {
    const qreal ratio = frame.devicePixelRatio;
    const qint64 reach = std::llround(kOverhang * ratio);
    std::size_t i = std::min(anchor, blocks.count() - 1);
    qint64 top = anchorTop;
    while (i > 0 && top > from - reach)
        top -= rowsOf(blocks, --i, ratio);
    const qreal width = frame.width / ratio;
    painter.save();
    painter.setClipRect(
        QRectF(0, static_cast<qreal>(clipFrom) / ratio, width, (clipTo - clipFrom) / ratio));
    painter.translate(frame.mirrorX ? width : 0, static_cast<qreal>(offset) / ratio);
    painter.scale(frame.mirrorX ? -1 : 1, sign);
    // Only the lines near the rows are drawn (the clip is in the layouts' coordinates).
    const QRectF lines(0, static_cast<qreal>(from - reach) / ratio, width,
                       static_cast<qreal>(to - from + 2 * reach) / ratio);
    for (; i < blocks.count() && top < to + reach; ++i) {
        const qint64 rows = rowsOf(blocks, i, ratio);
        if (top + rows > from - reach)
            blocks.layout(i).draw(&painter, QPointF(frame.margin, static_cast<qreal>(top) / ratio),
                                  {}, lines);
        top += rows;
    }
    painter.restore();
}

}  // namespace

std::pair<int, int> KeptPicture::screenRows(const Frame& frame) {
    if (frame.mirrorY)
        return {frame.height - frame.areaBottom, frame.height - frame.areaTop};
    return {frame.areaTop, frame.areaBottom};
}

void KeptPicture::drawWhole(QPainter& painter, qttext::TextBlocks& blocks, const Frame& frame,
                            int from, int to) {
    const auto area = screenRows(frame);
    from = std::max(from, area.first);
    to = std::min(to, area.second);
    if (to <= from || frame.width <= 0)
        return;
    const qreal ratio = frame.devicePixelRatio;
    painter.fillRect(QRectF(0, from / ratio, frame.width / ratio, (to - from) / ratio),
                     frame.background);
    // The document's rows are the view's own, unmirrored.
    const qint64 first = frame.mirrorY ? frame.height - to : from;
    drawParagraphs(painter, blocks, frame, frame.paragraph, frame.paragraphTop, first,
                   first + (to - from), frame.mirrorY ? frame.height : 0, frame.mirrorY ? -1 : 1,
                   from, to);
}

std::optional<qint64> KeptPicture::rowsMoved(qttext::TextBlocks& blocks, const Frame& before,
                                             const Frame& after, qint64 limit) {
    if (!samePicture(before, after) || before.paragraph >= blocks.count() ||
        after.paragraph >= blocks.count())
        return std::nullopt;
    // Where the top of the paragraph read before is now.
    qint64 top = after.paragraphTop;
    std::size_t i = after.paragraph;
    for (; i < before.paragraph && std::abs(top - before.paragraphTop) < limit; ++i) {
        if (!blocks.isLaidOut(i))
            return std::nullopt;
        top += rowsOf(blocks, i, after.devicePixelRatio);
    }
    for (; i > before.paragraph && std::abs(top - before.paragraphTop) < limit;) {
        if (!blocks.isLaidOut(i - 1))
            return std::nullopt;
        top -= rowsOf(blocks, --i, after.devicePixelRatio);
    }
    if (i != before.paragraph || std::abs(top - before.paragraphTop) >= limit)
        return std::nullopt;
    return top - before.paragraphTop;
}

void KeptPicture::forget() {
    started_ = false;
}

bool KeptPicture::samePicture(const Frame& a, const Frame& b) {
    return a.devicePixelRatio == b.devicePixelRatio && a.width == b.width && a.height == b.height &&
           a.areaTop == b.areaTop && a.areaBottom == b.areaBottom && a.margin == b.margin &&
           a.mirrorX == b.mirrorX && a.mirrorY == b.mirrorY && a.background == b.background &&
           a.layouts == b.layouts;
}

void KeptPicture::start(const Frame& frame) {
    made_ = frame;
    const int area = frame.areaBottom - frame.areaTop;
    const int lead = std::max(16, area / 4);
    ringSize_ = QSize(frame.width, area + 2 * lead);
    anchor_ = frame.paragraph;
    anchorTop_ = 0;
    keptFrom_ = keptTo_ = 0;
    started_ = true;
    drewWhole_ = false;
}

void KeptPicture::draw(QPainter& painter, qttext::TextBlocks& blocks, const Frame& frame) {
    const auto [from, to] = screenRows(frame);
    if (to <= from || frame.width <= 0)
        return;
    if (!started_ || !samePicture(frame, made_))
        start(frame);
    const qreal ratio = frame.devicePixelRatio;

    // The paragraph being read, reached from the anchor by the heights between them.
    const qint64 ringHeight = ringSize_.height();
    qint64 walked = 0;
    int steps = 0;
    for (; anchor_ < frame.paragraph && walked <= ringHeight && steps < kLongestWalk &&
           blocks.isLaidOut(anchor_);
         ++steps) {
        const qint64 rows = rowsOf(blocks, anchor_++, ratio);
        anchorTop_ += rows;
        walked += rows;
    }
    for (; anchor_ > frame.paragraph && walked <= ringHeight && steps < kLongestWalk &&
           blocks.isLaidOut(anchor_ - 1);
         ++steps) {
        const qint64 rows = rowsOf(blocks, --anchor_, ratio);
        anchorTop_ -= rows;
        walked += rows;
    }
    if (anchor_ != frame.paragraph)
        start(frame);  // a jump: nothing kept is near

    // The view's row b + z shows the column's row z (z: the document's row, negated when the
    // view is upside down).
    const qint64 shift = frame.paragraphTop - anchorTop_;  // the view's row of document row 0
    const qint64 base = frame.mirrorY ? frame.height - shift : shift;
    const qint64 want = from - base;
    const qint64 wantTo = to - base;
    // Rows coming into sight are drawn a little ahead, so that most frames draw none; rows
    // out of sight stay kept until the ring needs their place. Rows that are not next to the
    // ones kept start the ring afresh with only the rows in sight.
    const qint64 ahead = std::max<qint64>(16, (frame.areaBottom - frame.areaTop) / 16);
    // More than half a text area to draw is a jump.
    const qint64 near = (frame.areaBottom - frame.areaTop) / 2;
    const bool kept = keptFrom_ < keptTo_;
    if (want >= keptFrom_ && wantTo <= keptTo_) {
        // All in the ring already.
    } else if (kept && wantTo > keptTo_ && want >= keptFrom_ && wantTo - keptTo_ <= near) {
        const qint64 next = wantTo + ahead;
        drawColumn(blocks, keptTo_, next);
        keptTo_ = next;
        keptFrom_ = std::max(keptFrom_, next - ringHeight);
    } else if (kept && want < keptFrom_ && wantTo <= keptTo_ && keptFrom_ - want <= near) {
        const qint64 next = want - ahead;
        drawColumn(blocks, next, keptFrom_);
        keptFrom_ = next;
        keptTo_ = std::min(keptTo_, next + ringHeight);
    } else if (!kept && drewWhole_ && std::abs(want - wholeFrom_) <= near) {
        // Near the frame drawn whole before: the ring starts, with the rows in sight.
        keptFrom_ = want;
        keptTo_ = wantTo;
        drawColumn(blocks, keptFrom_, keptTo_);
    } else {
        // A jump, or a start afresh: this frame is drawn whole (it lays out what comes into
        // sight).
        keptFrom_ = keptTo_ = 0;
        drewWhole_ = true;
        wholeFrom_ = want;
        drawWhole(painter, blocks, frame);
        rowsDrawn_ += static_cast<std::uint64_t>(to - from);
        return;
    }

    // Copied out, in two pieces where the rows in sight wrap around the ring's end.
    for (qint64 z = want; z < wantTo;) {
        const qint64 row = ringRow(z, ringHeight);
        const qint64 count = std::min(wantTo - z, ringHeight - row);
        painter.drawImage(
            QPointF(0, static_cast<qreal>(base + z) / ratio), ring_,
            QRectF(0, static_cast<qreal>(row), frame.width, static_cast<qreal>(count)));
        z += count;
    }
}

void KeptPicture::drawColumn(qttext::TextBlocks& blocks, qint64 from, qint64 to) {
    if (ring_.size() != ringSize_ || ring_.devicePixelRatio() != made_.devicePixelRatio) {
        ring_ = QImage(ringSize_, QImage::Format_RGB32);
        ring_.setDevicePixelRatio(made_.devicePixelRatio);
    }
    const qint64 ringHeight = ringSize_.height();
    const int sign = made_.mirrorY ? -1 : 1;
    // The rows emptied to the background first (before a painter holds the image).
    const QRgb background = made_.background.rgb();
    for (qint64 z = from; z < to; ++z) {
        auto* line =
            reinterpret_cast<QRgb*>(ring_.scanLine(static_cast<int>(ringRow(z, ringHeight))));
        std::fill(line, line + ring_.width(), background);
    }
    QPainter painter(&ring_);
    for (qint64 z = from; z < to;) {
        const qint64 row = ringRow(z, ringHeight);
        const qint64 count = std::min(to - z, ringHeight - row);
        // The document's rows these are: [z, z + count), or negated.
        const qint64 first = sign > 0 ? z : -(z + count);
        drawParagraphs(painter, blocks, made_, anchor_, anchorTop_, first, first + count, row - z,
                       sign, row, row + count);
        rowsDrawn_ += static_cast<std::uint64_t>(count);
        z += count;
    }
}

}  // namespace prompter
