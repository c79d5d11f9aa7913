#include "platform/ui/MediaClock.h"

#include <chrono>
#include <mutex>

namespace platform {
namespace {

std::mutex gMutex;
std::optional<double> gOverride;

}  // namespace

double MediaClock::now() {
    {
        std::lock_guard lock(gMutex);
        if (gOverride)
            return *gOverride;
    }
    using Seconds = std::chrono::duration<double>;
    return std::chrono::duration_cast<Seconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void MediaClock::setOverride(std::optional<double> seconds) {
    std::lock_guard lock(gMutex);
    gOverride = seconds;
}

}  // namespace platform
