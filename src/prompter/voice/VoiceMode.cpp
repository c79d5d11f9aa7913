#include "prompter/voice/VoiceMode.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <variant>

#include "prompter/voice/VoiceFollower.h"

namespace prompter::voice {

// In the status band: "Voice" with the microphone's level, or why following cannot be.
class VoiceBadge : public QWidget {
  public:
    explicit VoiceBadge(PromptView* view) : QWidget(view), view_(view) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setObjectName(QStringLiteral("voiceBadge"));
        setAccessibleName(QStringLiteral("Voice following"));
        hide();
    }
    void showState(const QString& text, bool listening) {
        text_ = text;
        listening_ = listening;
        if (!listening)
            level_ = 0;
        setAccessibleDescription(text);
        setVisible(!text.isEmpty());
        place();
        update();
    }
    void setLevel(double level) {
        if (std::abs(level - level_) < 0.02)
            return;
        level_ = level;
        update();
    }
    void place() {
        QWidget* parent = parentWidget();
        const int band = std::max(14, parent->height() / 36);
        QFont font = this->font();
        font.setPixelSize(band);
        setFont(font);
        const int width = std::min(parent->width() * 3 / 5,
                                   QFontMetrics(font).horizontalAdvance(text_) + band * 5);
        const int height = band * 3 / 2;
        // In the band at the top, or at the bottom when the view is upside down.
        const int y = mirrorsVertically(view_->settings().mirror)
                          ? parent->height() - height - band * 3 / 10
                          : band * 3 / 10;
        setGeometry((parent->width() - width) / 2, y, width, height);
        raise();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (mirrorsHorizontally(view_->settings().mirror)) {
            painter.translate(width(), 0);
            painter.scale(-1, 1);
        }
        if (mirrorsVertically(view_->settings().mirror)) {
            painter.translate(0, height());
            painter.scale(1, -1);
        }
        QColor ink = view_->settings().textColour;
        ink.setAlphaF(0.8f);
        const int h = height();
        const double meterWidth = h * 2.0;
        QRectF meter(h * 0.3, h * 0.3, meterWidth, h * 0.4);
        if (listening_) {
            QColor track = ink;
            track.setAlphaF(0.25f);
            painter.fillRect(meter, track);
            painter.fillRect(
                QRectF(meter.left(), meter.top(), meter.width() * level_, meter.height()),
                QColor(80, 200, 120));
        }
        painter.setPen(ink);
        painter.drawText(QRectF(meter.right() + h * 0.4, 0, width() - meter.right() - h * 0.4, h),
                         Qt::AlignLeft | Qt::AlignVCenter, text_);
    }

  private:
    PromptView* view_;
    QString text_;
    bool listening_ = false;
    double level_ = 0;
};

VoiceMode::VoiceMode(PromptView* view, VoiceOptions options, QObject* parent)
    : QObject(parent), view_(view), options_(std::move(options)), badge_(new VoiceBadge(view)) {
    view_->installEventFilter(this);
    easing_.setTimerType(Qt::PreciseTimer);
    connect(&easing_, &QTimer::timeout, this, &VoiceMode::ease);
    thread_.setObjectName(QStringLiteral("voice"));
    connect(view_, &PromptView::scriptShown, this, &VoiceMode::prompting);
    connect(view_, &PromptView::indexed, this, [this] {
        if (following_ && !wordsRead_)
            follow();
    });
    if (view_->script())
        prompting();
    running_ = !options_.positions.isEmpty();
    if (running_) {
        positions_.setFileName(options_.positions);
        if (!positions_.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            QTimer::singleShot(0, this, [this] {
                fail(QStringLiteral("cannot write %1: %2")
                         .arg(options_.positions, positions_.errorString()));
            });
    }
}

VoiceMode::~VoiceMode() {
    stopFollower();
}

void VoiceMode::prompting() {
    const bool wasFollowing = following_;
    setFollowing(false);
    stopFollower();
    hasScript_ = view_->script() != nullptr;
    wordsRead_ = false;
    words_ = {};
    if (hasScript_ && (wasFollowing || running_))
        setFollowing(true);
}

// The script's words are taken only when following starts: a prompt that never follows the
// voice (a 100 MB script, say) never pays for them.
void VoiceMode::readWords() {
    if (wordsRead_ || !view_->script())
        return;
    std::string_view first;
    std::string joined;  // only for a text held in pieces
    int pieces = 0;
    view_->script()->forEachPiece([&](std::string_view piece) {
        if (pieces++ == 0) {
            first = piece;
            return;
        }
        if (pieces == 2)
            joined.assign(first);
        joined.append(piece);
    });
    words_ = ScriptWords::read(pieces > 1 ? std::string_view(joined) : first);
    wordsRead_ = true;
}

void VoiceMode::startFollower() {
    if (follower_)
        return;
    ready_ = false;
    auto* follower = new VoiceFollower(words_, options_.modelFolder);
    follower->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, follower, &QObject::deleteLater);
    connect(follower, &VoiceFollower::ready, this, &VoiceMode::onReady);
    connect(follower, &VoiceFollower::moved, this, &VoiceMode::onMoved);
    follower_ = follower;
    thread_.start();
    QMetaObject::invokeMethod(follower, &VoiceFollower::start, Qt::QueuedConnection);
    badge_->showState(QStringLiteral("Voice: loading the model\u2026"), false);

    if (!options_.audioFile.isEmpty()) {
        auto audio = readWav(options_.audioFile);
        if (auto* problem = std::get_if<QString>(&audio))
            return fail(*problem);
        feed_ = std::make_unique<FileFeed>(std::get<Audio>(std::move(audio)));
    } else {
        feed_ = std::make_unique<MicrophoneFeed>(options_.microphone);
    }
    connect(feed_.get(), &AudioFeed::samples, follower, &VoiceFollower::hear);
    connect(feed_.get(), &AudioFeed::level, badge_,
            [this](double level) { badge_->setLevel(level); });
    connect(feed_.get(), &AudioFeed::failed, this, &VoiceMode::fail);
    connect(feed_.get(), &AudioFeed::ended, follower, &VoiceFollower::finish);
    connect(feed_.get(), &AudioFeed::ended, this, [this] { badge_->setLevel(0); });
    // A run ends a second after the recogniser has heard the whole recording, not after it was
    // played: on a busy machine the last words are recognised later, and the trace must hold
    // where the reading line came to rest.
    connect(follower, &VoiceFollower::finished, this, [this] {
        if (running_)
            QTimer::singleShot(1000, this, &VoiceMode::finishRun);
    });
}

void VoiceMode::stopFollower() {
    if (feed_) {
        feed_->stop();
        feed_.reset();
    }
    if (thread_.isRunning()) {
        thread_.quit();
        thread_.wait();
    }
    follower_ = nullptr;
    ready_ = false;
}

void VoiceMode::setVoice(const QString& microphone, const QString& modelFolder) {
    if (microphone == options_.microphone && modelFolder == options_.modelFolder)
        return;
    options_.microphone = microphone;
    options_.modelFolder = modelFolder;
    const bool wasFollowing = following_;
    setFollowing(false);
    stopFollower();
    if (wasFollowing)
        setFollowing(true);
}

void VoiceMode::setFollowing(bool on) {
    if (on == following_)
        return;
    if (on && !hasScript_)
        return;
    following_ = on;
    if (!on) {
        easing_.stop();
        target_.reset();
        // The microphone is open only while following; the model stays loaded.
        if (feed_ && options_.audioFile.isEmpty())
            feed_->stop();
        badge_->showState(ready_ ? QStringLiteral("Voice: off (F follows again)") : QString(),
                          false);
        view_->setSteeredBy({});
        return;
    }
    view_->pause();
    view_->setSteeredBy(QStringLiteral("Following the voice"));
    follow();
}

void VoiceMode::follow() {
    if (view_->isReading()) {  // the words are taken from the whole script, once it is read
        badge_->showState(QStringLiteral("Voice: reading the script\u2026"), false);
        return;
    }
    readWords();
    startFollower();
    if (ready_) {
        QMetaObject::invokeMethod(follower_, "setPlace", Qt::QueuedConnection,
                                  Q_ARG(qint64, spokenBefore(view_->position())));
        badge_->showState(QStringLiteral("Voice: following"), true);
        if (feed_)
            feed_->start();
    }
}

void VoiceMode::onReady(const QString& problem) {
    if (!problem.isEmpty())
        return fail(problem);
    ready_ = true;
    if (!following_)
        return;
    QMetaObject::invokeMethod(follower_, "setPlace", Qt::QueuedConnection,
                              Q_ARG(qint64, spokenBefore(view_->position())));
    badge_->showState(QStringLiteral("Voice: following"), true);
    if (feed_)
        feed_->start();
    report();
}

void VoiceMode::fail(const QString& problem) {
    badge_->showState(QStringLiteral("Voice: %1").arg(problem), false);
    view_->setSteeredBy({});
    following_ = false;
    easing_.stop();
    stopFollower();
    if (running_) {
        std::fprintf(stderr, "quorvane-prompter: %s\n", problem.toLocal8Bit().constData());
        running_ = false;
        emit done(1);
    }
}

void VoiceMode::onMoved(qint64 spoken, bool resync, qint64) {
    if (!following_ || spoken < 0 || static_cast<std::size_t>(spoken) >= words_.spoken.size())
        return;
    const double target = viewWordOf(static_cast<std::size_t>(spoken)) + 0.5;
    target_ = target;
    if (resync) {
        view_->jumpTo(target);
        report();
    }
    if (!easing_.isActive()) {
        sinceEase_.start();
        easing_.start(16);
    }
}

void VoiceMode::ease() {
    const double seconds = std::clamp(sinceEase_.restart() / 1000.0, 0.0, 0.1);
    if (!following_ || !target_)
        return easing_.stop();
    const double position = view_->position();
    const double distance = *target_ - position;
    if (std::abs(distance) < 0.01) {
        easing_.stop();
        return;
    }
    const double limit = wordsPerLine();
    double step = distance * (1 - std::exp(-seconds / kEaseSeconds));
    if (std::abs(step) < 0.01)
        step = std::copysign(std::min(0.01, std::abs(distance)), distance);
    step = std::clamp(step, -limit, limit);
    view_->jumpTo(position + step);
    report();
}

void VoiceMode::report() {
    if (!running_ || !positions_.isOpen() || !feed_)
        return;
    const auto word = static_cast<qint64>(std::floor(view_->position()));
    if (word == lastWord_)
        return;
    lastWord_ = word;
    positions_.write(QByteArray::number(feed_->playedMs()) + ' ' + QByteArray::number(word) + '\n');
    positions_.flush();
}

void VoiceMode::finishRun() {
    if (!running_)
        return;
    running_ = false;
    report();
    int status = 0;
    if (positions_.isOpen() &&
        (positions_.error() != QFileDevice::NoError || !positions_.flush())) {
        std::fprintf(stderr, "quorvane-prompter: cannot write %s\n",
                     options_.positions.toLocal8Bit().constData());
        status = 1;
    }
    positions_.close();
    if (!options_.screenshot.isEmpty()) {
        QWidget* window = view_->window();
        if (!window->grab().save(options_.screenshot, "PNG")) {
            std::fprintf(stderr, "quorvane-prompter: cannot write %s\n",
                         options_.screenshot.toLocal8Bit().constData());
            status = 1;
        }
    }
    emit done(status);
}

// The view counts a paragraph's words with or without the words of its cues; whichever it
// does, the spoken word lands on its own word.
double VoiceMode::viewWordOf(std::size_t spoken) const {
    const SpokenWord& word = words_.spoken[spoken];
    const std::size_t count = view_->paragraphCount();
    if (count == 0)
        return 0;
    const std::size_t paragraph = std::min(word.paragraph, count - 1);
    const double start = view_->paragraphStart(paragraph);
    const double weight = view_->paragraphStart(paragraph + 1) - start;
    const auto all = static_cast<double>(std::max<std::size_t>(words_.counted[word.paragraph], 1));
    const auto bare =
        static_cast<double>(std::max<std::size_t>(words_.countedBare[word.paragraph], 1));
    double ordinal = static_cast<double>(word.ordinal);
    if (weight == bare && weight != all)
        ordinal = static_cast<double>(word.ordinalBare);
    else if (weight != all)
        ordinal = std::floor(ordinal * weight / all);
    return start + std::clamp(ordinal, 0.0, std::max(weight - 1, 0.0));
}

qint64 VoiceMode::spokenBefore(double position) const {
    qint64 low = 0;
    auto high = static_cast<qint64>(words_.spoken.size());
    while (low < high) {  // the first spoken word at or after the position
        const qint64 middle = (low + high) / 2;
        if (viewWordOf(static_cast<std::size_t>(middle)) < position - 0.25)
            low = middle + 1;
        else
            high = middle;
    }
    return low - 1;
}

double VoiceMode::wordsPerLine() const {
    const std::size_t paragraph = view_->currentParagraph();
    const double height = view_->paragraphHeight(paragraph);
    const double weight = view_->paragraphStart(paragraph + 1) - view_->paragraphStart(paragraph);
    const double line = view_->settings().fontSize * 1.3;
    if (height <= line)
        return std::max(weight, 1.0);
    return std::max(weight * line / height, 0.5);
}

bool VoiceMode::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == kKey && !(key->modifiers() & ~Qt::KeypadModifier)) {
                if (!key->isAutoRepeat())
                    setFollowing(!following_);
                return true;
            }
            setFollowing(false);  // any other key takes over at once, and does what it does
        } else if (event->type() == QEvent::Wheel) {
            setFollowing(false);
        } else if (event->type() == QEvent::Resize) {
            badge_->place();
        } else if (event->type() == QEvent::Hide && !running_) {
            setFollowing(false);  // back to the library
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace prompter::voice
