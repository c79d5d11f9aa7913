#include "platform/foundation/Dispatch.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {
namespace {

// The thread that loads the platform library is the main thread, as on the device.
const std::thread::id gMainThread = std::this_thread::get_id();

constexpr std::size_t kWorkerCount = 4;

class DispatchState {
  public:
    static DispatchState& shared() {
        static DispatchState state;
        return state;
    }

    void enqueueMain(Dispatch::Block block) {
        {
            std::lock_guard lock(mutex_);
            mainQueue_.push_back(std::move(block));
        }
        mainChanged_.notify_all();
    }

    void enqueueGlobal(Dispatch::Block block) {
        {
            std::lock_guard lock(mutex_);
            startWorkersLocked();
            globalQueue_.push_back(std::move(block));
            ++globalOutstanding_;
        }
        workAvailable_.notify_one();
    }

    // Takes the next main block, or none.
    bool takeMain(Dispatch::Block& block) {
        std::lock_guard lock(mutex_);
        if (mainQueue_.empty())
            return false;
        block = std::move(mainQueue_.front());
        mainQueue_.pop_front();
        return true;
    }

    std::size_t mainQueued() {
        std::lock_guard lock(mutex_);
        return mainQueue_.size();
    }

    bool idle() {
        std::lock_guard lock(mutex_);
        return mainQueue_.empty() && globalOutstanding_ == 0;
    }

    void waitForMain(MainRunLoop::Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        mainChanged_.wait_until(lock, deadline, [&] { return !mainQueue_.empty() || woken_; });
        woken_ = false;
    }

    void wake() {
        {
            std::lock_guard lock(mutex_);
            woken_ = true;
        }
        mainChanged_.notify_all();
    }

    ~DispatchState() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        workAvailable_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }

  private:
    void startWorkersLocked() {
        if (!workers_.empty())
            return;
        for (std::size_t i = 0; i < kWorkerCount; ++i)
            workers_.emplace_back([this] { workerLoop(); });
    }

    void workerLoop() {
        for (;;) {
            Dispatch::Block block;
            {
                std::unique_lock lock(mutex_);
                workAvailable_.wait(lock, [&] { return stopping_ || !globalQueue_.empty(); });
                if (stopping_)
                    return;
                block = std::move(globalQueue_.front());
                globalQueue_.pop_front();
            }
            block();
            block = nullptr;  // release what the block held before reporting it done
            {
                std::lock_guard lock(mutex_);
                --globalOutstanding_;
                woken_ = true;  // a run loop waiting for idleness re-checks
            }
            mainChanged_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable mainChanged_;
    std::condition_variable workAvailable_;
    std::deque<Dispatch::Block> mainQueue_;
    std::deque<Dispatch::Block> globalQueue_;
    std::size_t globalOutstanding_ = 0;  // queued or running
    bool woken_ = false;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace

void Dispatch::asyncMain(Block block) {
    DispatchState::shared().enqueueMain(std::move(block));
}

void Dispatch::asyncGlobal(QualityOfService /*qos*/, Block block) {
    DispatchState::shared().enqueueGlobal(std::move(block));
}

bool Dispatch::isMainThread() {
    return std::this_thread::get_id() == gMainThread;
}

void Dispatch::requireMainThread(const char* operation) {
    if (isMainThread())
        return;
    std::fprintf(stderr, "platform: %s called off the main thread\n", operation);
    std::abort();
}

std::size_t MainRunLoop::runPending() {
    Dispatch::requireMainThread("MainRunLoop::runPending");
    DispatchState& state = DispatchState::shared();
    std::size_t count = state.mainQueued();
    std::size_t ran = 0;
    Dispatch::Block block;
    while (ran < count && state.takeMain(block)) {
        block();
        block = nullptr;
        ++ran;
    }
    return ran;
}

bool MainRunLoop::runUntil(const std::function<bool()>& condition,
                           std::chrono::milliseconds timeout) {
    Dispatch::requireMainThread("MainRunLoop::runUntil");
    DispatchState& state = DispatchState::shared();
    const auto deadline = Clock::now() + timeout;
    Dispatch::Block block;
    for (;;) {
        if (condition())
            return true;
        if (state.takeMain(block)) {
            block();
            block = nullptr;
            continue;
        }
        if (Clock::now() >= deadline)
            return false;
        state.waitForMain(std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
    }
}

bool MainRunLoop::runUntilIdle(std::chrono::milliseconds timeout) {
    DispatchState& state = DispatchState::shared();
    return runUntil([&] { return state.idle(); }, timeout);
}

void MainRunLoop::waitForWork(std::chrono::milliseconds timeout) {
    DispatchState::shared().waitForMain(Clock::now() + timeout);
}

void MainRunLoop::wake() {
    DispatchState::shared().wake();
}

}  // namespace platform
