// Preloaded into a program (LD_PRELOAD), this makes a send pause for a while right after its
// file got its name: the first fsync after a successful linkat sleeps
// QUORVANE_PAUSE_AFTER_LINK_MS milliseconds (default 3000) before it syncs. The tests use it to
// send a signal while a saved text is not yet reported.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>

namespace {
std::atomic<bool> gLinked{false};
}  // namespace

extern "C" {

__attribute__((visibility("default"))) int linkat(int fromDirectory, const char* fromPath,
                                                  int toDirectory, const char* toPath, int flags) {
    const long result = ::syscall(SYS_linkat, fromDirectory, fromPath, toDirectory, toPath, flags);
    if (result == 0)
        gLinked = true;
    return static_cast<int>(result);
}

__attribute__((visibility("default"))) int fsync(int fd) {
    if (gLinked.exchange(false)) {
        const char* pause = std::getenv("QUORVANE_PAUSE_AFTER_LINK_MS");
        const long milliseconds = pause ? std::atol(pause) : 3000;
        timespec wait{milliseconds / 1000, (milliseconds % 1000) * 1000000};
        while (::nanosleep(&wait, &wait) != 0) {
        }
    }
    return static_cast<int>(::syscall(SYS_fsync, fd));
}

}  // extern "C"
