// Preloaded into a reader (LD_PRELOAD), this renames something over a text's name once the
// reader has locked (held) the text: QUORVANE_SWAP_FROM is renamed to QUORVANE_SWAP_TO right
// after the first exclusive flock that succeeds, or, with QUORVANE_SWAP_AT=pread, at the first
// pread after it (while the reader is using what it holds). As a folder-sync tool puts a newer
// version in place or an attacker plants a link: the tests use it to prove that what is handed
// over is the file held, never whatever is at its name now. With QUORVANE_SWAP_KILL=after-move
// the reader is SIGKILLed right after its first rename once it holds the text, to show what a
// reader killed in the middle of a move leaves behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
std::atomic<bool> gHeld{false};
std::atomic<bool> gSwapped{false};

void swap() {
    const char* from = std::getenv("QUORVANE_SWAP_FROM");
    const char* to = std::getenv("QUORVANE_SWAP_TO");
    if (from && to && !gSwapped.exchange(true))
        (void)std::rename(from, to);
}

bool swapAtRead() {
    const char* at = std::getenv("QUORVANE_SWAP_AT");
    return at && std::strcmp(at, "pread") == 0;
}
}  // namespace

extern "C" {

__attribute__((visibility("default"))) int flock(int fd, int operation) {
    const long result = ::syscall(SYS_flock, fd, operation);
    if (result == 0 && (operation & LOCK_EX)) {
        gHeld = true;
        if (!swapAtRead())
            swap();
    }
    return static_cast<int>(result);
}

__attribute__((visibility("default"))) int renameat2(int fromFolder, const char* from, int toFolder,
                                                     const char* to, unsigned int flags) {
    const long result = ::syscall(SYS_renameat2, fromFolder, from, toFolder, to, flags);
    const char* kill = std::getenv("QUORVANE_SWAP_KILL");
    if (result == 0 && gHeld && kill && std::strcmp(kill, "after-move") == 0)
        (void)::raise(SIGKILL);
    return static_cast<int>(result);
}

__attribute__((visibility("default"))) ssize_t pread(int fd, void* buffer, size_t count,
                                                     off_t offset) {
    if (gHeld && swapAtRead())
        swap();
    return static_cast<ssize_t>(::syscall(SYS_pread64, fd, buffer, count, offset));
}

__attribute__((visibility("default"))) ssize_t pread64(int fd, void* buffer, size_t count,
                                                       off_t offset) {
    return pread(fd, buffer, count, offset);
}

}  // extern "C"
