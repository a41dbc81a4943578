#include "platform/workdriver.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

// A deterministic per-item result, so any split of the items over threads must agree.
std::uint64_t itemValue(int item)
{
    std::uint64_t v = static_cast<std::uint64_t>(item) * 2654435761u;
    for (int i = 0; i < 200; ++i)
        v = v * 6364136223846793005ull + 1442695040888963407ull;
    return v;
}

std::vector<std::uint64_t> runWith(int threads, bool processEvents)
{
    std::vector<std::uint64_t> results(997, 0);
    ParallelRunOptions options;
    options.threads = threads;
    options.processEvents = processEvents;
    EXPECT_EQ(runParallel(997, options, [&](int item) { results[std::size_t(item)] = itemValue(item); }), 997);
    return results;
}

} // namespace

TEST(WorkDriver, ResultsDoNotDependOnTheThreadCountOrTheWait)
{
    const std::vector<std::uint64_t> single = runWith(1, true);
    for (int threads : {2, 3, 8, 5000})
        for (bool events : {true, false})
            EXPECT_EQ(runWith(threads, events), single) << threads << " threads, events " << events;
    EXPECT_EQ(runParallel(0, ParallelRunOptions{}, [](int) { FAIL(); }), 0);
}

TEST(WorkDriver, AbortStopsHandingOutItemsAndProgressStartsAtZeroAndNeverRunsAhead)
{
    for (int threads : {1, 2}) {
        std::atomic<bool> abort{false};
        std::atomic<int> started{0};
        ParallelRunOptions options;
        options.threads = threads;
        options.abort = &abort;
        const int done = runParallel(10000, options, [&](int) {
            if (started.fetch_add(1) == 20)
                abort = true;
        });
        EXPECT_LT(done, 10000);
        EXPECT_EQ(done, started.load());
    }
    std::vector<int> reported;
    ParallelRunOptions options;
    options.threads = 2;
    options.interval = std::chrono::milliseconds(1);
    options.progress = [&](int finished) { reported.push_back(finished); };
    runParallel(300, options, [](int item) { itemValue(item * 1000); });
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.front(), 0);
    EXPECT_LE(*std::max_element(reported.begin(), reported.end()), 300);
}

TEST(WorkDriver, WaiterWakesOnAWorkerAndKeepsEventsFlowing)
{
    RunWaiter waiter;
    QObject receiver;
    bool slotRan = false;
    // The worker reports like a worker thread's queued signal: the slot runs on the waiting
    // thread while it waits, changes the state and wakes the waiter, which then returns at once.
    std::thread worker([&] {
        QMetaObject::invokeMethod(
            &receiver, [&] { slotRan = true, waiter.wake(); }, Qt::QueuedConnection);
    });
    waiter.waitUntil([&] { return slotRan; }, {}, std::chrono::hours(1));
    worker.join();
    EXPECT_TRUE(slotRan);
    // Without events (a paint-time render): a condition variable, woken the same way.
    std::atomic<bool> second{false};
    std::thread other([&] { second = true, waiter.wake(); });
    waiter.waitUntil([&] { return second.load(); }, {}, std::chrono::hours(1), false);
    other.join();
    EXPECT_TRUE(second.load());
}

TEST(WorkDriver, AWaitOutlastsTheApplicationBeingToldToQuit)
{
    // Closing the main window during a run quits the application's event loops; the wait
    // must still last until the workers have reported.
    RunWaiter waiter;
    std::atomic<bool> finished{false};
    const auto quit = [] { QCoreApplication::exit(0); };
    QMetaObject::invokeMethod(QCoreApplication::instance(), quit, Qt::QueuedConnection);
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        finished = true, waiter.wake();
    });
    waiter.waitUntil([&] { return finished.load(); }, {}, std::chrono::hours(1));
    const bool finishedWhenTheWaitEnded = finished.load();
    worker.join();
    EXPECT_TRUE(finishedWhenTheWaitEnded);
    // Leaves the application as it was: only a finished exec() forgets the request to quit.
    QMetaObject::invokeMethod(QCoreApplication::instance(), quit, Qt::QueuedConnection);
    QCoreApplication::exec();
}
