// PromptView: a script scrolling past a reading line, large, for a presenter to read aloud.
//
// Contents:
//   1. Position: words read, a function of the clock (PromptMotion). Each paragraph spans as
//      many words as it holds (an empty one counts as one; cues count none), as the script's
//      index (ScriptIndex) says, and inside a paragraph the words spread evenly over its
//      laid-out height, so the speed is in words per minute whatever the font size and the
//      width, and changing either keeps the place.
//   2. Drawing: once per frame, from the clock, only the paragraphs that show (TextBlocks), kept
//      rasterised from frame to frame so that a frame which only moves the text draws only the
//      rows coming into sight (KeptPicture); the title line bold, section headings bold and larger,
//      cues in the cue colour; the reading line; a band at the top with the speed, the state,
//      progress, time elapsed and time left, and a progress bar at the bottom, which the script
//      never passes under; the countdown above the reading line, over nothing the presenter reads
//      next; the whole view mirrored on request (for beam-splitter glass).
//   A script of more than kIndexedAtOnce bytes shows at once: its first paragraphs are indexed
//      before the first frame and the rest on a thread of its own (ScriptIndexing). One still
//      being read shows from its first kHeadBytes, read first; that thread reads the whole and
//      then indexes it, from the moment the first frame is drawn (which has the processors to
//      itself: a read of 100 MB beside it would slow it by half) or kReadAtLatestMs after it
//      was given, whichever comes first. A text read that no longer starts as the one shown is
//      taken as an edit would be. Meanwhile the
//      band says the words are being counted in place of progress and time left, and a jump
//      that needs the whole index (End, the sections, a paragraph or a place past those indexed)
//      waits for it, as does every jump asked for after it, in the order asked.
//   3. Keys: Space, B and "." pause and resume (and skip a countdown); Up/Down and the wheel
//      change the speed; Ctrl+Plus/Minus the size; H and V mirror; Home/End, PageUp/PageDown
//      (a screen; what presentation clickers send), Left/Right (a paragraph holding text), 1-9
//      (sections 1 to 9), Ctrl+PageUp/PageDown (the previous, the next section) jump; S shows
//      the sections to choose from; Escape leaves.
#pragma once

#include <QMenu>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "prompter/KeptPicture.h"
#include "prompter/PromptClock.h"
#include "prompter/PromptMotion.h"
#include "prompter/PrompterSettings.h"
#include "prompter/ScriptFile.h"
#include "prompter/ScriptIndex.h"
#include "qttext/TextBlocks.h"
#include "qttext/TextSource.h"

namespace prompter {

class PromptView : public QWidget {
    Q_OBJECT

  public:
    static constexpr double kSpeedStep = 10;  // words per minute per key press or wheel notch
    static constexpr int kFontStep = 4;       // pixels per Ctrl+Plus or Ctrl+Minus
    // A script up to this size is indexed whole before it shows (a few milliseconds); a bigger
    // one shows from the index of its first kHeadBytes while the rest is indexed.
    static constexpr std::uint64_t kIndexedAtOnce = std::uint64_t{1} << 20;
    static constexpr std::uint64_t kHeadBytes = std::uint64_t{256} << 10;
    static constexpr int kReadAtLatestMs = 200;

    explicit PromptView(std::shared_ptr<const PromptClock> clock, QWidget* parent = nullptr);
    ~PromptView() override;  // stops an index being made, and waits for its thread

    // Shows `script` from its start, still. Call start() to count down and move.
    void setScript(std::shared_ptr<const qttext::TextSource> script);
    // The same for a script read by ScriptFile::start(): whole, or its start (more than
    // kHeadBytes of it) with the rest to read on the index's thread (see isReading()).
    void setScript(ScriptFile::Start script);
    // A new version of the script shown (edited): moving or not as before, the reading line on
    // the same words. An edit above the reading line shifts nothing on screen; one in the
    // paragraph being read puts the reading line at the start of that paragraph.
    void replaceScript(std::shared_ptr<const qttext::TextSource> script);
    void setSettings(const PrompterSettings& settings);
    [[nodiscard]] const PrompterSettings& settings() const { return settings_; }
    // The script shown, as given.
    [[nodiscard]] const std::shared_ptr<const qttext::TextSource>& script() const { return plain_; }

    void start();  // the countdown, then movement
    void pause();
    void resume();
    void togglePause();
    void setSpeed(double wordsPerMinute);
    // Who moves the text while the clock stands still (the voice): the band names it in place of
    // "Paused" or "Ready", so a presenter never reads "Paused" while the text follows them.
    // Empty when nobody does.
    void setSteeredBy(const QString& who);
    // The state the band shows at its left: speed, what moves the text (or that nothing does),
    // and the section being read.
    [[nodiscard]] QString bandState() const;
    // What the band says at its right: progress, time elapsed and time left (or, while the
    // index is made, that the words are being counted).
    [[nodiscard]] QString bandTimes() const;
    void setFontSize(int pixels);
    void setMirror(Mirror mirror);
    void jumpTo(double words);
    void jumpToEnd();
    void jumpToParagraph(std::size_t index);
    void jumpByScreens(double screens);
    // By `count` paragraphs holding text (blank lines are passed over); back to the start of
    // the paragraph being read first when it is under way.
    void jumpByParagraphs(int count);
    // To section `index` (counted from 0) when there is one.
    void jumpToSection(std::size_t index);
    // The sections, numbered, each an action that jumps to it (S shows it while prompting).
    [[nodiscard]] std::unique_ptr<QMenu> sectionMenu();
    // To the next (1) or the previous (-1) section heading; back to the start of the section
    // being read first when it is under way.
    void jumpBySections(int count);

    [[nodiscard]] double position() const { return motion_.position(clock_->milliseconds()); }
    [[nodiscard]] const PromptMotion& motion() const { return motion_; }
    // While isIndexing(), the paragraphs indexed so far (the script's start).
    [[nodiscard]] std::size_t paragraphCount() const { return blocks_.count(); }
    // Where paragraph `index` is in the script's bytes (without its line break).
    [[nodiscard]] qttext::TextBlocks::Block paragraph(std::size_t index) const {
        return blocks_.block(index);
    }
    // The script's paragraphs, sections and cues; while isIndexing(), those of its start.
    [[nodiscard]] const ScriptIndex& index() const { return index_; }
    // Whether the script's index is still being made (see indexed()).
    [[nodiscard]] bool isIndexing() const { return indexing_ != nullptr || reading_; }
    // Whether script() is only the start of the script, the rest still being read (and then
    // indexed: isIndexing() too). Once it is read, script() is the whole and scriptChanged().
    [[nodiscard]] bool isReading() const { return reading_; }
    // The word at which paragraph `index` starts.
    [[nodiscard]] double paragraphStart(std::size_t index) const {
        return index_.paragraphStart(index);
    }
    // A paragraph's laid-out height in pixels at the current size and width.
    [[nodiscard]] double paragraphHeight(std::size_t index) { return blocks_.height(index); }
    // Pixels from the top of the view to the reading line.
    [[nodiscard]] double readingLineY() const { return height() * settings_.readingLine; }
    // The paragraph at the reading line.
    [[nodiscard]] std::size_t currentParagraph() const;
    // Minutes left at the current speed (of the part indexed, while isIndexing()).
    [[nodiscard]] double minutesLeft() const;
    // Seconds since the countdown ended (pauses included), 0 before.
    [[nodiscard]] double elapsedSeconds() const;
    // Where the script is drawn: between the band at the top and the progress bar.
    [[nodiscard]] QRectF textArea() const;
    // Where the countdown is drawn while it runs (above the reading line).
    [[nodiscard]] QRectF countdownArea() const;
    [[nodiscard]] std::size_t framesDrawn() const { return framesDrawn_; }
    [[nodiscard]] std::size_t layoutsMade() const { return blocks_.layoutsMade(); }
    [[nodiscard]] bool isFrameTimerActive() const { return frameTimer_.isActive(); }
    // Whether a frame that only moves the text moves the picture kept from the frames before
    // (KeptPicture; the default) or draws every row of text again. Both give the same pixels.
    void setKeepsPicture(bool keeps);
    // The next frame of movement, now, as the frame timer draws it: where only the text's place
    // changed, the window's picture is moved and only the rows that uncovers, the reading line
    // and the bands are drawn again.
    void showNextFrame();
    // Rows of the text area rasterised so far, on screen or into the kept picture.
    [[nodiscard]] std::uint64_t textRowsDrawn() const { return textRowsDrawn_; }

  signals:
    void speedChanged(double wordsPerMinute);
    void fontSizeChanged(int pixels);
    void mirrorChanged(prompter::Mirror mirror);
    void leaveRequested();
    void frameDrawn();
    // setScript() showed another script (not an edit of the one shown).
    void scriptShown();
    // A script was given or replaced (an edit): script() holds the new text.
    void scriptChanged();
    // The whole index of the script shown is made (isIndexing() was true): its length,
    // paragraphs and sections are all known now.
    void indexed();
    // The rest of a script shown while it was read could not be read (`message` says which
    // and why, in words for the window): its start stays all there is.
    void readFailed(const QString& message);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

  private:
    struct Place {
        std::size_t paragraph = 0;
        double offset = 0;  // pixels below the paragraph's top
    };

    void indexWords(ScriptIndexing::Read rest = {});
    void showFromStart();
    // Starts reading the rest of a script shown from its start (see isReading()).
    void readRest();
    void takeIndex();
    [[nodiscard]] std::function<void()> takeIndexLater();
    // Runs `jump` now, or once the whole index is made when it needs it (`needsWhole`) or a
    // jump asked for before still waits; true when it waits.
    bool waitForIndex(bool needsWhole, std::function<void()> jump);
    void syncLayout();
    void syncFrameTimer();
    [[nodiscard]] Place placeOf(double words);
    [[nodiscard]] double wordsAt(Place place);
    [[nodiscard]] double weight(std::size_t paragraph) const { return index_.weight(paragraph); }
    [[nodiscard]] double bandHeight() const;
    [[nodiscard]] double barHeight() const;
    void restyle();
    [[nodiscard]] bool moveShownText(double now, double words);
    // The band's right side: progress, time elapsed and time left.
    [[nodiscard]] QString bandTimes(double now, double words) const;
    // All the band says.
    [[nodiscard]] QString bandShown(double now, double words) const;
    // The rows the reading line's pointers cover in `frame` (the view's, mirrored as it is).
    [[nodiscard]] QRect readingLineRows(const KeptPicture::Frame& frame) const;
    // Where the text goes in a frame at `words`, in the device pixels of a paint device.
    [[nodiscard]] KeptPicture::Frame frameAt(double words, qreal devicePixelRatio);
    void drawOverlay(QPainter& painter, double now, double words);
    [[nodiscard]] QString stateAt(double now, double words) const;

    std::shared_ptr<const PromptClock> clock_;
    PromptMotion motion_;
    PrompterSettings settings_;
    qttext::TextBlocks blocks_;
    std::shared_ptr<const qttext::TextSource> plain_;  // the script as given
    ScriptIndex index_;
    std::unique_ptr<ScriptIndexing> indexing_;  // the whole index being made, see isIndexing()
    bool reading_ = false;                      // see isReading()
    ScriptIndexing::Read rest_;                 // while reading, until the read starts
    QTimer readTimer_;                          // when it starts at the latest
    std::function<void()> waitingJumps_;        // asked for while indexing, see waitForIndex()
    double startedAt_ = -1;  // the clock when the countdown ended; -1 before a start
    QTimer frameTimer_;
    std::size_t framesDrawn_ = 0;
    QString steeredBy_;  // see setSteeredBy()
    KeptPicture picture_;
    bool keepsPicture_ = true;
    // The frame the window shows (the last one painted whole on screen, or moved since), at
    // the clock's `shownNow_`; and whether rows a moved frame uncovered still wait to be painted.
    std::optional<KeptPicture::Frame> shown_;
    double shownNow_ = 0;
    double shownWords_ = 0;
    bool movePending_ = false;
    QString shownBand_;  // bandShown() of the frame the window shows
    std::uint64_t textRowsDrawn_ = 0;
};

}  // namespace prompter
