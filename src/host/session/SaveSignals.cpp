#include "host/session/SaveSignals.h"

#include "handover/ShareContract.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/SystemCalls.h"

namespace host {
namespace {

constexpr int kWatchedSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Where the share stands, as the watcher and the naming calls see it (under gLock).
enum class Stage {
    open,      // nothing named yet: a signal ends the program
    naming,    // a text's name is being given: a signal is held
    named,     // a text has its name: a signal is held until the report
    stopping,  // a signal is ending the program: no name is given any more
};

std::mutex gLock;
Stage gStage = Stage::open;
int gHeld = 0;  // the first signal held
std::atomic<bool> gInterruptCloses{false};
std::atomic<bool> gCloseRequested{false};
sigset_t gWatched;

// Ends the program with `signal` as its disposition says (the terminal's handler first, when
// one is entered), from the calling thread.
[[noreturn]] void actOn(int signal) {
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    ::pthread_kill(::pthread_self(), signal);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    // A handler that returned (one that only restored the terminal passes the signal on to
    // the default action, which ends the program): end it the default way.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::pthread_kill(::pthread_self(), signal);
    for (;;)
        ::pause();
}

void watch() {
    for (;;) {
        int signal = 0;
        if (const int error = ::sigwait(&gWatched, &signal); error != 0) {
            if (error == EINTR)
                continue;
            return;
        }
        if (signal == SIGINT && gInterruptCloses.load()) {
            gCloseRequested = true;
            continue;
        }
        {
            const std::lock_guard lock(gLock);
            if (gStage == Stage::naming || gStage == Stage::named) {
                if (gHeld == 0)
                    gHeld = signal;
                continue;
            }
            gStage = Stage::stopping;
        }
        actOn(signal);
    }
}

// The platform's system calls, with the naming of a text marked.
class NamingWatch : public platform::SystemCalls {
  public:
    int linkat(int fromDirectory, const char* fromPath, int toDirectory, const char* toPath,
               int flags) override {
        return named(toPath, [&] {
            return SystemCalls::linkat(fromDirectory, fromPath, toDirectory, toPath, flags);
        });
    }
    int renameat2(int fromDirectory, const char* fromPath, int toDirectory, const char* toPath,
                  unsigned int flags) override {
        return named(toPath, [&] {
            return SystemCalls::renameat2(fromDirectory, fromPath, toDirectory, toPath, flags);
        });
    }

  private:
    template <typename Call>
    int named(const char* toPath, const Call& call) {
        if (!handover::isTextName(toPath))
            return call();
        {
            const std::lock_guard lock(gLock);
            if (gStage == Stage::stopping) {
                errno = EINTR;  // the program is ending: the file never gets its name
                return -1;
            }
            if (gStage == Stage::open)
                gStage = Stage::naming;
        }
        const int result = call();
        const int saved = errno;
        int answer = 0;
        {
            const std::lock_guard lock(gLock);
            if (result == 0) {
                gStage = Stage::named;
            } else if (gStage == Stage::naming) {
                gStage = Stage::open;
                // A signal held while no name was given after all: nothing is saved, so it
                // acts as it would have.
                if (gHeld != 0) {
                    answer = gHeld;
                    gHeld = 0;
                    gStage = Stage::stopping;
                }
            }
        }
        if (answer != 0)
            actOn(answer);
        errno = saved;
        return result;
    }
};

NamingWatch gNamingWatch;

}  // namespace

void SaveSignals::start() {
    sigemptyset(&gWatched);
    sigset_t blocked;
    ::pthread_sigmask(SIG_BLOCK, nullptr, &blocked);
    for (const int signal : kWatchedSignals) {
        // Ignored or blocked by whoever started the program: it stays so.
        struct sigaction current {};
        if ((::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) ||
            sigismember(&blocked, signal) == 1)
            continue;
        sigaddset(&gWatched, signal);
    }
    platform::SystemCalls::install(&gNamingWatch);
    if (sigisemptyset(&gWatched))
        return;  // nothing to watch: no signal can interrupt the share
    ::pthread_sigmask(SIG_BLOCK, &gWatched, nullptr);
    try {
        std::thread(watch).detach();
    } catch (const std::system_error&) {
        // No thread to spare (a limit on threads): the signals act as they always did.
        ::pthread_sigmask(SIG_UNBLOCK, &gWatched, nullptr);
    }
}

void SaveSignals::setInterruptClosesShare(bool on) {
    gInterruptCloses = on;
}

bool SaveSignals::takeCloseRequest() {
    return gCloseRequested.exchange(false);
}

int SaveSignals::answerHeld(int status) {
    int held = 0;
    {
        const std::lock_guard lock(gLock);
        held = gHeld;
        if (held != 0 && !platform::FileManager::defaultManager().createdItems().empty())
            return status;
        if (held != 0)
            gStage = Stage::stopping;
    }
    if (held != 0)
        actOn(held);
    return status;
}

}  // namespace host
