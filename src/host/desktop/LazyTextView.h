// LazyTextView: a text view's attributed text in a scroll area, laid out only where it shows.
//
// The characters are indexed once into blocks: the text's paragraphs (split at its line breaks,
// CR LF counting once), with a paragraph longer than kMaxBlockBytes cut into pieces at a space
// near the limit (else at a character boundary). A block is turned into a QTextLayout only when
// it is painted or measured, with the runs of its range: fonts at their point sizes, one point
// to one device-independent pixel before the zoom, and colours; a run without a colour takes the
// palette's text colour. No whole-document layout is ever made, so a 100 MB text shows as fast
// as a short one and scrolling anywhere lays out one viewport's worth.
//
// The scroll position is a block and an offset into it; the scroll bar counts blocks.
#pragma once

#include <QAbstractScrollArea>
#include <QFont>
#include <QList>
#include <QTextLayout>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "host/session/StyledSpans.h"
#include "platform/foundation/AttributedText.h"
#include "platform/foundation/Geometry.h"

namespace host::desktop {

class LazyTextView : public QAbstractScrollArea {
  public:
    static constexpr std::size_t kMaxBlockBytes = 16 * 1024;
    static constexpr double kLineStep = 40.0;  // points an arrow key or a wheel notch scrolls
    // Text that carries no font is drawn in the system font at this size.
    static constexpr double kDefaultPointSize = 17.0;

    explicit LazyTextView(QWidget* parent = nullptr);
    ~LazyTextView() override;

    // Shows `text`. Characters that are the same storage as before keep their block index (a
    // recolouring or a new font size only lays the visible blocks out again).
    void setContent(const platform::AttributedText& text);
    void setTextInsets(platform::EdgeInsets insets);
    // Device-independent pixels per point.
    void setZoom(double zoom);
    [[nodiscard]] double zoom() const { return zoom_; }

    [[nodiscard]] std::size_t blockCount() const { return blocks_.size(); }
    [[nodiscard]] std::size_t firstVisibleBlock() const { return topBlock_; }
    // Text layouts made since the content or the width last changed.
    [[nodiscard]] std::size_t layoutsMade() const { return layoutsMade_; }
    // A block's characters and the formats of its runs, as drawn.
    [[nodiscard]] QString blockText(std::size_t index);
    [[nodiscard]] QList<QTextLayout::FormatRange> blockFormats(std::size_t index);

    void scrollToStart();
    void scrollToEnd();
    void scrollByPoints(double points);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void changeEvent(QEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    struct Block {
        std::uint64_t start;
        std::uint32_t length;  // without the line break
    };
    struct Position {
        std::size_t block = 0;
        double offset = 0;  // points below the block's top
    };

    void indexBlocks();
    void forgetLayouts();
    [[nodiscard]] double layoutWidth() const;
    [[nodiscard]] double viewportHeight() const;
    QTextLayout& layoutOf(std::size_t index);
    // The block's height with the top inset (first block) and the bottom inset (last block).
    [[nodiscard]] double blockHeight(std::size_t index);
    [[nodiscard]] double blockTopPadding(std::size_t index) const;
    [[nodiscard]] Position endPosition();
    void clampPosition();
    void syncScrollBar();

    platform::AttributedText text_;
    std::optional<StyledSpans> spans_;  // of text_, made again whenever text_ changes
    std::vector<Block> blocks_;
    std::unordered_map<std::size_t, std::unique_ptr<QTextLayout>> layouts_;
    std::size_t layoutsMade_ = 0;
    double layoutWidthUsed_ = -1;
    platform::EdgeInsets insets_;
    double zoom_ = 1.0;
    std::size_t topBlock_ = 0;
    double topOffset_ = 0;
    bool syncingBar_ = false;
};

}  // namespace host::desktop
