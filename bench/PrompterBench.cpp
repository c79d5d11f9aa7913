// The teleprompter with a big script, on Qt's headless platform at 1920x1080: how long from
// reading the file to the first frame drawn, and what each frame costs while the script
// scrolls (at the start, in the middle, near the end, and while jumping a screen at a time).
// Peak memory is measured around it (/usr/bin/time -v), see scripts/figures.sh.
//
//   prompter_bench [MEGABYTES]        (100 by default)
#include <time.h>
#include <unistd.h>
#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "ReportText.h"
#include "prompter/PromptView.h"
#include "prompter/ScriptFile.h"
#include "qttext/PlainTextSource.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// This thread's processor time, in milliseconds: what a frame costs whatever else the machine
// runs at the same time.
double cpuMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The bench's own clock: each frame is 1/60 s after the last, whatever the frame cost.
class FrameClock : public prompter::PromptClock {
  public:
    double now = 0;
    [[nodiscard]] double milliseconds() const override { return now; }
};

void writeScript(const QString& path, std::size_t bytes) {
    const std::string text = reportText(bytes);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()))
        std::abort();
}

struct Costs {
    double median;
    double worst;
    double cpuMedian;
    double cpuWorst;
};

Costs costsOf(std::vector<double> wall, std::vector<double> cpu) {
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], wall.back(), cpu[cpu.size() / 2], cpu.back()};
}

// Frames drawn at 60 a second for `frames` frames from where the view stands.
Costs scroll(prompter::PromptView& view, FrameClock& clock, int frames) {
    std::vector<double> wall;
    std::vector<double> cpu;
    for (int i = 0; i < frames; ++i) {
        clock.now += 1000.0 / 60;
        const auto start = Clock::now();
        const double cpuStart = cpuMilliseconds();
        view.repaint();
        cpu.push_back(cpuMilliseconds() - cpuStart);
        wall.push_back(millisecondsSince(start));
    }
    return costsOf(std::move(wall), std::move(cpu));
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    QApplication application(argc, argv);
    QTemporaryDir folder;
    const QString path = folder.path() + "/script.txt";
    writeScript(path, megabytes << 20);

    auto clock = std::make_shared<FrameClock>();
    prompter::PromptView view(clock);
    view.resize(1920, 1080);
    view.show();
    QApplication::processEvents();

    // From the file on disk to the first frame drawn.
    const auto opened = Clock::now();
    const double cpuOpened = cpuMilliseconds();
    auto read = prompter::ScriptFile::read(path);
    const double reading = millisecondsSince(opened);
    view.setScript(std::make_shared<qttext::PlainTextSource>(
        std::get<std::shared_ptr<const std::string>>(std::move(read))));
    const double indexed = millisecondsSince(opened);
    view.repaint();
    const double firstFrame = millisecondsSince(opened);
    const double firstFrameCpu = cpuMilliseconds() - cpuOpened;

    prompter::PrompterSettings settings = view.settings();
    settings.countdown = 0;
    settings.speed = 600;  // the fastest: the most new text per frame
    view.setSettings(settings);
    view.start();
    const Costs atStart = scroll(view, *clock, 600);
    view.jumpTo(view.motion().length() / 2);
    const Costs inMiddle = scroll(view, *clock, 600);
    view.jumpTo(view.motion().length() - 2000);
    const Costs nearEnd = scroll(view, *clock, 600);
    std::vector<double> jumpWall;
    std::vector<double> jumpCpu;
    view.jumpTo(view.motion().length() / 3);
    for (int i = 0; i < 200; ++i) {
        view.jumpByScreens(1);
        const auto start = Clock::now();
        const double cpuStart = cpuMilliseconds();
        view.repaint();
        jumpCpu.push_back(cpuMilliseconds() - cpuStart);
        jumpWall.push_back(millisecondsSince(start));
    }
    const Costs jumps = costsOf(std::move(jumpWall), std::move(jumpCpu));

    std::printf("script                    %zu MB, %zu paragraphs, %.0f words\n", megabytes,
                view.paragraphCount(), view.motion().length());
    std::printf("read                      %.1f ms\n", reading);
    std::printf("read and indexed          %.1f ms\n", indexed);
    std::printf("first frame               %.1f ms (processor %.1f ms)\n", firstFrame,
                firstFrameCpu);
    const auto line = [](const char* label, const Costs& costs) {
        std::printf("%-25s %.2f / %.2f ms (processor %.2f / %.2f ms)\n", label, costs.median,
                    costs.worst, costs.cpuMedian, costs.cpuWorst);
    };
    line("frame, start (med/worst)", atStart);
    line("frame, middle", inMiddle);
    line("frame, near the end", nearEnd);
    line("frame after a screen jump", jumps);
    std::printf("layouts made              %zu\n", view.layoutsMade());
    return 0;
}
