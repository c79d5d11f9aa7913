// PromptClock: where the prompter reads the time. The scroll position is a function of this
// clock alone, so tests drive it with a clock of their own.
#pragma once

#include <QElapsedTimer>

namespace prompter {

class PromptClock {
  public:
    virtual ~PromptClock() = default;
    // Milliseconds since an arbitrary start; never goes back.
    [[nodiscard]] virtual double milliseconds() const = 0;
};

// The monotonic clock of the system.
class SteadyPromptClock : public PromptClock {
  public:
    SteadyPromptClock() { timer_.start(); }
    [[nodiscard]] double milliseconds() const override { return timer_.nsecsElapsed() / 1e6; }

  private:
    QElapsedTimer timer_;
};

}  // namespace prompter
