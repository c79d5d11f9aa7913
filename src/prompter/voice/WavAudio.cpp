#include "prompter/voice/WavAudio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace prompter::voice {
namespace {

constexpr qint64 kMaxFileBytes = qint64{1} << 31;  // two hours of 48 kHz stereo, and more

std::uint32_t little32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t little16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

std::vector<std::int16_t> toRecognisable(const std::vector<float>& interleaved, int rate,
                                         int channels) {
    const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
    std::vector<float> mono(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        float sum = 0;
        for (int c = 0; c < channels; ++c)
            sum +=
                interleaved[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
        mono[i] = sum / static_cast<float>(channels);
    }
    if (rate > kSampleRate) {
        // Keep what is above the new rate's half out: an average over a window as long as one
        // output sample, twice (a triangle), before taking samples.
        const auto span =
            static_cast<std::size_t>(std::ceil(static_cast<double>(rate) / kSampleRate));
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<float> smooth(frames);
            double sum = 0;
            for (std::size_t i = 0; i < frames; ++i) {
                sum += mono[i];
                if (i >= span)
                    sum -= mono[i - span];
                smooth[i] = static_cast<float>(sum / static_cast<double>(std::min(i + 1, span)));
            }
            mono = std::move(smooth);
        }
    }
    const double step = static_cast<double>(rate) / kSampleRate;
    const auto count =
        frames == 0 ? 0 : static_cast<std::size_t>(std::floor((frames - 1) / step)) + 1;
    std::vector<std::int16_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double at = static_cast<double>(i) * step;
        const auto left = static_cast<std::size_t>(at);
        const std::size_t right = std::min(left + 1, frames - 1);
        const double fraction = at - static_cast<double>(left);
        const double value = mono[left] * (1 - fraction) + mono[right] * fraction;
        out[i] = static_cast<std::int16_t>(std::lround(std::clamp(value, -1.0, 1.0) * 32767));
    }
    return out;
}

std::variant<Audio, QString> decodeWav(std::string_view bytes) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() < 12 || std::memcmp(data, "RIFF", 4) != 0 ||
        std::memcmp(data + 8, "WAVE", 4) != 0)
        return QStringLiteral("not a WAV file");
    int format = 0;
    int channels = 0;
    std::uint32_t rate = 0;
    int bits = 0;
    const unsigned char* samples = nullptr;
    std::size_t sampleBytes = 0;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::uint32_t size = little32(data + at + 4);
        const std::size_t body = at + 8;
        const std::size_t available = bytes.size() - body;
        if (std::memcmp(data + at, "fmt ", 4) == 0) {
            if (size < 16 || size > available)
                return QStringLiteral("its format chunk is damaged");
            format = little16(data + body);
            channels = little16(data + body + 2);
            rate = little32(data + body + 4);
            bits = little16(data + body + 14);
            if (format == 0xFFFE && size >= 26)  // WAVE_FORMAT_EXTENSIBLE: the sub-format's tag
                format = little16(data + body + 24);
        } else if (std::memcmp(data + at, "data", 4) == 0) {
            samples = data + body;
            sampleBytes = std::min<std::size_t>(size, available);  // a recording cut short
            break;
        }
        if (size > available)
            break;
        at = body + size + (size & 1);
    }
    if (format == 0)
        return QStringLiteral("it has no format chunk");
    if (!samples)
        return QStringLiteral("it has no sound (no data chunk)");
    const bool pcm = format == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool floats = format == 3 && bits == 32;
    if (!pcm && !floats)
        return QStringLiteral(
                   "its samples are not PCM (8, 16, 24 or 32 bits) or 32-bit float "
                   "(format %1, %2 bits); convert it, for example: sox IN -r 16000 "
                   "-c 1 -b 16 OUT.wav")
            .arg(format)
            .arg(bits);
    if (channels < 1 || channels > 8)
        return QStringLiteral("it has %1 channels (1 to 8 can be mixed down)").arg(channels);
    if (rate < 8000 || rate > 192000)
        return QStringLiteral("its rate is %1 Hz (8000 to 192000 can be resampled)").arg(rate);
    const std::size_t width = static_cast<std::size_t>(bits / 8);
    const std::size_t count = sampleBytes / width / static_cast<std::size_t>(channels) *
                              static_cast<std::size_t>(channels);
    if (rate == kSampleRate && channels == 1 && bits == 16 && format == 1) {
        Audio audio;  // as the recogniser hears it already
        audio.samples.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            audio.samples[i] = static_cast<std::int16_t>(little16(samples + 2 * i));
        return audio;
    }
    std::vector<float> values(count);
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char* p = samples + i * width;
        switch (bits) {
            case 8:
                values[i] = (p[0] - 128) / 128.0f;
                break;
            case 16:
                values[i] = static_cast<std::int16_t>(little16(p)) / 32768.0f;
                break;
            case 24: {
                const std::uint32_t u = p[0] | (p[1] << 8) | (p[2] << 16);
                values[i] = static_cast<float>(static_cast<std::int32_t>(u << 8) >> 8) / 8388608.0f;
                break;
            }
            default:
                if (floats) {
                    float f = 0;
                    std::memcpy(&f, p, 4);
                    values[i] = std::isfinite(f) ? f : 0.0f;
                } else {
                    values[i] =
                        static_cast<float>(static_cast<std::int32_t>(little32(p)) / 2147483648.0);
                }
        }
    }
    Audio audio;
    audio.samples = toRecognisable(values, static_cast<int>(rate), channels);
    return audio;
}

std::variant<Audio, QString> readWav(const QString& path) {
    // Opened without blocking (a FIFO with no writer would hang here) and read only when it is a
    // regular file.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return QStringLiteral("cannot read %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > kMaxFileBytes) {
        ::close(fd);
        return QStringLiteral("%1 is not a regular file of at most 2 GB").arg(path);
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
    }
    const QByteArray bytes = file.readAll();
    auto decoded =
        decodeWav(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (auto* problem = std::get_if<QString>(&decoded))
        return QStringLiteral("%1: %2").arg(path, *problem);
    return decoded;
}

}  // namespace prompter::voice
