// Stand-ins the teleprompter's suites drive by hand: a clock that moves only when told, and an
// intake that takes in nothing by itself.
#pragma once

#include "prompter/PromptClock.h"
#include "prompter/ScriptIntake.h"

namespace prompter::testing {

class FakeClock : public PromptClock {
  public:
    double now = 1000;
    [[nodiscard]] double milliseconds() const override { return now; }
};

// An intake the test feeds by hand.
class HandIntake : public ScriptIntake {
  public:
    using ScriptIntake::ScriptIntake;
    void takeWaiting() override {}
    void startWatching() override {}
};

}  // namespace prompter::testing
