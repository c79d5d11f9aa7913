#include "prompter/PromptView.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace prompter {
namespace {

// The frame interval the screen refreshes at; the offscreen platform reports 60 Hz.
int frameIntervalMs(const QWidget& widget) {
    const QScreen* screen = widget.screen();
    const double rate = screen && screen->refreshRate() > 1 ? screen->refreshRate() : 60.0;
    return std::max(4, static_cast<int>(1000.0 / rate));
}

QString minutesAndSeconds(double minutes) {
    const auto seconds = static_cast<long long>(std::ceil(std::max(minutes, 0.0) * 60));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

}  // namespace

PromptView::PromptView(std::shared_ptr<const PromptClock> clock, QWidget* parent)
    : QWidget(parent), clock_(std::move(clock)) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("Script being prompted"));
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    indexWords();
    setSettings(settings_);
}

void PromptView::setScript(std::shared_ptr<const qttext::TextSource> script) {
    blocks_.setSource(std::move(script));
    indexWords();
    motion_.pause(clock_->milliseconds());
    motion_.jumpTo(clock_->milliseconds(), 0);
    syncFrameTimer();
    update();
}

// Words per paragraph: a word starts at a character after a space, a tab or the paragraph's
// start; each ideograph or kana is a word of its own (those scripts put no spaces between
// words). An empty paragraph counts as one word, so a blank line takes a moment to pass too.
void PromptView::indexWords() {
    const std::size_t count = blocks_.count();
    std::vector<double> words(count, 0);
    const auto& blocks = blocks_.blocks();
    if (const auto& source = blocks_.source()) {
        std::size_t block = 0;
        std::uint64_t offset = 0;
        unsigned boundary = 1;  // the next character may start a word
        source->forEachPiece([&](std::string_view piece) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
            const std::uint64_t pieceEnd = offset + piece.size();
            std::size_t i = 0;
            while (i < piece.size()) {
                const std::uint64_t at = offset + i;
                while (block + 1 < count && at >= blocks[block + 1].start) {
                    ++block;
                    boundary = 1;
                }
                const std::uint64_t blockEnd = blocks[block].start + blocks[block].length;
                if (at >= blockEnd) {  // the line break: on to the next block's start
                    boundary = 1;
                    const std::uint64_t next =
                        block + 1 < count ? blocks[block + 1].start : pieceEnd;
                    i = static_cast<std::size_t>(std::min(next, pieceEnd) - offset);
                    continue;
                }
                // The block's stretch in this piece, without a branch per byte.
                const auto stop = static_cast<std::size_t>(std::min(blockEnd, pieceEnd) - offset);
                std::uint64_t counted = 0;
                for (; i < stop; ++i) {
                    const unsigned c = bytes[i];
                    const unsigned space = static_cast<unsigned>(c == ' ') | (c == '\t');
                    const unsigned ideograph = static_cast<unsigned>(c - 0xE3u <= 6u);
                    const unsigned continuation = static_cast<unsigned>((c & 0xC0u) == 0x80u);
                    counted += ideograph | (boundary & ~space & ~continuation & 1u);
                    boundary = space | ideograph | (boundary & continuation);
                }
                words[block] += static_cast<double>(counted);
            }
            offset += piece.size();
        });
    }
    starts_.assign(count + 1, 0);
    for (std::size_t i = 0; i < count; ++i)
        starts_[i + 1] = starts_[i] + std::max(words[i], 1.0);
    motion_.setLength(starts_.back());
}

void PromptView::setSettings(const PrompterSettings& settings) {
    const double now = clock_->milliseconds();
    settings_ = settings;
    motion_.setSpeed(now, settings.speed);
    settings_.speed = motion_.speed();
    syncLayout();
    update();
}

void PromptView::syncLayout() {
    QFont font = QGuiApplication::font();
    if (!settings_.fontFamily.isEmpty())
        font.setFamily(settings_.fontFamily);
    font.setPixelSize(settings_.fontSize);
    blocks_.setDefaultFont(font);
    blocks_.setDefaultColour(settings_.textColour);
    blocks_.setWidth(width() * (1.0 - 2.0 * settings_.marginPercent / 100.0));
}

void PromptView::syncFrameTimer() {
    const double now = clock_->milliseconds();
    const bool moving =
        motion_.isRunning() && (!motion_.isAtEnd(now) || motion_.isCountingDown(now));
    if (moving && !frameTimer_.isActive())
        frameTimer_.start(frameIntervalMs(*this));
    else if (!moving && frameTimer_.isActive())
        frameTimer_.stop();
}

void PromptView::start() {
    motion_.start(clock_->milliseconds(), settings_.countdown * 1000.0);
    syncFrameTimer();
    update();
}

void PromptView::pause() {
    motion_.pause(clock_->milliseconds());
    syncFrameTimer();
    update();
}

void PromptView::resume() {
    motion_.resume(clock_->milliseconds());
    syncFrameTimer();
    update();
}

void PromptView::togglePause() {
    const double now = clock_->milliseconds();
    if (motion_.isRunning() && !motion_.isCountingDown(now))
        pause();
    else
        resume();  // a countdown is skipped
}

void PromptView::setSpeed(double wordsPerMinute) {
    motion_.setSpeed(clock_->milliseconds(), wordsPerMinute);
    if (motion_.speed() == settings_.speed)
        return;
    settings_.speed = motion_.speed();
    update();
    emit speedChanged(settings_.speed);
}

void PromptView::setFontSize(int pixels) {
    pixels = std::clamp(pixels, 12, 400);
    if (pixels == settings_.fontSize)
        return;
    settings_.fontSize = pixels;
    syncLayout();
    update();
    emit fontSizeChanged(pixels);
}

void PromptView::setMirror(Mirror mirror) {
    if (mirror == settings_.mirror)
        return;
    settings_.mirror = mirror;
    update();
    emit mirrorChanged(mirror);
}

void PromptView::jumpTo(double words) {
    motion_.jumpTo(clock_->milliseconds(), words);
    syncFrameTimer();
    update();
}

void PromptView::jumpToParagraph(std::size_t index) {
    jumpTo(starts_[std::min(index, blocks_.count())]);
}

std::size_t PromptView::currentParagraph() const {
    const double words = position();
    const auto after = std::upper_bound(starts_.begin(), starts_.end(), words);
    const auto index =
        static_cast<std::size_t>(std::max<std::ptrdiff_t>(after - starts_.begin() - 1, 0));
    return std::min(index, blocks_.count() - 1);
}

void PromptView::jumpByParagraphs(int count) {
    std::size_t paragraph = currentParagraph();
    const double into = position() - starts_[paragraph];
    if (count < 0 && into > 0.5)
        ++count;  // back to the start of the paragraph being read first
    const auto target = static_cast<std::ptrdiff_t>(paragraph) + count;
    paragraph = static_cast<std::size_t>(
        std::clamp<std::ptrdiff_t>(target, 0, static_cast<std::ptrdiff_t>(blocks_.count())));
    jumpToParagraph(paragraph);
}

PromptView::Place PromptView::placeOf(double words) {
    const std::size_t paragraph = [&] {
        const auto after = std::upper_bound(starts_.begin(), starts_.end(), words);
        const auto index = std::max<std::ptrdiff_t>(after - starts_.begin() - 1, 0);
        return std::min(static_cast<std::size_t>(index), blocks_.count() - 1);
    }();
    const double fraction = std::clamp((words - starts_[paragraph]) / weight(paragraph), 0.0, 1.0);
    return {paragraph, fraction * blocks_.height(paragraph)};
}

double PromptView::wordsAt(Place place) {
    // Walk to the paragraph the offset falls in.
    while (place.offset < 0 && place.paragraph > 0)
        place.offset += blocks_.height(--place.paragraph);
    while (place.paragraph + 1 < blocks_.count() && place.offset >= blocks_.height(place.paragraph))
        place.offset -= blocks_.height(place.paragraph++);
    const double height = std::max(blocks_.height(place.paragraph), 1.0);
    return starts_[place.paragraph] +
           weight(place.paragraph) * std::clamp(place.offset / height, 0.0, 1.0);
}

void PromptView::jumpByScreens(double screens) {
    Place place = placeOf(position());
    place.offset += screens * height() * 0.8;
    jumpTo(wordsAt(place));
}

double PromptView::minutesLeft() const {
    return (motion_.length() - position()) / motion_.speed();
}

void PromptView::paintEvent(QPaintEvent*) {
    const double now = clock_->milliseconds();
    const double words = motion_.position(now);
    blocks_.trimCache();
    QPainter painter(this);
    painter.fillRect(rect(), settings_.backgroundColour);
    // The whole picture is mirrored, the speed and the countdown too: on the glass everything
    // reads the right way round.
    if (mirrorsHorizontally(settings_.mirror)) {
        painter.translate(width(), 0);
        painter.scale(-1, 1);
    }
    if (mirrorsVertically(settings_.mirror)) {
        painter.translate(0, height());
        painter.scale(1, -1);
    }
    drawText(painter, words);
    drawOverlay(painter, now, words);
    ++framesDrawn_;
    syncFrameTimer();
    emit frameDrawn();
}

void PromptView::drawText(QPainter& painter, double words) {
    const double readingLine = height() * settings_.readingLine;
    const double margin = width() * settings_.marginPercent / 100.0;
    const Place place = placeOf(words);
    const double top = readingLine - place.offset;  // of the paragraph at the reading line
    double y = top;
    for (std::size_t i = place.paragraph; i-- > 0 && y > 0;) {
        y -= blocks_.height(i);
        blocks_.layout(i).draw(&painter, QPointF(margin, y));
    }
    y = top;
    for (std::size_t i = place.paragraph; i < blocks_.count() && y < height(); ++i) {
        blocks_.layout(i).draw(&painter, QPointF(margin, y));
        y += blocks_.height(i);
    }
}

void PromptView::drawOverlay(QPainter& painter, double now, double words) {
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = height();
    const double readingLine = h * settings_.readingLine;
    const double margin = w * settings_.marginPercent / 100.0;

    // The reading line: a pointer on either side and a faint rule between them.
    const QColor marker(255, 176, 0);
    const double size = std::clamp(settings_.fontSize * 0.35, 10.0, 40.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(marker);
    const double inset = std::max(margin / 2 - size / 2, 2.0);
    QPainterPath pointers;
    pointers.moveTo(inset, readingLine - size / 2);
    pointers.lineTo(inset + size, readingLine);
    pointers.lineTo(inset, readingLine + size / 2);
    pointers.closeSubpath();
    pointers.moveTo(w - inset, readingLine - size / 2);
    pointers.lineTo(w - inset - size, readingLine);
    pointers.lineTo(w - inset, readingLine + size / 2);
    pointers.closeSubpath();
    painter.drawPath(pointers);
    painter.fillRect(QRectF(inset + size, readingLine, w - 2 * (inset + size), 1),
                     QColor(marker.red(), marker.green(), marker.blue(), 60));

    // The speed, and whether it is paused; progress and time left; a progress bar.
    QFont font = QGuiApplication::font();
    font.setPixelSize(std::max(14, static_cast<int>(h / 36)));
    painter.setFont(font);
    QColor ink = settings_.textColour;
    ink.setAlphaF(0.7f);
    painter.setPen(ink);
    const double pad = font.pixelSize() * 0.6;
    const QRectF band(pad, pad / 2, w - 2 * pad, font.pixelSize() * 1.5);
    QString state = QStringLiteral("%1 wpm").arg(std::lround(motion_.speed()));
    const bool atEnd = motion_.isAtEnd(now);
    if (atEnd)
        state += QStringLiteral("  \u00b7  End");
    else if (!motion_.isRunning() && words == 0)
        state += QStringLiteral("  \u00b7  Ready");
    else if (!motion_.isRunning())
        state += QStringLiteral("  \u00b7  Paused");
    painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, state);
    const double length = std::max(motion_.length(), 1.0);
    const double progress = std::clamp(words / length, 0.0, 1.0);
    painter.drawText(band, Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("%1%  \u00b7  %2 left")
                         .arg(std::floor(progress * 100))
                         .arg(minutesAndSeconds((motion_.length() - words) / motion_.speed())));
    const double barHeight = std::max(3.0, h / 240);
    QColor track = settings_.textColour;
    track.setAlphaF(0.2f);
    painter.fillRect(QRectF(0, h - barHeight, w, barHeight), track);
    painter.fillRect(QRectF(0, h - barHeight, w * progress, barHeight), ink);

    // The countdown, large, over the text.
    if (motion_.isCountingDown(now)) {
        const int seconds = static_cast<int>(std::ceil(motion_.countdownLeft(now) / 1000.0));
        const double radius = h / 6;
        QColor disc = settings_.backgroundColour;
        disc.setAlphaF(0.8f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(disc);
        painter.drawEllipse(QPointF(w / 2, h / 2), radius, radius);
        QFont big = font;
        big.setPixelSize(static_cast<int>(radius * 1.2));
        big.setBold(true);
        painter.setFont(big);
        painter.setPen(settings_.textColour);
        painter.drawText(QRectF(w / 2 - radius, h / 2 - radius, 2 * radius, 2 * radius),
                         Qt::AlignCenter, QString::number(seconds));
    }
}

void PromptView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    syncLayout();
}

void PromptView::keyPressEvent(QKeyEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
        case Qt::Key_Space:
        case Qt::Key_B:
        case Qt::Key_Period:
            return togglePause();
        case Qt::Key_Up:
            return setSpeed(motion_.speed() + kSpeedStep);
        case Qt::Key_Down:
            return setSpeed(motion_.speed() - kSpeedStep);
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            if (control)
                return setFontSize(settings_.fontSize + kFontStep);
            break;
        case Qt::Key_Minus:
            if (control)
                return setFontSize(settings_.fontSize - kFontStep);
            break;
        case Qt::Key_H:
            return setMirror(mirrorOf(!mirrorsHorizontally(settings_.mirror),
                                      mirrorsVertically(settings_.mirror)));
        case Qt::Key_V:
            return setMirror(mirrorOf(mirrorsHorizontally(settings_.mirror),
                                      !mirrorsVertically(settings_.mirror)));
        case Qt::Key_Home:
            return jumpTo(0);
        case Qt::Key_End:
            return jumpTo(motion_.length());
        case Qt::Key_PageUp:
            return jumpByScreens(-1);
        case Qt::Key_PageDown:
            return jumpByScreens(1);
        case Qt::Key_Left:
            return jumpByParagraphs(-1);
        case Qt::Key_Right:
            return jumpByParagraphs(1);
        case Qt::Key_Escape:
            emit leaveRequested();
            return;
        default:
            break;
    }
    QWidget::keyPressEvent(event);
}

void PromptView::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches != 0)
        setSpeed(motion_.speed() + notches * kSpeedStep);
    event->accept();
}

}  // namespace prompter
