// MediaClock: the monotonic media clock (CACurrentMediaTime).
//
// Seconds on a clock that never goes back and ignores changes of the wall-clock time. Tests set
// it to chosen readings so that anything timed by it is deterministic.
#pragma once

#include <optional>

namespace platform {

class MediaClock {
  public:
    // CACurrentMediaTime: the overriding reading when one is set, else the system's monotonic
    // clock in seconds.
    [[nodiscard]] static double now();

    // Makes now() read `seconds` until cleared with std::nullopt. Any thread.
    static void setOverride(std::optional<double> seconds);
};

}  // namespace platform
