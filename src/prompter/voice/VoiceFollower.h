// VoiceFollower: the recogniser and the aligner on the voice's own thread. Audio comes in by
// queued calls; the presenter's place goes out by signals. The window's thread never waits for
// it, so recognising never stalls a frame.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "prompter/voice/Aligner.h"
#include "prompter/voice/Recogniser.h"
#include "prompter/voice/ScriptWords.h"

namespace prompter::voice {

class VoiceFollower : public QObject {
    Q_OBJECT

  public:
    static constexpr std::ptrdiff_t kWordsBehind = 80;  // the language model's window
    static constexpr std::ptrdiff_t kWordsAhead = 240;
    static constexpr std::ptrdiff_t kRebuildAfter = 60;  // words moved before it is rebuilt

    VoiceFollower(ScriptWords words, QString modelFolder);
    ~VoiceFollower() override;

  public slots:
    // Loads the model (seconds, on this thread); ready() tells how it went.
    void start();
    // 16 kHz mono 16-bit samples, ending `audioMs` into the audio.
    void hear(const QByteArray& samples, qint64 audioMs);
    // The presenter's place moved by other means: `spoken` is the index in the script's spoken
    // words of the last word before it (-1: the start).
    void setPlace(qint64 spoken);
    // The audio ended.
    void finish();

  signals:
    // An empty problem: following. Otherwise what stops it, in words for the presenter.
    void ready(const QString& problem);
    // The presenter said spoken word `spoken` (an index in ScriptWords::spoken).
    void moved(qint64 spoken, bool resync, qint64 audioMs);
    void finished();

  private:
    void take(const std::vector<Hypothesis>& heard, qint64 audioMs);
    void listenAround(std::ptrdiff_t place);

    ScriptWords words_;
    QString modelFolder_;
    std::unique_ptr<Recogniser> recogniser_;
    std::vector<std::size_t> heard_;  // the spoken words it can hear, as indices in words_.spoken
    Aligner committed_;               // as of the last utterance's end
    std::ptrdiff_t reported_ = -1;
    std::ptrdiff_t windowCentre_ = 0;
};

}  // namespace prompter::voice
