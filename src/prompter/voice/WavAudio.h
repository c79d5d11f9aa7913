// WavAudio: a WAV file's sound as the recogniser hears it, 16 kHz mono 16-bit.
//
// Reads PCM at 8, 16, 24 or 32 bits and 32-bit float, any rate from 8 kHz to 192 kHz and up to
// eight channels (mixed down, resampled); anything else is refused with the reason. The whole
// file is read into memory (and never written anywhere).
#pragma once

#include <QString>
#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

namespace prompter::voice {

inline constexpr int kSampleRate = 16000;

struct Audio {
    std::vector<std::int16_t> samples;  // 16 kHz mono
    [[nodiscard]] double milliseconds() const { return samples.size() * 1000.0 / kSampleRate; }
};

// The file's contents; a message saying what is wrong when it cannot be used.
[[nodiscard]] std::variant<Audio, QString> decodeWav(std::string_view bytes);
[[nodiscard]] std::variant<Audio, QString> readWav(const QString& path);

// Samples at `rate` with `channels` interleaved, as floats from -1 to 1, to 16 kHz mono.
[[nodiscard]] std::vector<std::int16_t> toRecognisable(const std::vector<float>& interleaved,
                                                       int rate, int channels);

}  // namespace prompter::voice
