#include "host/desktop/LazyTextView.h"

#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextOption>
#include <QWheelEvent>
#include <algorithm>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "host/desktop/QtColours.h"

namespace host::desktop {
namespace {

// More layouts than this in the cache and it is emptied before the next paint: a viewport
// needs a few dozen at most.
constexpr std::size_t kLayoutCacheLimit = 512;

bool isContinuationByte(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

bool mayStartLineBreak(unsigned char c) {
    return c <= 0x0D || c == 0xC2 || c == 0xE2;
}

// The offset of the first byte in [from, end) that may start a line break (a control byte up to
// CR, or the lead byte of NEL or of the line and paragraph separators); `end` when none does.
// Sixteen bytes at a time where the processor allows: the index of a 100 MB text is one pass.
std::size_t nextBreakCandidate(const unsigned char* bytes, std::size_t from, std::size_t end) {
#if defined(__SSE2__)
    const __m128i carriageReturn = _mm_set1_epi8(0x0D);
    const __m128i nextLineLead = _mm_set1_epi8(static_cast<char>(0xC2));
    const __m128i separatorLead = _mm_set1_epi8(static_cast<char>(0xE2));
    while (from + 16 <= end) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + from));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(chunk, carriageReturn), chunk);
        const __m128i leads =
            _mm_or_si128(_mm_cmpeq_epi8(chunk, nextLineLead), _mm_cmpeq_epi8(chunk, separatorLead));
        const int mask = _mm_movemask_epi8(_mm_or_si128(control, leads));
        if (mask != 0)
            return from + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        from += 16;
    }
#endif
    while (from < end && !mayStartLineBreak(bytes[from]))
        ++from;
    return from;
}

}  // namespace

LazyTextView::LazyTextView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (syncingBar_)
            return;
        topBlock_ = static_cast<std::size_t>(std::max(value, 0));
        topOffset_ = 0;
        clampPosition();
        viewport()->update();
    });
}

LazyTextView::~LazyTextView() = default;

void LazyTextView::setContent(const platform::AttributedText& text) {
    const bool sameCharacters = text.characterStorage() == text_.characterStorage() &&
                                text.length() == text_.length() && !blocks_.empty();
    text_ = text;
    spans_.emplace(text_);
    if (!sameCharacters) {
        indexBlocks();
        topBlock_ = 0;
        topOffset_ = 0;
    }
    forgetLayouts();
    clampPosition();
    viewport()->update();
}

void LazyTextView::setTextInsets(platform::EdgeInsets insets) {
    if (insets == insets_)
        return;
    insets_ = insets;
    forgetLayouts();
    clampPosition();
    viewport()->update();
}

void LazyTextView::setZoom(double zoom) {
    if (zoom == zoom_ || !(zoom > 0))
        return;
    zoom_ = zoom;
    forgetLayouts();
    clampPosition();
    viewport()->update();
}

void LazyTextView::indexBlocks() {
    blocks_.clear();
    std::uint64_t offset = 0;      // of the current piece in the text
    std::uint64_t blockStart = 0;  // of the block being scanned
    bool afterCarriageReturn = false;
    const auto push = [&](std::uint64_t end, std::uint64_t next) {
        blocks_.push_back({blockStart, static_cast<std::uint32_t>(end - blockStart)});
        blockStart = next;
    };
    text_.forEachPiece([&](std::string_view piece) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
        const std::size_t size = piece.size();
        std::size_t i = 0;
        if (afterCarriageReturn && size > 0) {
            afterCarriageReturn = false;
            if (bytes[0] == '\n') {
                blockStart = offset + 1;  // CR LF is one line break, even across pieces
                i = 1;
            }
        }
        while (i < size) {
            // How far the block may grow before it must be cut.
            const std::uint64_t used = offset + i - blockStart;
            const std::size_t room = used < kMaxBlockBytes ? kMaxBlockBytes - used : 0;
            const std::size_t limit =
                static_cast<std::size_t>(std::min<std::uint64_t>(size, i + room));
            const std::size_t at = nextBreakCandidate(bytes, i, limit);
            if (at == limit) {
                if (limit == size)
                    break;
                // Too long for one layout: cut at the last space of the block's last stretch in
                // this piece, else at the character boundary at or before the limit.
                std::size_t cut = limit;
                while (cut > i && isContinuationByte(bytes[cut]))
                    --cut;
                const std::size_t floor =
                    limit > kMaxBlockBytes / 4 ? limit - kMaxBlockBytes / 4 : 0;
                for (std::size_t j = limit; j > floor && offset + j > blockStart + 1; --j) {
                    if (bytes[j - 1] == ' ') {
                        cut = j;
                        break;
                    }
                }
                if (offset + cut <= blockStart)
                    cut = limit;
                push(offset + cut, offset + cut);
                i = cut;
                continue;
            }
            const unsigned char c = bytes[at];
            i = at + 1;
            if (c >= 0x0A && c <= 0x0D) {
                push(offset + at, offset + at + 1);
                if (c == '\r') {
                    if (at + 1 < size) {
                        if (bytes[at + 1] == '\n') {
                            blockStart = offset + at + 2;
                            i = at + 2;
                        }
                    } else {
                        afterCarriageReturn = true;
                    }
                }
            } else if (c == 0xC2 && at + 1 < size && bytes[at + 1] == 0x85) {
                push(offset + at, offset + at + 2);  // NEL
                i = at + 2;
            } else if (c == 0xE2 && at + 2 < size && bytes[at + 1] == 0x80 &&
                       (bytes[at + 2] == 0xA8 || bytes[at + 2] == 0xA9)) {
                push(offset + at, offset + at + 3);  // line and paragraph separators
                i = at + 3;
            }
        }
        offset += size;
    });
    // The text after the last line break is a block, empty or not; so is an empty text.
    blocks_.push_back({blockStart, static_cast<std::uint32_t>(offset - blockStart)});
}

void LazyTextView::forgetLayouts() {
    layouts_.clear();
    layoutsMade_ = 0;
    layoutWidthUsed_ = -1;
}

double LazyTextView::layoutWidth() const {
    return std::max(viewport()->width() / zoom_ - insets_.left - insets_.right, 1.0);
}

double LazyTextView::viewportHeight() const {
    return viewport()->height() / zoom_;
}

double LazyTextView::blockTopPadding(std::size_t index) const {
    return index == 0 ? insets_.top : 0.0;
}

QTextLayout& LazyTextView::layoutOf(std::size_t index) {
    const double width = layoutWidth();
    if (width != layoutWidthUsed_) {
        layouts_.clear();
        layoutWidthUsed_ = width;
    }
    if (const auto found = layouts_.find(index); found != layouts_.end())
        return *found->second;

    const Block block = blocks_[index];
    const std::string bytes = text_.substring({block.start, block.length});
    QString characters;
    QList<QTextLayout::FormatRange> formats;
    const QColor paletteText = palette().color(QPalette::Text);
    const platform::Font defaultFont = platform::Font::systemFontOfSize(kDefaultPointSize);
    // The font at the block's start sets the height of an empty block.
    const platform::Font* leading = nullptr;
    spans_->forEach({block.start, 1}, [&](const StyledSpan& span) { leading = span.font; });
    spans_->forEach({block.start, block.length}, [&](const StyledSpan& span) {
        const QString piece = QString::fromUtf8(bytes.data() + (span.range.location - block.start),
                                                static_cast<qsizetype>(span.range.length));
        QTextCharFormat format;
        format.setFont(qtFont(span.font ? *span.font : defaultFont));
        const std::optional<QColor> drawn =
            span.foreground ? qtColour(*span.foreground) : std::nullopt;
        format.setForeground(drawn.value_or(paletteText));
        formats.append(
            {static_cast<int>(characters.size()), static_cast<int>(piece.size()), format});
        characters += piece;
    });

    auto layout =
        std::make_unique<QTextLayout>(characters, qtFont(leading ? *leading : defaultFont));
    layout->setFormats(formats);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    double y = 0;
    for (;;) {
        QTextLine line = layout->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout->endLayout();
    ++layoutsMade_;
    return *layouts_.emplace(index, std::move(layout)).first->second;
}

double LazyTextView::blockHeight(std::size_t index) {
    double height = layoutOf(index).boundingRect().height() + blockTopPadding(index);
    if (index + 1 == blocks_.size())
        height += insets_.bottom;
    return height;
}

QString LazyTextView::blockText(std::size_t index) {
    return index < blocks_.size() ? layoutOf(index).text() : QString();
}

QList<QTextLayout::FormatRange> LazyTextView::blockFormats(std::size_t index) {
    return index < blocks_.size() ? layoutOf(index).formats() : QList<QTextLayout::FormatRange>();
}

LazyTextView::Position LazyTextView::endPosition() {
    const double wanted = viewportHeight();
    double below = 0;  // height of the blocks after the one looked at
    for (std::size_t i = blocks_.size(); i-- > 0;) {
        const double height = blockHeight(i);
        if (below + height >= wanted)
            return {i, below + height - wanted};
        below += height;
    }
    return {};
}

void LazyTextView::clampPosition() {
    if (blocks_.empty()) {
        topBlock_ = 0;
        topOffset_ = 0;
        syncScrollBar();
        return;
    }
    topBlock_ = std::min(topBlock_, blocks_.size() - 1);
    topOffset_ = std::max(topOffset_, 0.0);
    // Past the end: the last viewport's worth shows, and nothing after it.
    const double wanted = viewportHeight();
    double shown = -topOffset_;
    std::size_t i = topBlock_;
    while (i < blocks_.size() && shown < wanted)
        shown += blockHeight(i++);
    if (shown < wanted) {
        const Position end = endPosition();
        topBlock_ = end.block;
        topOffset_ = end.offset;
    }
    syncScrollBar();
}

void LazyTextView::syncScrollBar() {
    // The bar reaches the block that tops the last viewport: none when everything fits.
    const Position end = blocks_.empty() ? Position{} : endPosition();
    const std::size_t last = end.block + (end.offset > 0 ? 1 : 0);
    const auto top = static_cast<int>(std::min<std::size_t>(last, std::numeric_limits<int>::max()));
    syncingBar_ = true;
    verticalScrollBar()->setRange(0, top);
    verticalScrollBar()->setPageStep(std::max(1, static_cast<int>(viewportHeight() / 20.0)));
    verticalScrollBar()->setValue(static_cast<int>(std::min<std::size_t>(topBlock_, top)));
    syncingBar_ = false;
}

void LazyTextView::scrollToStart() {
    topBlock_ = 0;
    topOffset_ = 0;
    clampPosition();
    viewport()->update();
}

void LazyTextView::scrollToEnd() {
    const Position end = endPosition();
    topBlock_ = end.block;
    topOffset_ = end.offset;
    clampPosition();
    viewport()->update();
}

void LazyTextView::scrollByPoints(double points) {
    if (blocks_.empty())
        return;
    topOffset_ += points;
    while (topOffset_ < 0 && topBlock_ > 0)
        topOffset_ += blockHeight(--topBlock_);
    while (topBlock_ + 1 < blocks_.size() && topOffset_ >= blockHeight(topBlock_))
        topOffset_ -= blockHeight(topBlock_++);
    clampPosition();
    viewport()->update();
}

void LazyTextView::paintEvent(QPaintEvent*) {
    if (layouts_.size() > kLayoutCacheLimit)
        layouts_.clear();
    QPainter painter(viewport());
    painter.scale(zoom_, zoom_);
    const double bottom = viewportHeight();
    double y = -topOffset_;
    for (std::size_t i = topBlock_; i < blocks_.size() && y < bottom; ++i) {
        QTextLayout& layout = layoutOf(i);
        layout.draw(&painter, QPointF(insets_.left, y + blockTopPadding(i)));
        y += blockHeight(i);
    }
}

void LazyTextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    clampPosition();
}

void LazyTextView::keyPressEvent(QKeyEvent* event) {
    const double page = std::max(viewportHeight() - kLineStep, kLineStep);
    switch (event->key()) {
        case Qt::Key_Up:
            return scrollByPoints(-kLineStep);
        case Qt::Key_Down:
            return scrollByPoints(kLineStep);
        case Qt::Key_PageUp:
            return scrollByPoints(-page);
        case Qt::Key_PageDown:
        case Qt::Key_Space:
            return scrollByPoints(page);
        case Qt::Key_Home:
            return scrollToStart();
        case Qt::Key_End:
            return scrollToEnd();
        default:
            QAbstractScrollArea::keyPressEvent(event);
    }
}

void LazyTextView::wheelEvent(QWheelEvent* event) {
    const QPoint pixels = event->pixelDelta();
    if (!pixels.isNull())
        scrollByPoints(-pixels.y() / zoom_);
    else
        scrollByPoints(-event->angleDelta().y() / 120.0 * kLineStep);
    event->accept();
}

void LazyTextView::changeEvent(QEvent* event) {
    // Colourless runs take the palette's text colour, and fonts the application's family.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        forgetLayouts();
        viewport()->update();
    }
    QAbstractScrollArea::changeEvent(event);
}

void LazyTextView::scrollContentsBy(int, int) {
    // The position is kept in blocks; the scroll bar's own moves come through valueChanged.
}

}  // namespace host::desktop
