// KeptPicture: the prompt's text as last rasterised, kept so that a frame which only moves the
// text draws only the rows that come into sight.
//
// Where the text goes: a column of paragraphs, each starting on a whole device pixel. The
// paragraph at the reading line starts at its place from the clock, rounded to the nearest
// device pixel; the others are stacked above and below it by their heights, each rounded to
// device pixels. Every glyph then sits at the same fraction of a pixel from its paragraph's top
// whichever paragraph is being read, so moving a kept picture by whole pixels gives exactly the
// pixels that drawing the text again would.
//
// What is kept: a ring of rows the width of the view and a half taller than the text area, in
// the screen's orientation (mirrored as the view is). A frame copies the rows in sight out of
// the ring, in at most two pieces. When the text moves past the rows kept, the rows coming into
// sight and a sixteenth of a text area beyond them are drawn into the ring in place of the rows
// furthest from sight. After a jump (more than half a text area to draw, or a paragraph on the
// way not laid out yet) the frame is drawn whole, laying out what comes into sight, and the
// ring starts afresh with the rows in sight only when the next frame is near it: no frame
// costs much more than a frame drawn whole, and jumps in a row draw no ring. Anything else
// changing
// (the layouts: text, font, size, colours, width, line spacing; the view's size or device pixel
// ratio; the text area; the margin; the background; the mirror) is drawn the same way.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <climits>
#include <cstdint>
#include <optional>
#include <utility>

#include "qttext/TextBlocks.h"

namespace prompter {

class KeptPicture {
  public:
    // One frame's text, in the device pixels of the paint device (rows counted from the view's
    // top as if it were not mirrored).
    struct Frame {
        qreal devicePixelRatio = 1;
        int width = 0;  // the view's
        int height = 0;
        int areaTop = 0;  // the rows the text is drawn in: [areaTop, areaBottom)
        int areaBottom = 0;
        qreal margin = 0;  // the text's left edge (device-independent pixels)
        bool mirrorX = false;
        bool mirrorY = false;
        QColor background;
        std::size_t paragraph = 0;  // the paragraph at the reading line
        qint64 paragraphTop = 0;    // the row its top is at (above the view or below it too)
        std::uint64_t layouts = 0;  // TextBlocks::generation() of the layouts drawn
    };

    // Draws the frame's text area, its background and its text and nothing else, with `painter`
    // (on the view, its transform untouched). Rows the ring holds are copied; only rows that
    // come into sight are rasterised.
    void draw(QPainter& painter, qttext::TextBlocks& blocks, const Frame& frame);
    // The same pixels, every row drawn from the layouts (no ring kept); only the view's rows
    // [from, to) of the text area when they are given.
    static void drawWhole(QPainter& painter, qttext::TextBlocks& blocks, const Frame& frame,
                          int from = 0, int to = INT_MAX);
    // How many rows the text moved from frame `before` to frame `after` (as if the view were not
    // mirrored: negative when it rose), when nothing but its place changed and it moved fewer
    // than `limit` rows past paragraphs laid out already; none otherwise.
    [[nodiscard]] static std::optional<qint64> rowsMoved(qttext::TextBlocks& blocks,
                                                         const Frame& before, const Frame& after,
                                                         qint64 limit);
    // The view's rows the text area covers: [first, second).
    [[nodiscard]] static std::pair<int, int> screenRows(const Frame& frame);
    // The next frame is drawn whole, the ring started afresh after it (the picture was moved
    // elsewhere meanwhile).
    void forget();
    // Rows rasterised so far, into the ring or (a frame drawn whole) on the painter (a frame
    // that only moves the text adds none, or now and then the rows it moved by and a sixteenth
    // of a text area).
    [[nodiscard]] std::uint64_t rowsDrawn() const { return rowsDrawn_; }

  private:
    // Whether the two frames differ in nothing but the text's place.
    [[nodiscard]] static bool samePicture(const Frame& a, const Frame& b);
    void start(const Frame& frame);
    // Rows [from, to) of the ring's column (z: document rows, negated when mirrored upside down)
    // rasterised into the ring.
    void drawColumn(qttext::TextBlocks& blocks, qint64 from, qint64 to);

    QImage ring_;
    Frame made_;              // the frame the ring was made for (all but the place)
    std::size_t anchor_ = 0;  // a paragraph near the rows in sight
    qint64 anchorTop_ = 0;    // its top, in document rows
    qint64 keptFrom_ = 0;     // the column's rows the ring holds: [keptFrom_, keptTo_)
    qint64 keptTo_ = 0;
    QSize ringSize_;  // made when rows are first drawn into it
    bool started_ = false;
    // The last frame drawn whole, for the ring to start from the next when it is near (its
    // first row in sight, in the column's rows).
    bool drewWhole_ = false;
    qint64 wholeFrom_ = 0;
    std::uint64_t rowsDrawn_ = 0;
};

}  // namespace prompter
