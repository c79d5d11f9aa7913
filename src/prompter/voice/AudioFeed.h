// AudioFeed: where the voice's audio comes from, 16 kHz mono 16-bit, as it happens: a WAV file
// played at its real pace (to rehearse with a recording, and for tests), or a microphone through
// Qt Multimedia. Audio goes only to the recogniser in this process: never to disk or the network.
#pragma once

#include <QAudioSource>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "prompter/voice/WavAudio.h"

namespace prompter::voice {

class AudioFeed : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;
    virtual void start() = 0;
    virtual void stop() = 0;
    // Milliseconds of audio delivered so far.
    [[nodiscard]] virtual qint64 playedMs() const = 0;

  signals:
    void samples(const QByteArray& samples, qint64 audioMs);
    void level(double loudness);  // 0 (silence, -60 dBFS and below) to 1 (full scale)
    void ended();
    void failed(const QString& problem);

  protected:
    void deliver(const std::int16_t* data, std::size_t count, qint64 audioMs);
};

// A file's audio at its real pace: what is due by the clock is sent every 20 ms.
class FileFeed : public AudioFeed {
    Q_OBJECT

  public:
    FileFeed(Audio audio, QObject* parent = nullptr);
    void start() override;
    void stop() override { timer_.stop(); }
    [[nodiscard]] qint64 playedMs() const override;

  private:
    void tick();

    Audio audio_;
    std::size_t sent_ = 0;
    QTimer timer_;
    QElapsedTimer clock_;
    bool ended_ = false;
};

// A microphone, chosen by a part of its name (empty: the default one).
class MicrophoneFeed : public AudioFeed {
    Q_OBJECT

  public:
    MicrophoneFeed(QString name, QObject* parent = nullptr);
    // The names of the microphones there are, as a name is matched against them.
    [[nodiscard]] static QStringList names();
    void start() override;
    void stop() override;
    [[nodiscard]] qint64 playedMs() const override {
        return static_cast<qint64>(delivered_ * 1000 / kSampleRate);
    }

  private:
    void read();

    QString name_;
    std::unique_ptr<QAudioSource> source_;
    QPointer<QIODevice> device_;
    QAudioFormat format_;
    std::size_t delivered_ = 0;
};

}  // namespace prompter::voice
