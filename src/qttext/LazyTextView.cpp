#include "qttext/LazyTextView.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <limits>

namespace qttext {

LazyTextView::LazyTextView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    syncBlocks();
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

void LazyTextView::setContent(std::shared_ptr<const TextSource> text) {
    if (blocks_.setSource(std::move(text))) {
        topBlock_ = 0;
        topOffset_ = 0;
    }
    syncBlocks();
    clampPosition();
    viewport()->update();
}

void LazyTextView::setTextInsets(QMarginsF insets) {
    if (insets == insets_)
        return;
    insets_ = insets;
    syncBlocks();
    clampPosition();
    viewport()->update();
}

void LazyTextView::setZoom(double zoom) {
    if (zoom == zoom_ || !(zoom > 0))
        return;
    zoom_ = zoom;
    syncBlocks();
    clampPosition();
    viewport()->update();
}

// The defaults and the width the blocks are laid out with, from the widget's state.
void LazyTextView::syncBlocks() {
    QFont font = QGuiApplication::font();
    font.setPixelSize(static_cast<int>(kDefaultPointSize));
    font.setWeight(QFont::Normal);
    blocks_.setDefaultFont(font);
    blocks_.setDefaultColour(palette().color(QPalette::Text));
    blocks_.setWidth(viewport()->width() / zoom_ - insets_.left() - insets_.right());
}

double LazyTextView::viewportHeight() const {
    return viewport()->height() / zoom_;
}

double LazyTextView::blockTopPadding(std::size_t index) const {
    return index == 0 ? insets_.top() : 0.0;
}

double LazyTextView::blockHeight(std::size_t index) {
    double height = blocks_.height(index) + blockTopPadding(index);
    if (index + 1 == blocks_.count())
        height += insets_.bottom();
    return height;
}

QString LazyTextView::blockText(std::size_t index) {
    return index < blocks_.count() ? blocks_.layout(index).text() : QString();
}

QList<QTextLayout::FormatRange> LazyTextView::blockFormats(std::size_t index) {
    return index < blocks_.count() ? blocks_.layout(index).formats()
                                   : QList<QTextLayout::FormatRange>();
}

QTextLayout* LazyTextView::blockLayout(std::size_t index) {
    return index < blocks_.count() ? &blocks_.layout(index) : nullptr;
}

std::size_t LazyTextView::blockAt(QPointF point) {
    const double wanted = point.y() / zoom_;
    double y = -topOffset_;
    std::size_t i = topBlock_;
    for (; i < blocks_.count(); ++i) {
        y += blockHeight(i);
        if (wanted < y)
            return i;
    }
    return blocks_.count() - 1;
}

LazyTextView::Position LazyTextView::endPosition() {
    const double wanted = viewportHeight();
    double below = 0;  // height of the blocks after the one looked at
    for (std::size_t i = blocks_.count(); i-- > 0;) {
        const double height = blockHeight(i);
        if (below + height >= wanted)
            return {i, below + height - wanted};
        below += height;
    }
    return {};
}

void LazyTextView::clampPosition() {
    topBlock_ = std::min(topBlock_, blocks_.count() - 1);
    topOffset_ = std::max(topOffset_, 0.0);
    // Past the end: the last viewport's worth shows, and nothing after it.
    const double wanted = viewportHeight();
    double shown = -topOffset_;
    std::size_t i = topBlock_;
    while (i < blocks_.count() && shown < wanted)
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
    const Position end = endPosition();
    const std::size_t last = end.block + (end.offset > 0 ? 1 : 0);
    const auto top = static_cast<int>(std::min<std::size_t>(last, std::numeric_limits<int>::max()));
    syncingBar_ = true;
    verticalScrollBar()->setRange(0, top);
    verticalScrollBar()->setPageStep(std::max(1, static_cast<int>(viewportHeight() / 20.0)));
    verticalScrollBar()->setValue(static_cast<int>(std::min<std::size_t>(topBlock_, top)));
    syncingBar_ = false;
}

void LazyTextView::scrollToStart() {
    scrollToBlock(0);
}

void LazyTextView::scrollToBlock(std::size_t index) {
    topBlock_ = index;
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
    topOffset_ += points;
    while (topOffset_ < 0 && topBlock_ > 0)
        topOffset_ += blockHeight(--topBlock_);
    while (topBlock_ + 1 < blocks_.count() && topOffset_ >= blockHeight(topBlock_))
        topOffset_ -= blockHeight(topBlock_++);
    clampPosition();
    viewport()->update();
}

void LazyTextView::paintEvent(QPaintEvent*) {
    blocks_.trimCache();
    QPainter painter(viewport());
    painter.scale(zoom_, zoom_);
    const double bottom = viewportHeight();
    double y = -topOffset_;
    for (std::size_t i = topBlock_; i < blocks_.count() && y < bottom; ++i) {
        blocks_.layout(i).draw(&painter, QPointF(insets_.left(), y + blockTopPadding(i)));
        y += blockHeight(i);
    }
}

void LazyTextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    syncBlocks();
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
    // Colourless runs take the palette's text colour, and fontless ones the application's font.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange) {
        syncBlocks();
        viewport()->update();
    }
    QAbstractScrollArea::changeEvent(event);
}

void LazyTextView::scrollContentsBy(int, int) {
    // The position is kept in blocks; the scroll bar's own moves come through valueChanged.
}

}  // namespace qttext
