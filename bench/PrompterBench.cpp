// The teleprompter with a big script, on Qt's headless platform at 1920x1080: how long from
// reading the file to the first frame drawn, and what each frame costs while the script
// scrolls (at the start, in the middle, near the end, and while jumping a screen at a time).
// Peak memory is measured around it (/usr/bin/time -v), see scripts/figures.sh.
//
//   prompter_bench [MEGABYTES]        (100 by default)
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

#include "prompter/PromptView.h"
#include "prompter/ScriptFile.h"
#include "qttext/PlainTextSource.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The bench's own clock: each frame is 1/60 s after the last, whatever the frame cost.
class FrameClock : public prompter::PromptClock {
  public:
    double now = 0;
    [[nodiscard]] double milliseconds() const override { return now; }
};

void writeScript(const QString& path, std::size_t bytes) {
    const std::string line =
        "The harbour bridge reopens after two years of repairs, and the council votes tonight. ";
    std::string text = "Evening bulletin\n";
    text.reserve(bytes + line.size() * 4);
    for (std::size_t paragraph = 0; text.size() < bytes; ++paragraph) {
        for (int i = 0; i < 3; ++i)
            text += line;
        text += "Paragraph " + std::to_string(paragraph) + ".\n";
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()))
        std::abort();
}

struct Costs {
    double median;
    double worst;
};

// Frames drawn at 60 a second for `frames` frames from where the view stands.
Costs scroll(prompter::PromptView& view, FrameClock& clock, int frames) {
    std::vector<double> costs;
    for (int i = 0; i < frames; ++i) {
        clock.now += 1000.0 / 60;
        const auto start = Clock::now();
        view.repaint();
        costs.push_back(millisecondsSince(start));
    }
    std::sort(costs.begin(), costs.end());
    return {costs[costs.size() / 2], costs.back()};
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
    auto read = prompter::ScriptFile::read(path);
    const double reading = millisecondsSince(opened);
    view.setScript(std::make_shared<qttext::PlainTextSource>(
        std::get<std::shared_ptr<const std::string>>(std::move(read))));
    const double indexed = millisecondsSince(opened);
    view.repaint();
    const double firstFrame = millisecondsSince(opened);

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
    std::vector<double> jumps;
    view.jumpTo(view.motion().length() / 3);
    for (int i = 0; i < 200; ++i) {
        view.jumpByScreens(1);
        const auto start = Clock::now();
        view.repaint();
        jumps.push_back(millisecondsSince(start));
    }
    std::sort(jumps.begin(), jumps.end());

    std::printf("script                    %zu MB, %zu paragraphs, %.0f words\n", megabytes,
                view.paragraphCount(), view.motion().length());
    std::printf("read                      %.1f ms\n", reading);
    std::printf("read and indexed          %.1f ms\n", indexed);
    std::printf("first frame               %.1f ms\n", firstFrame);
    std::printf("frame, start (med/worst)  %.2f / %.2f ms\n", atStart.median, atStart.worst);
    std::printf("frame, middle             %.2f / %.2f ms\n", inMiddle.median, inMiddle.worst);
    std::printf("frame, near the end       %.2f / %.2f ms\n", nearEnd.median, nearEnd.worst);
    std::printf("frame after a screen jump %.2f / %.2f ms\n", jumps[jumps.size() / 2],
                jumps.back());
    std::printf("layouts made              %zu\n", view.layoutsMade());
    return 0;
}
