// LazyTextView: a text in a scroll area, laid out only where it shows.
//
// The text comes from a TextSource and is cut into blocks by TextBlocks; a block is laid out only
// when it is painted or measured, at one device-independent pixel per point before the zoom. A
// run without a colour takes the palette's text colour, one without a font the application's
// font at kDefaultPointSize. So a 100 MB text shows as fast as a short one and scrolling
// anywhere lays out one viewport's worth.
//
// The scroll position is a block and an offset into it; the scroll bar counts blocks.
#pragma once

#include <QAbstractScrollArea>
#include <QList>
#include <QMarginsF>
#include <QTextLayout>
#include <cstdint>
#include <memory>

#include "qttext/TextBlocks.h"
#include "qttext/TextSource.h"

namespace qttext {

class LazyTextView : public QAbstractScrollArea {
  public:
    static constexpr std::size_t kMaxBlockBytes = TextBlocks::kMaxBlockBytes;
    static constexpr double kLineStep = 40.0;  // points an arrow key or a wheel notch scrolls
    // Text that carries no font is drawn in the application's font at this size.
    static constexpr double kDefaultPointSize = 17.0;

    explicit LazyTextView(QWidget* parent = nullptr);
    ~LazyTextView() override;

    // Shows `text`. Characters that are the same as before keep their block index and the
    // position (a recolouring or a new font size only lays the visible blocks out again).
    void setContent(std::shared_ptr<const TextSource> text);
    void setTextInsets(QMarginsF insets);
    // Device-independent pixels per point.
    void setZoom(double zoom);
    [[nodiscard]] double zoom() const { return zoom_; }

    [[nodiscard]] std::size_t blockCount() const { return blocks_.count(); }
    [[nodiscard]] std::size_t firstVisibleBlock() const { return topBlock_; }
    // The block drawn at `point` of the viewport (the last one below the text's end).
    [[nodiscard]] std::size_t blockAt(QPointF point);
    // Text layouts made since the content or the width last changed.
    [[nodiscard]] std::size_t layoutsMade() const { return blocks_.layoutsMade(); }
    // A block's characters and the formats of its runs, as drawn.
    [[nodiscard]] QString blockText(std::size_t index);
    [[nodiscard]] QList<QTextLayout::FormatRange> blockFormats(std::size_t index);
    [[nodiscard]] QTextLayout* blockLayout(std::size_t index);

    void scrollToStart();
    void scrollToEnd();
    void scrollToBlock(std::size_t index);
    void scrollByPoints(double points);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    struct Position {
        std::size_t block = 0;
        double offset = 0;  // points below the block's top
    };

    void syncBlocks();
    [[nodiscard]] double viewportHeight() const;
    // The block's height with the top inset (first block) and the bottom inset (last block).
    [[nodiscard]] double blockHeight(std::size_t index);
    [[nodiscard]] double blockTopPadding(std::size_t index) const;
    [[nodiscard]] Position endPosition();
    void clampPosition();
    void syncScrollBar();

    TextBlocks blocks_;
    QMarginsF insets_;
    double zoom_ = 1.0;
    std::size_t topBlock_ = 0;
    double topOffset_ = 0;
    bool syncingBar_ = false;
};

}  // namespace qttext
