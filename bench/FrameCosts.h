// What a frame of the prompting view costs: the wall-clock time and this thread's processor
// time of each synchronous repaint, summed up as the median and the worst. Shared by the
// teleprompter's benchmarks.
#pragma once

#include <time.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "prompter/PromptClock.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// This thread's processor time, in milliseconds: what a frame costs whatever else the machine
// runs at the same time.
inline double cpuMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The bench's own clock: each frame is 1/60 s after the last, whatever the frame cost.
class FrameClock : public prompter::PromptClock {
  public:
    double now = 0;
    [[nodiscard]] double milliseconds() const override { return now; }
};

struct Costs {
    double median;
    double worst;
    double cpuMedian;
    double cpuWorst;
};

// Each frame's cost, gathered as frames are drawn.
class FrameCosts {
  public:
    struct Frame {
        double wall;
        double cpu;
    };
    // Draws one frame with `draw`, keeps what it cost and returns it.
    template <typename Draw>
    Frame measure(Draw&& draw) {
        const auto start = Clock::now();
        const double cpuStart = cpuMilliseconds();
        draw();
        const Frame frame{millisecondsSince(start), cpuMilliseconds() - cpuStart};
        add(frame);
        return frame;
    }
    // Keeps a frame measured elsewhere (a subset of frames told apart).
    void add(Frame frame) {
        wall_.push_back(frame.wall);
        cpu_.push_back(frame.cpu);
    }
    [[nodiscard]] std::size_t count() const { return wall_.size(); }
    [[nodiscard]] Costs costs() const {
        std::vector<double> wall = wall_;
        std::vector<double> cpu = cpu_;
        if (wall.empty())
            return {0, 0, 0, 0};
        std::sort(wall.begin(), wall.end());
        std::sort(cpu.begin(), cpu.end());
        return {wall[wall.size() / 2], wall.back(), cpu[cpu.size() / 2], cpu.back()};
    }

  private:
    std::vector<double> wall_;
    std::vector<double> cpu_;
};

}  // namespace bench
