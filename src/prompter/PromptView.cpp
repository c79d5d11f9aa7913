#include "prompter/PromptView.h"

#include <QBackingStore>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "prompter/ScriptSource.h"
#include "qttext/PlainTextSource.h"

namespace prompter {
namespace {

// The frame interval the screen refreshes at; the offscreen platform reports 60 Hz.
int frameIntervalMs(const QWidget& widget) {
    const QScreen* screen = widget.screen();
    const double rate = screen && screen->refreshRate() > 1 ? screen->refreshRate() : 60.0;
    return std::max(4, static_cast<int>(1000.0 / rate));
}

// "4:05", and over an hour "2:04:05".
QString clockText(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(std::max(seconds, 0.0)));
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2")
            .arg(whole % 3600 / 60, whole >= 3600 ? 2 : 1, 10, QLatin1Char('0'))
            .arg(whole % 60, 2, 10, QLatin1Char('0'));
    return whole >= 3600 ? QStringLiteral("%1:%2").arg(whole / 3600).arg(minutesAndSeconds)
                         : minutesAndSeconds;
}

}  // namespace

PromptView::PromptView(std::shared_ptr<const PromptClock> clock, QWidget* parent)
    : QWidget(parent), clock_(std::move(clock)) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("Script being prompted"));
    // QUORVANE_PROMPTER_WHOLE_FRAMES=1 draws every frame whole: the yardstick the figures
    // report measures moving the kept picture against.
    keepsPicture_ = qEnvironmentVariableIsEmpty("QUORVANE_PROMPTER_WHOLE_FRAMES");
    frameTimer_.setTimerType(Qt::PreciseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, &PromptView::showNextFrame);
    readTimer_.setSingleShot(true);
    connect(&readTimer_, &QTimer::timeout, this, &PromptView::readRest);
    indexWords();
    setSettings(settings_);
}

PromptView::~PromptView() {
    indexing_.reset();
}

void PromptView::setScript(std::shared_ptr<const qttext::TextSource> script) {
    plain_ = std::move(script);
    indexWords();
    showFromStart();
}

void PromptView::setScript(ScriptFile::Start script) {
    plain_ = std::make_shared<qttext::PlainTextSource>(std::move(script.text));
    indexWords(std::move(script.rest));
    showFromStart();
}

void PromptView::showFromStart() {
    restyle();
    startedAt_ = -1;
    motion_.pause(clock_->milliseconds());
    motion_.jumpTo(clock_->milliseconds(), 0);
    syncFrameTimer();
    update();
    emit scriptShown();
    emit scriptChanged();
}

namespace {

std::string wholeText(const qttext::TextSource& source) {
    std::string text;
    text.reserve(static_cast<std::size_t>(source.length()));
    source.forEachPiece([&](std::string_view piece) { text.append(piece); });
    return text;
}

// Where the line `line` stands whole in `text` (a line of its own), nearest to `near`.
std::optional<std::uint64_t> sameLine(const std::string& text, std::string_view line,
                                      std::uint64_t near) {
    const auto isBreak = [](char c) { return c == '\n' || c == '\r'; };
    std::optional<std::uint64_t> best;
    std::size_t at = text.find(line);
    for (int tries = 0; at != std::string::npos && tries < 100000; ++tries) {
        const std::size_t end = at + line.size();
        if ((at == 0 || isBreak(text[at - 1])) && (end == text.size() || isBreak(text[end]))) {
            const auto distance = [&](std::uint64_t place) {
                return place > near ? place - near : near - place;
            };
            if (!best || distance(at) < distance(*best))
                best = at;
            if (at > near)
                break;
        }
        at = text.find(line, at + 1);
    }
    return best;
}

}  // namespace

void PromptView::replaceScript(std::shared_ptr<const qttext::TextSource> script) {
    if (!plain_) {
        setScript(std::move(script));
        return;
    }
    const double now = clock_->milliseconds();
    const double words = motion_.position(now);
    const std::size_t paragraph = index_.paragraphAt(words);
    const qttext::TextBlocks::Block block = blocks_.block(paragraph);
    const double fraction =
        std::clamp((words - index_.paragraphStart(paragraph)) / index_.weight(paragraph), 0.0, 1.0);
    // What the two versions share at their start and at their end.
    const std::string before = wholeText(*plain_);
    const std::string after = wholeText(*script);
    std::size_t prefix = 0;
    const std::size_t shorter = std::min(before.size(), after.size());
    while (prefix < shorter && before[prefix] == after[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const std::uint64_t blockEnd = block.start + block.length;
    // Where the paragraph being read is in the new version, when it is there unchanged.
    std::optional<std::uint64_t> movedTo;
    if (blockEnd < prefix || (blockEnd == prefix && prefix == before.size()))
        movedTo = block.start;
    else if (block.start >= before.size() - suffix && before.size() - suffix >= prefix)
        movedTo = block.start + after.size() - before.size();
    else if (block.length > 0)
        movedTo = sameLine(after, std::string_view(before).substr(block.start, block.length),
                           block.start);

    plain_ = std::move(script);
    indexWords();
    restyle();
    // The place in the new version: at once when its paragraph is indexed already, else once
    // it is (the text stays where it was until then).
    const std::uint64_t offset = movedTo ? *movedTo : std::min<std::uint64_t>(prefix, after.size());
    const bool same = movedTo.has_value();
    const auto place = [this, offset, same, fraction] {
        const auto& blocks = blocks_.blocks();
        const auto found = std::upper_bound(
            blocks.begin(), blocks.end(), offset,
            [](std::uint64_t at, const qttext::TextBlocks::Block& b) { return at < b.start; });
        const auto paragraph =
            static_cast<std::size_t>(std::max<std::ptrdiff_t>(found - blocks.begin() - 1, 0));
        const double target =
            index_.paragraphStart(paragraph) + (same ? fraction * index_.weight(paragraph) : 0.0);
        motion_.jumpTo(clock_->milliseconds(), std::min(target, index_.length()));
    };
    const bool known =
        !isIndexing() || offset < blocks_.blocks().back().start + blocks_.blocks().back().length;
    if (!waitForIndex(!known, place))
        place();
    syncFrameTimer();
    update();
    emit scriptChanged();
}

// The paragraphs' words, the sections and the cues, read once (ScriptIndex): for a big script,
// those of its start now and the rest on a thread of their own (takeIndex() takes them), which
// reads the rest of the script first when `rest` is given.
void PromptView::indexWords(ScriptIndexing::Read rest) {
    indexing_.reset();  // an index of other characters is never taken
    waitingJumps_ = nullptr;
    reading_ = plain_ && rest;
    rest_ = reading_ ? std::move(rest) : nullptr;
    readTimer_.stop();
    if (!plain_ || (!reading_ && plain_->length() <= kIndexedAtOnce)) {
        blocks_.setSource(plain_);
        index_ = plain_ ? ScriptIndex::build(*plain_, blocks_.blocks()) : ScriptIndex();
    } else {
        auto head = ScriptIndexing::head(*plain_, kHeadBytes);
        blocks_.setSource(plain_, std::move(head.blocks));
        index_ = std::move(head.index);
        if (reading_)
            readTimer_.start(kReadAtLatestMs);
        else
            indexing_ = std::make_unique<ScriptIndexing>(plain_, takeIndexLater());
    }
    motion_.setLength(index_.length());
}

void PromptView::readRest() {
    readTimer_.stop();
    if (!rest_)
        return;
    indexing_ = std::make_unique<ScriptIndexing>(std::exchange(rest_, nullptr), takeIndexLater());
}

// For the index's thread: takeIndex() on the window's.
std::function<void()> PromptView::takeIndexLater() {
    return
        [this] { QMetaObject::invokeMethod(this, &PromptView::takeIndex, Qt::QueuedConnection); };
}

// On the window's thread, once the worker made the whole index of the script shown (and read
// it, when only its start was read): the words at the reading line stay (the start was indexed
// the same), and the jumps asked for meanwhile are taken.
void PromptView::takeIndex() {
    if (!indexing_ || !indexing_->isDone())
        return;  // a script replaced since, or called before it was done
    ScriptIndexing::Made made = indexing_->take();
    indexing_.reset();
    const bool read = std::exchange(reading_, false);
    if (read && made.failure.isEmpty()) {
        // Changed on disk between the two reads: the text read is a new version, taken as any
        // edit is (its start no longer the one shown).
        const std::uint64_t shown = plain_->length();
        if (made.source->length() < shown ||
            made.source->substring(0, shown) != plain_->substring(0, shown)) {
            replaceScript(std::move(made.source));
            return;
        }
        plain_ = std::move(made.source);
    }
    if (made.failure.isEmpty()) {
        blocks_.setSource(plain_, std::move(made.blocks));
        index_ = std::move(made.index);
        restyle();
        motion_.setLength(index_.length());
    }
    if (const auto jumps = std::exchange(waitingJumps_, nullptr))
        jumps();
    syncFrameTimer();
    update();
    if (read && made.failure.isEmpty())
        emit scriptChanged();
    emit indexed();
    if (!made.failure.isEmpty())
        emit readFailed(made.failure);
}

bool PromptView::waitForIndex(bool needsWhole, std::function<void()> jump) {
    if (!isIndexing() || (!needsWhole && !waitingJumps_))
        return false;
    waitingJumps_ = [before = std::move(waitingJumps_), jump = std::move(jump)] {
        if (before)
            before();
        jump();
    };
    return true;
}

// The script drawn with its title, headings and cues set apart: the same characters (so the
// paragraph index stays), only the styling made again.
void PromptView::restyle() {
    if (!plain_)
        return;
    blocks_.setSource(
        std::make_shared<ScriptSource>(plain_, index_, blocks_.blocks(), settings_.cueColour));
}

void PromptView::setSettings(const PrompterSettings& settings) {
    const double now = clock_->milliseconds();
    const bool cueColourChanged = settings.cueColour != settings_.cueColour;
    settings_ = settings;
    if (cueColourChanged)
        restyle();
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
    blocks_.setLineSpacing(settings_.lineSpacing);
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
    startedAt_ = clock_->milliseconds() + settings_.countdown * 1000.0;
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
    if (motion_.isRunning() && !motion_.isCountingDown(now)) {
        pause();
        return;
    }
    if (startedAt_ < 0 || startedAt_ > now)
        startedAt_ = now;  // a countdown skipped, or moving without one
    resume();
}

void PromptView::setSteeredBy(const QString& who) {
    if (who == steeredBy_)
        return;
    steeredBy_ = who;
    update();
}

QString PromptView::bandState() const {
    const double now = clock_->milliseconds();
    return stateAt(now, motion_.position(now));
}

QString PromptView::bandTimes() const {
    const double now = clock_->milliseconds();
    return bandTimes(now, motion_.position(now));
}

QString PromptView::stateAt(double now, double words) const {
    QString state = QStringLiteral("%1 wpm").arg(std::lround(motion_.speed()));
    if (motion_.isAtEnd(now))
        state += QStringLiteral("  \u00b7  End");
    else if (!motion_.isRunning() && !steeredBy_.isEmpty())
        state += QStringLiteral("  \u00b7  ") + steeredBy_;
    else if (!motion_.isRunning() && words == 0)
        state += QStringLiteral("  \u00b7  Ready");
    else if (!motion_.isRunning())
        state += QStringLiteral("  \u00b7  Paused");
    if (const auto section = index_.sectionOf(index_.paragraphAt(words)))
        state += QStringLiteral("  \u00b7  %1. %2")
                     .arg(*section + 1)
                     .arg(index_.sections()[*section].title.left(40));
    return state;
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
    if (waitForIndex(words > index_.length(), [this, words] { jumpTo(words); }))
        return;
    motion_.jumpTo(clock_->milliseconds(), words);
    syncFrameTimer();
    update();
}

void PromptView::jumpToEnd() {
    if (waitForIndex(true, [this] { jumpToEnd(); }))
        return;
    jumpTo(motion_.length());
}

void PromptView::jumpToParagraph(std::size_t index) {
    if (waitForIndex(index >= index_.paragraphCount(), [this, index] { jumpToParagraph(index); }))
        return;
    jumpTo(index_.paragraphStart(std::min(index, index_.paragraphCount())));
}

std::size_t PromptView::currentParagraph() const {
    return index_.paragraphAt(position());
}

void PromptView::jumpByParagraphs(int count) {
    if (count == 0)
        return;
    // Past the paragraphs indexed so far (to the end) only once they all are.
    const std::size_t from = currentParagraph();
    const bool pastIndexed = count > 0 && index_.paragraphWithText(from, count) == from;
    if (waitForIndex(pastIndexed, [this, count] { jumpByParagraphs(count); }))
        return;
    const double words = position();
    const std::size_t paragraph = currentParagraph();
    if (count < 0) {
        // Back to the start of the paragraph being read first, when it is under way.
        if (index_.hasText(paragraph) && words - index_.paragraphStart(paragraph) > 0.5)
            ++count;
        jumpToParagraph(count == 0 ? paragraph : index_.paragraphWithText(paragraph, count));
        return;
    }
    const std::size_t target = index_.paragraphWithText(paragraph, count);
    // With no paragraph holding text after this one, on to the end.
    jumpTo(target == paragraph ? index_.length() : index_.paragraphStart(target));
}

void PromptView::jumpToSection(std::size_t index) {
    if (waitForIndex(true, [this, index] { jumpToSection(index); }))
        return;
    if (index < index_.sections().size())
        jumpToParagraph(index_.sections()[index].paragraph);
}

std::unique_ptr<QMenu> PromptView::sectionMenu() {
    auto menu = std::make_unique<QMenu>(this);
    menu->setAccessibleName(QStringLiteral("Sections"));
    if (isIndexing()) {
        menu->addAction(QStringLiteral("Counting the sections\u2026"))->setEnabled(false);
        return menu;
    }
    const auto& sections = index_.sections();
    const auto current = index_.sectionOf(currentParagraph());
    for (std::size_t i = 0; i < sections.size(); ++i) {
        QAction* action =
            menu->addAction(QStringLiteral("%1%2. %3")
                                .arg(i < 9 ? QStringLiteral("&") : QString())
                                .arg(i + 1)
                                .arg(sections[i].title.isEmpty() ? QStringLiteral("(untitled)")
                                                                 : sections[i].title.left(80)));
        action->setCheckable(true);
        action->setChecked(current && *current == i);
        connect(action, &QAction::triggered, this, [this, i] { jumpToSection(i); });
    }
    if (sections.empty())
        menu->addAction(QStringLiteral("No sections: a line starting with # begins one"))
            ->setEnabled(false);
    return menu;
}

void PromptView::jumpBySections(int count) {
    if (waitForIndex(true, [this, count] { jumpBySections(count); }))
        return;
    const auto& sections = index_.sections();
    if (sections.empty() || count == 0)
        return;
    const std::size_t paragraph = currentParagraph();
    const auto current = index_.sectionOf(paragraph);
    if (count > 0) {
        const std::size_t next = current ? *current + 1 : 0;
        jumpToSection(std::min(next + static_cast<std::size_t>(count - 1), sections.size() - 1));
        return;
    }
    if (!current) {
        jumpTo(0);
        return;
    }
    // Back to the start of this section first, when it is under way.
    const bool underWay = position() - index_.paragraphStart(sections[*current].paragraph) > 0.5;
    const auto back = static_cast<std::ptrdiff_t>(*current) + count + (underWay ? 1 : 0);
    if (back < 0)
        jumpTo(0);
    else
        jumpToSection(static_cast<std::size_t>(back));
}

PromptView::Place PromptView::placeOf(double words) {
    const std::size_t paragraph = index_.paragraphAt(words);
    const double fraction =
        std::clamp((words - index_.paragraphStart(paragraph)) / weight(paragraph), 0.0, 1.0);
    return {paragraph, fraction * blocks_.height(paragraph)};
}

double PromptView::wordsAt(Place place) {
    // Walk to the paragraph the offset falls in.
    while (place.offset < 0 && place.paragraph > 0)
        place.offset += blocks_.height(--place.paragraph);
    while (place.paragraph + 1 < blocks_.count() && place.offset >= blocks_.height(place.paragraph))
        place.offset -= blocks_.height(place.paragraph++);
    const double height = std::max(blocks_.height(place.paragraph), 1.0);
    return index_.paragraphStart(place.paragraph) +
           weight(place.paragraph) * std::clamp(place.offset / height, 0.0, 1.0);
}

void PromptView::jumpByScreens(double screens) {
    if (waitForIndex(false, [this, screens] { jumpByScreens(screens); }))
        return;
    Place place = placeOf(position());
    place.offset += screens * height() * 0.8;
    const double words = wordsAt(place);
    // A screen that reaches the last paragraph indexed so far waits for the others.
    if (waitForIndex(screens > 0 && index_.paragraphAt(words) + 1 >= index_.paragraphCount(),
                     [this, screens] { jumpByScreens(screens); }))
        return;
    jumpTo(words);
}

double PromptView::minutesLeft() const {
    return (motion_.length() - position()) / motion_.speed();
}

double PromptView::elapsedSeconds() const {
    const double now = clock_->milliseconds();
    return startedAt_ < 0 || now < startedAt_ ? 0 : (now - startedAt_) / 1000.0;
}

double PromptView::bandHeight() const {
    const double text = std::max(14.0, std::floor(height() / 36.0));
    return text * 2.1;
}

double PromptView::barHeight() const {
    return std::max(3.0, height() / 240.0);
}

QRectF PromptView::textArea() const {
    return QRectF(0, bandHeight(), width(), std::max(0.0, height() - bandHeight() - barHeight()));
}

// Between the band and the reading line, where the text already read is: the words about to be
// read, at and below the line, stay in sight.
QRectF PromptView::countdownArea() const {
    const double top = bandHeight();
    const double bottom = std::max(top, readingLineY() - 4);
    const double size = std::min(bottom - top, height() / 3.0);
    return QRectF(width() / 2 - size / 2, bottom - size, size, size);
}

void PromptView::setKeepsPicture(bool keeps) {
    keepsPicture_ = keeps;
    update();
}

KeptPicture::Frame PromptView::frameAt(double words, qreal devicePixelRatio) {
    KeptPicture::Frame frame;
    frame.devicePixelRatio = devicePixelRatio;
    frame.width = static_cast<int>(std::lround(width() * devicePixelRatio));
    frame.height = static_cast<int>(std::lround(height() * devicePixelRatio));
    const QRectF area = textArea();
    frame.areaTop = static_cast<int>(std::lround(area.top() * devicePixelRatio));
    frame.areaBottom =
        std::max(frame.areaTop, static_cast<int>(std::lround(area.bottom() * devicePixelRatio)));
    frame.margin = width() * settings_.marginPercent / 100.0;
    frame.mirrorX = mirrorsHorizontally(settings_.mirror);
    frame.mirrorY = mirrorsVertically(settings_.mirror);
    frame.background = settings_.backgroundColour;
    // The paragraph at the reading line, its top on the device pixel nearest the clock's place.
    const Place place = placeOf(words);
    frame.paragraph = place.paragraph;
    frame.paragraphTop = std::llround((readingLineY() - place.offset) * devicePixelRatio);
    frame.layouts = blocks_.generation();
    return frame;
}

void PromptView::showNextFrame() {
    const double now = clock_->milliseconds();
    if (!moveShownText(now, motion_.position(now)))
        update();
}

QString PromptView::bandTimes(double now, double words) const {
    if (isIndexing())
        return QStringLiteral("counting words\u2026  \u00b7  %1 elapsed")
            .arg(clockText(startedAt_ < 0 || now < startedAt_ ? 0 : (now - startedAt_) / 1000.0));
    const double length = std::max(motion_.length(), 1.0);
    const double progress = std::clamp(words / length, 0.0, 1.0);
    const double elapsed = startedAt_ < 0 || now < startedAt_ ? 0 : (now - startedAt_) / 1000.0;
    return QStringLiteral("%1%  \u00b7  %2 elapsed  \u00b7  %3 left")
        .arg(std::floor(progress * 100))
        .arg(clockText(elapsed))
        .arg(clockText((motion_.length() - words) / motion_.speed() * 60));
}

QString PromptView::bandShown(double now, double words) const {
    return stateAt(now, words) + QLatin1Char('\n') + bandTimes(now, words);
}

QRect PromptView::readingLineRows(const KeptPicture::Frame& frame) const {
    const double size = std::clamp(settings_.fontSize * 0.35, 10.0, 40.0);
    const int top = static_cast<int>(std::floor(readingLineY() - size / 2)) - 2;
    const int bottom = static_cast<int>(std::ceil(readingLineY() + size / 2)) + 2;
    return frame.mirrorY ? QRect(0, height() - bottom, width(), bottom - top)
                         : QRect(0, top, width(), bottom - top);
}

// Only on a screen of one device pixel per pixel (the view scrolls by whole pixels), and not
// while the countdown shows or the rows a moved frame uncovered are still to be painted (they
// would be moved unpainted).
bool PromptView::moveShownText(double now, double words) {
    if (!keepsPicture_ || !shown_ || movePending_ || motion_.isCountingDown(now) ||
        devicePixelRatioF() != 1.0 || !isVisible())
        return false;
    const KeptPicture::Frame next = frameAt(words, 1.0);
    const auto [from, to] = KeptPicture::screenRows(next);
    const auto moved = KeptPicture::rowsMoved(blocks_, *shown_, next, (to - from) / 2);
    if (!moved)
        return false;
    const int dy = static_cast<int>(next.mirrorY ? -*moved : *moved);
    shown_ = next;
    shownNow_ = now;
    shownWords_ = words;
    if (dy != 0) {
        movePending_ = true;
        picture_.forget();  // the kept ring no longer follows what the window shows
        scroll(0, dy, QRect(0, from, width(), to - from));
        // The reading line moved with the text: drawn again where it went and where it is.
        const QRect line = readingLineRows(next);
        update(line.translated(0, dy));
        update(line);
    }
    // The progress bar (its edge moves by fractions of a pixel), and the band when what it
    // says changed.
    const QRect top(0, 0, width(), from);
    const QRect bottom(0, to, width(), height() - to);
    update(next.mirrorY ? top : bottom);
    if (QString band = bandShown(now, words); band != shownBand_) {
        shownBand_ = std::move(band);
        update(next.mirrorY ? bottom : top);
    }
    return true;
}

void PromptView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // The pixels of what is painted on (a grab's or a render's image, or the window's).
    const qreal ratio = painter.paintEngine() && painter.paintEngine()->paintDevice()
                            ? painter.paintEngine()->paintDevice()->devicePixelRatio()
                            : painter.device()->devicePixelRatio();
    // On screen (not a grab), part of the window only: the rows a moved frame uncovered, drawn
    // at the place the rest of the window shows.
    const bool onScreen = backingStore() && painter.paintEngine() &&
                          painter.paintEngine()->paintDevice() == backingStore()->paintDevice();
    const bool whole = (QRegion(rect()) - event->region()).isEmpty();
    const bool part = onScreen && !whole && shown_ && keepsPicture_;
    const double now = part ? shownNow_ : clock_->milliseconds();
    const double words = part ? shownWords_ : motion_.position(now);
    blocks_.trimCache();
    const KeptPicture::Frame frame = frameAt(words, ratio);
    if (part && !KeptPicture::rowsMoved(blocks_, *shown_, frame, 1))
        update();  // the layouts changed under the picture shown: the whole window again
    // Around the text area the background, for the band and the bar; in it the text, moved
    // from the frames before where only its place changed.
    const auto [areaFrom, areaTo] = KeptPicture::screenRows(frame);
    painter.fillRect(QRectF(0, 0, width(), areaFrom / ratio), settings_.backgroundColour);
    painter.fillRect(QRectF(0, areaTo / ratio, width(), height() - areaTo / ratio),
                     settings_.backgroundColour);
    if (part) {
        for (const QRect& rows : event->region()) {
            const int top = std::max(rows.top(), areaFrom);
            const int bottom = std::min(rows.bottom() + 1, areaTo);
            KeptPicture::drawWhole(painter, blocks_, frame, top, bottom);
            textRowsDrawn_ += static_cast<std::uint64_t>(std::max(0, bottom - top));
        }
    } else if (keepsPicture_) {
        const std::uint64_t before = picture_.rowsDrawn();
        picture_.draw(painter, blocks_, frame);
        textRowsDrawn_ += picture_.rowsDrawn() - before;
    } else {
        KeptPicture::drawWhole(painter, blocks_, frame);
        textRowsDrawn_ += static_cast<std::uint64_t>(std::max(0, areaTo - areaFrom));
    }
    // The whole picture is mirrored, the speed and the countdown too: on the glass everything
    // reads the right way round.
    if (frame.mirrorX) {
        painter.translate(width(), 0);
        painter.scale(-1, 1);
    }
    if (frame.mirrorY) {
        painter.translate(0, height());
        painter.scale(1, -1);
    }
    drawOverlay(painter, now, words);
    if (onScreen) {
        movePending_ = false;
        if (whole) {
            shown_ = frame;
            shownNow_ = now;
            shownWords_ = words;
            shownBand_ = bandShown(now, words);
        }
    }
    ++framesDrawn_;
    syncFrameTimer();
    if (rest_)
        readTimer_.start(0);  // the first frame is drawn: the rest is read from the next turn
    emit frameDrawn();
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

    // The band: the speed, and whether it is paused; progress, time elapsed and time left. The
    // script is never drawn under it (textArea), so it always reads.
    QFont font = QGuiApplication::font();
    font.setPixelSize(std::max(14, static_cast<int>(h / 36)));
    painter.setFont(font);
    QColor ink = settings_.textColour;
    ink.setAlphaF(0.7f);
    painter.setPen(ink);
    const double pad = font.pixelSize() * 0.6;
    const QRectF band(pad, 0, w - 2 * pad, bandHeight());
    painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, stateAt(now, words));
    const double length = std::max(motion_.length(), 1.0);
    const double progress = isIndexing() ? 0.0 : std::clamp(words / length, 0.0, 1.0);
    painter.drawText(band, Qt::AlignRight | Qt::AlignVCenter, bandTimes(now, words));
    const double bar = barHeight();
    QColor track = settings_.textColour;
    track.setAlphaF(0.2f);
    painter.fillRect(QRectF(0, h - bar, w, bar), track);
    painter.fillRect(QRectF(0, h - bar, w * progress, bar), ink);

    // The countdown, large, above the reading line: over what was read, never over what is next.
    if (motion_.isCountingDown(now)) {
        const int seconds = static_cast<int>(std::ceil(motion_.countdownLeft(now) / 1000.0));
        const QRectF area = countdownArea();
        if (area.height() >= 8) {
            QColor disc = settings_.backgroundColour;
            disc.setAlphaF(0.85f);
            painter.setPen(Qt::NoPen);
            painter.setBrush(disc);
            painter.drawEllipse(area);
            QFont big = font;
            big.setPixelSize(std::max(8, static_cast<int>(area.height() * 0.6)));
            big.setBold(true);
            painter.setFont(big);
            painter.setPen(settings_.textColour);
            painter.drawText(area, Qt::AlignCenter, QString::number(seconds));
        }
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
            return jumpToEnd();
        case Qt::Key_PageUp:
            return control ? jumpBySections(-1) : jumpByScreens(-1);
        case Qt::Key_PageDown:
            return control ? jumpBySections(1) : jumpByScreens(1);
        case Qt::Key_1:
        case Qt::Key_2:
        case Qt::Key_3:
        case Qt::Key_4:
        case Qt::Key_5:
        case Qt::Key_6:
        case Qt::Key_7:
        case Qt::Key_8:
        case Qt::Key_9:
            return jumpToSection(static_cast<std::size_t>(event->key() - Qt::Key_1));
        case Qt::Key_Left:
            return jumpByParagraphs(-1);
        case Qt::Key_Right:
            return jumpByParagraphs(1);
        case Qt::Key_S: {
            const auto menu = sectionMenu();
            menu->exec(mapToGlobal(QPoint(width() / 2, static_cast<int>(readingLineY()))));
            return;
        }
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
