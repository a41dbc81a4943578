#pragma once
// The one way work is spread over threads while the calling thread (usually the GUI thread)
// stays live: a waiter that sleeps until a worker reports, processing the thread's events
// meanwhile, and a loop that hands numbered work items to up to N threads.
//
// Threads: wake() may be called from any thread; waitUntil() and runParallel() only on the
// thread that waits. With processEvents set and a QCoreApplication on that thread, the wait is
// an event loop: queued signals from workers and the user's input are handled the moment they
// arrive, and a wake() posts one event that makes the loop look at its condition again.
// Without an application (or with processEvents off, as for rendering inside a paint event)
// the waiter blocks on a condition variable instead. Nothing here spins or sleeps a fixed time.
#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// How often a waiting thread reports progress (and calls its tick) at most.
constexpr std::chrono::milliseconds kProgressInterval{50};

class RunWaiter {
public:
    RunWaiter() = default;
    RunWaiter(const RunWaiter &) = delete;
    RunWaiter &operator=(const RunWaiter &) = delete;

    // Any thread: something the waiting thread may be waiting for has happened. Cheap when
    // called often: one pending wake-up at a time is posted to the event loop.
    void wake();

    // Returns once done() is true. done() is looked at on entry, after every wake() and every
    // `interval`; tick() (when given) runs every `interval` while the wait lasts, for progress.
    // done() and tick() run on the waiting thread.
    void waitUntil(const std::function<bool()> &done, const std::function<void()> &tick = {},
                   std::chrono::milliseconds interval = kProgressInterval, bool processEvents = true);

private:
    void waitWithEvents(const std::function<bool()> &done, const std::function<void()> &tick,
                        std::chrono::milliseconds interval);
    void waitBlocking(const std::function<bool()> &done, const std::function<void()> &tick,
                      std::chrono::milliseconds interval);

    std::mutex lock;
    std::condition_variable woken;
    std::uint64_t wakeCount = 0;
    // While an event-loop wait runs: the object on the waiting thread that a wake-up is
    // posted to. Guarded by `lock`, so a wake() never posts to an object being destroyed.
    QObject *eventTarget = nullptr;
    std::atomic<bool> wakePending{false};
    std::function<void()> onWake;
};

struct ParallelRunOptions {
    // Worker threads at most; 1 or less runs every item on the calling thread.
    int threads = 1;
    // When set (from any thread), no further item starts; items already running finish.
    const std::atomic<bool> *abort = nullptr;
    // Keep the calling thread's events flowing while it waits (see the note at the top).
    bool processEvents = true;
    // Called on the calling thread with the number of items finished: once at the start and
    // then at most every `interval` while the run lasts.
    std::function<void(int finishedItems)> progress;
    std::chrono::milliseconds interval = kProgressInterval;
};

// Runs work(item) for item = 0 .. count - 1, handing the items out in increasing order from
// a shared counter to up to options.threads threads (fewer when the system gives no more;
// the calling thread takes over if it gives none). work must not throw and must make its
// result independent of which thread runs which item. Returns the number of items run:
// count, or fewer after an abort.
int runParallel(int count, const ParallelRunOptions &options, const std::function<void(int item)> &work);
