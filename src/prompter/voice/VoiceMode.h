// VoiceMode: follow-my-voice for the prompting view, through its public calls only.
//
// While it is on, the view's own movement is paused and its place is the presenter's: the word
// they have just said sits on the reading line. The view eases towards that word, never more
// than a line per frame, except for a confirmed re-sync (a paragraph skipped or gone back to),
// which jumps. Silence and ad-libs hold it where it is. F turns it on and off; any other key,
// a clicker or the wheel takes over at once (the key does what it always does) and F resumes
// from wherever the view then is. A badge in the status band says it is on, with the
// microphone's level, or says why it cannot be.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

#include "prompter/PromptView.h"
#include "prompter/voice/AudioFeed.h"
#include "prompter/voice/ScriptWords.h"

namespace prompter::voice {

class VoiceFollower;
class VoiceBadge;

struct VoiceOptions {
    QString audioFile;    // empty: the microphone
    QString microphone;   // a part of its name; empty: the default one
    QString modelFolder;  // empty: the packaged English model
    QString positions;    // a file for the positions trace (with audioFile); then the program
                          // ends a second after the audio
    QString screenshot;   // with positions: the window's picture at the end
};

class VoiceMode : public QObject {
    Q_OBJECT

  public:
    static constexpr Qt::Key kKey = Qt::Key_F;
    static constexpr double kEaseSeconds = 0.2;  // time constant of the easing

    VoiceMode(PromptView* view, VoiceOptions options, QObject* parent = nullptr);
    ~VoiceMode() override;

    // The view shows another script: its words are taken from the bytes it shows (the script is
    // not read again). Called by itself whenever the view is given a script.
    void prompting();
    void setFollowing(bool on);
    [[nodiscard]] bool isFollowing() const { return following_; }
    // Another microphone or model (chosen in the settings): used from now on, following again
    // at once with them when it was following.
    void setVoice(const QString& microphone, const QString& modelFolder);

  signals:
    // A run with a positions trace is over: the program ends with `status`.
    void done(int status);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void readWords();
    // Following starts: the words read, the follower made; once the whole script is read.
    void follow();
    void startFollower();
    void stopFollower();
    void onReady(const QString& problem);
    void onMoved(qint64 spoken, bool resync, qint64 audioMs);
    void ease();
    void report();
    void fail(const QString& problem);
    void finishRun();
    [[nodiscard]] double viewWordOf(std::size_t spoken) const;
    [[nodiscard]] qint64 spokenBefore(double position) const;
    [[nodiscard]] double wordsPerLine() const;

    PromptView* view_;
    VoiceOptions options_;
    ScriptWords words_;
    bool hasScript_ = false;
    bool wordsRead_ = false;  // words_ are the script's (see readWords())
    bool following_ = false;
    bool ready_ = false;
    QThread thread_;
    QPointer<VoiceFollower> follower_;
    std::unique_ptr<AudioFeed> feed_;
    VoiceBadge* badge_;
    QTimer easing_;
    QElapsedTimer sinceEase_;
    std::optional<double> target_;
    QFile positions_;
    qint64 lastWord_ = -1;
    bool running_ = false;  // a run with a positions trace
};

}  // namespace prompter::voice
