#include "platform/foundation/SystemCalls.h"

#include <sys/random.h>

#include <atomic>

namespace platform {
namespace {
SystemCalls gRealCalls;
std::atomic<SystemCalls*> gCurrent{nullptr};
}  // namespace

ssize_t SystemCalls::getrandom(void* buffer, std::size_t count, unsigned int flags) {
    return ::getrandom(buffer, count, flags);
}

SystemCalls& SystemCalls::current() {
    SystemCalls* installed = gCurrent.load(std::memory_order_acquire);
    return installed ? *installed : gRealCalls;
}

SystemCalls* SystemCalls::install(SystemCalls* calls) {
    return gCurrent.exchange(calls, std::memory_order_acq_rel);
}

}  // namespace platform
