#include "prompter/voice/AudioFeed.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <algorithm>
#include <cmath>
#include <vector>

namespace prompter::voice {

void AudioFeed::deliver(const std::int16_t* data, std::size_t count, qint64 audioMs) {
    if (count == 0)
        return;
    double energy = 0;
    for (std::size_t i = 0; i < count; ++i)
        energy += static_cast<double>(data[i]) * data[i];
    const double rms = std::sqrt(energy / static_cast<double>(count)) / 32768.0;
    emit level(std::clamp((20 * std::log10(std::max(rms, 1e-6)) + 60) / 60, 0.0, 1.0));
    emit samples(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(count * 2)),
                 audioMs);
}

FileFeed::FileFeed(Audio audio, QObject* parent) : AudioFeed(parent), audio_(std::move(audio)) {
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &FileFeed::tick);
}

void FileFeed::start() {
    if (ended_ || timer_.isActive())
        return;
    clock_.start();
    sent_ = 0;
    timer_.start(20);
}

qint64 FileFeed::playedMs() const {
    return static_cast<qint64>(sent_ * 1000 / kSampleRate);
}

void FileFeed::tick() {
    const auto due = std::min<std::size_t>(
        audio_.samples.size(), static_cast<std::size_t>(clock_.nsecsElapsed() / 1e9 * kSampleRate));
    if (due > sent_) {
        const std::size_t from = sent_;
        sent_ = due;
        deliver(audio_.samples.data() + from, due - from, playedMs());
    }
    if (sent_ >= audio_.samples.size()) {
        timer_.stop();
        ended_ = true;
        emit ended();
    }
}

MicrophoneFeed::MicrophoneFeed(QString name, QObject* parent)
    : AudioFeed(parent), name_(std::move(name)) {}

QStringList MicrophoneFeed::names() {
    QStringList names;
    for (const QAudioDevice& input : QMediaDevices::audioInputs())
        names << input.description();
    return names;
}

void MicrophoneFeed::start() {
    if (source_)
        return;
    const QList<QAudioDevice> inputs = QMediaDevices::audioInputs();
    QAudioDevice device;
    if (name_.isEmpty()) {
        device = QMediaDevices::defaultAudioInput();
    } else {
        for (const QAudioDevice& input : inputs)
            if (input.description().contains(name_, Qt::CaseInsensitive) ||
                QString::fromUtf8(input.id()) == name_) {
                device = input;
                break;
            }
    }
    if (device.isNull()) {
        QStringList names;
        for (const QAudioDevice& input : inputs)
            names << input.description();
        emit failed(inputs.isEmpty()
                        ? QStringLiteral("No microphone: plug one in, or check the sound settings.")
                        : QStringLiteral("No microphone is called \"%1\" (there are: %2).")
                              .arg(name_, names.join(QStringLiteral(", "))));
        return;
    }
    QAudioFormat wanted;
    wanted.setSampleRate(kSampleRate);
    wanted.setChannelCount(1);
    wanted.setSampleFormat(QAudioFormat::Int16);
    format_ = device.isFormatSupported(wanted) ? wanted : device.preferredFormat();
    source_ = std::make_unique<QAudioSource>(device, format_);
    source_->setBufferSize(format_.bytesForDuration(200000));
    connect(source_.get(), &QAudioSource::stateChanged, this, [this, device](QAudio::State state) {
        if (state != QAudio::StoppedState || !source_ || source_->error() == QAudio::NoError)
            return;
        const QString what =
            source_->error() == QAudio::OpenError
                ? QStringLiteral(
                      "The microphone \"%1\" cannot be opened: another program may "
                      "be using it.")
                : QStringLiteral("The microphone \"%1\" stopped.");
        stop();
        emit failed(what.arg(device.description()));
    });
    device_ = source_->start();
    if (!device_) {
        stop();
        emit failed(QStringLiteral("The microphone \"%1\" cannot be opened: another program may "
                                   "be using it.")
                        .arg(device.description()));
        return;
    }
    connect(device_, &QIODevice::readyRead, this, &MicrophoneFeed::read);
}

void MicrophoneFeed::stop() {
    if (!source_)
        return;
    auto source = std::move(source_);
    source->disconnect(this);
    source->stop();
    device_ = nullptr;
}

void MicrophoneFeed::read() {
    if (!device_)
        return;
    const QByteArray bytes = device_->readAll();
    const int channels = std::max(format_.channelCount(), 1);
    const int width = std::max(format_.bytesPerSample(), 1);
    const auto count = static_cast<std::size_t>(bytes.size() / width / channels * channels);
    if (count == 0)
        return;
    if (format_.sampleRate() == kSampleRate && channels == 1 &&
        format_.sampleFormat() == QAudioFormat::Int16) {
        delivered_ += count;
        deliver(reinterpret_cast<const std::int16_t*>(bytes.constData()), count, playedMs());
        return;
    }
    // Another format the device prefers: to floats, then to what the recogniser hears. Each
    // block is resampled on its own; at a block's edge that costs less than a sample.
    std::vector<float> values(count);
    for (std::size_t i = 0; i < count; ++i)
        values[i] =
            format_.normalizedSampleValue(bytes.constData() + i * static_cast<std::size_t>(width));
    const std::vector<std::int16_t> converted =
        toRecognisable(values, format_.sampleRate(), channels);
    delivered_ += converted.size();
    deliver(converted.data(), converted.size(), playedMs());
}

}  // namespace prompter::voice
