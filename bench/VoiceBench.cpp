// Voice-following's cost: the recogniser and the aligner (VoiceFollower) fed a reading as fast
// as they take it, in 20 ms blocks as the audio arrives, on this one thread. Reports the time to
// load the model, the processor time per second of audio (recognition cost against real time)
// and the words followed.
//
// With --frames: the prompting view at 1920x1080 (Qt's headless platform) following the reading
// played at its own pace, the recogniser on its thread as in the program; each frame drawn 60
// times a second and what it cost, while the voice moves the text.
//
//   voice_bench SCRIPT WAV [--trace]     (--trace: each move, "AUDIO_MS SPOKEN_WORD")
//   voice_bench --frames SCRIPT WAV
#include <time.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <variant>

#include "FrameCosts.h"
#include "prompter/PromptView.h"
#include "prompter/ScriptFile.h"
#include "prompter/voice/ScriptWords.h"
#include "prompter/voice/VoiceFollower.h"
#include "prompter/voice/VoiceMode.h"
#include "prompter/voice/WavAudio.h"
#include "qttext/PlainTextSource.h"

namespace {

double cpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The view following the reading in WAV as the program follows it; frames drawn at 60 a second
// until the reading is over.
int measureFrames(const char* script, const char* wav) {
    const QString path = QString::fromLocal8Bit(script);
    auto read = prompter::ScriptFile::read(path);
    if (auto* failure = std::get_if<prompter::ScriptReadError>(&read)) {
        std::fprintf(stderr, "voice_bench: %s\n", failure->message.toLocal8Bit().constData());
        return 1;
    }
    auto clock = std::make_shared<bench::FrameClock>();
    prompter::PromptView view(clock);
    view.resize(1920, 1080);
    view.show();
    view.setScript(std::make_shared<qttext::PlainTextSource>(
        std::get<std::shared_ptr<const std::string>>(std::move(read))));
    QApplication::processEvents();

    // A positions trace makes the mode end the run a second after the reading.
    QTemporaryDir folder;
    prompter::voice::VoiceOptions options;
    options.audioFile = QString::fromLocal8Bit(wav);
    options.positions = folder.path() + QStringLiteral("/positions");
    prompter::voice::VoiceMode mode(&view, options);
    int status = 0;
    QObject::connect(&mode, &prompter::voice::VoiceMode::done, [&status](int result) {
        status = result;
        QCoreApplication::quit();
    });
    mode.prompting();
    mode.setFollowing(true);

    bench::FrameCosts costs;
    bench::FrameCosts moving;  // the frames where the voice had moved the text since the last
    double last = view.position();
    QTimer frames;
    frames.setTimerType(Qt::PreciseTimer);
    QObject::connect(&frames, &QTimer::timeout, [&] {
        clock->now += 1000.0 / 60;
        const bool moved = view.position() != last;
        last = view.position();
        const auto frame = costs.measure([&view] { view.repaint(); });
        if (moved)
            moving.add(frame);
    });
    frames.start(1000 / 60);
    QApplication::exec();
    if (status != 0)
        return status;
    const auto line = [](const char* label, const bench::FrameCosts& measured) {
        const bench::Costs c = measured.costs();
        std::printf("%-25s %.2f / %.2f ms (processor %.2f / %.2f ms) over %zu frames\n", label,
                    c.median, c.worst, c.cpuMedian, c.cpuWorst, measured.count());
    };
    line("frame, following", costs);
    line("frame, moved by voice", moving);
    std::printf("last word reached         %.0f of %.0f\n", view.position(),
                view.motion().length());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--frames") == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        QApplication application(argc, argv);
        return measureFrames(argv[2], argv[3]);
    }
    QCoreApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: voice_bench SCRIPT WAV [--trace]\n"
                     "       voice_bench --frames SCRIPT WAV\n");
        return 2;
    }
    const bool trace = argc > 3 && std::strcmp(argv[3], "--trace") == 0;
    QFile scriptFile(QString::fromLocal8Bit(argv[1]));
    if (!scriptFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "voice_bench: cannot read %s\n", argv[1]);
        return 1;
    }
    const QByteArray text = scriptFile.readAll();
    auto read = prompter::voice::readWav(QString::fromLocal8Bit(argv[2]));
    if (auto* problem = std::get_if<QString>(&read)) {
        std::fprintf(stderr, "voice_bench: %s\n", problem->toLocal8Bit().constData());
        return 1;
    }
    const auto audio = std::get<prompter::voice::Audio>(std::move(read));
    const auto words =
        prompter::voice::ScriptWords::read(std::string_view(text.constData(), text.size()));

    prompter::voice::VoiceFollower follower(words, QString());
    QString problem;
    QObject::connect(&follower, &prompter::voice::VoiceFollower::ready,
                     [&problem](const QString& text) { problem = text; });
    qint64 last = -1;
    std::size_t moves = 0;
    QObject::connect(&follower, &prompter::voice::VoiceFollower::moved,
                     [&](qint64 spoken, bool resync, qint64 ms) {
                         last = spoken;
                         ++moves;
                         if (trace)
                             std::printf("%lld %lld%s\n", static_cast<long long>(ms),
                                         static_cast<long long>(spoken), resync ? " resync" : "");
                     });
    const auto wallStart = std::chrono::steady_clock::now();
    follower.start();
    const double loadMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wallStart)
            .count();
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "voice_bench: %s\n", problem.toLocal8Bit().constData());
        return 1;
    }
    follower.setPlace(-1);
    constexpr std::size_t kBlock = prompter::voice::kSampleRate / 50;  // 20 ms
    const double cpuStart = cpuSeconds();
    for (std::size_t at = 0; at < audio.samples.size(); at += kBlock) {
        const std::size_t count = std::min(kBlock, audio.samples.size() - at);
        follower.hear(QByteArray(reinterpret_cast<const char*>(audio.samples.data() + at),
                                 static_cast<qsizetype>(count * 2)),
                      static_cast<qint64>((at + count) * 1000 / prompter::voice::kSampleRate));
    }
    follower.finish();
    const double cpu = cpuSeconds() - cpuStart;
    const double seconds = audio.milliseconds() / 1000;
    std::printf("model loaded            %10.0f ms\n", loadMs);
    std::printf("audio                   %10.1f s\n", seconds);
    std::printf("recognition processor   %10.2f s\n", cpu);
    std::printf("against real time       %10.3f x\n", cpu / seconds);
    std::printf("spoken words            %10zu\n", words.spoken.size());
    std::printf("last word followed      %10lld\n", static_cast<long long>(last));
    std::printf("moves                   %10zu\n", moves);
    return 0;
}
