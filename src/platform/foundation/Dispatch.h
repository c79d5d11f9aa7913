// Dispatch: the main queue, the global concurrent queues and the main run loop.
//
// The main queue's blocks run on the main thread (the thread that loaded the platform) when the
// main run loop runs. The global queues share a small pool of worker threads and never run
// anything on the main thread. Tests and the host drive the run loop explicitly, so every
// interleaving of main-thread work is deterministic while background work runs for real.
#pragma once

#include <chrono>
#include <functional>

namespace platform {

// Quality-of-service classes of the global queues.
enum class QualityOfService { userInteractive, userInitiated, defaultClass, utility, background };

class Dispatch {
  public:
    using Block = std::function<void()>;

    // dispatch_async to the main queue: runs later, on the main thread, in order.
    static void asyncMain(Block block);
    // dispatch_async to the global queue of a class: runs later on a worker thread.
    static void asyncGlobal(QualityOfService qos, Block block);

    [[nodiscard]] static bool isMainThread();
    // Stops the process with a clear message when called off the main thread: view operations
    // and request endings belong to the main thread, and a call from elsewhere is a fault.
    static void requireMainThread(const char* operation);
};

class MainRunLoop {
  public:
    using Clock = std::chrono::steady_clock;

    // Runs main-queue blocks until the main queue is empty and no global-queue work is queued
    // or running. False when `timeout` passed first. Main thread only.
    static bool runUntilIdle(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Runs main-queue blocks until `condition` holds (checked before each block and after it).
    // False when `timeout` passed first. Main thread only.
    static bool runUntil(const std::function<bool()>& condition,
                         std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Runs the blocks queued on the main queue right now (not those they queue). Returns how
    // many ran. Main thread only.
    static std::size_t runPending();
    // Waits (without running anything) until a main-queue block is queued or `timeout` passes.
    static void waitForWork(std::chrono::milliseconds timeout);
    // Wakes a waiting run loop (for instance from a signal-safe notifier thread).
    static void wake();
};

}  // namespace platform
