#include "workdriver.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

void RunWaiter::wake()
{
    std::lock_guard<std::mutex> guard(lock);
    ++wakeCount;
    woken.notify_all();
    // One posted wake-up is enough: the loop looks at its condition when it arrives, and a
    // wake() after that posts the next one.
    if (eventTarget && !wakePending.exchange(true))
        QMetaObject::invokeMethod(eventTarget, onWake, Qt::QueuedConnection);
}

void RunWaiter::waitUntil(const std::function<bool()> &done, const std::function<void()> &tick,
                          std::chrono::milliseconds interval, bool processEvents)
{
    if (done())
        return;
    const bool canProcessEvents = processEvents && QCoreApplication::instance()
                                  && QAbstractEventDispatcher::instance(QThread::currentThread());
    if (canProcessEvents)
        waitWithEvents(done, tick, interval);
    else
        waitBlocking(done, tick, interval);
}

void RunWaiter::waitWithEvents(const std::function<bool()> &done, const std::function<void()> &tick,
                               std::chrono::milliseconds interval)
{
    QEventLoop loop;
    QObject target;
    const auto check = [&] {
        if (done())
            loop.quit();
    };
    {
        std::lock_guard<std::mutex> guard(lock);
        onWake = [&] {
            wakePending = false;
            check();
        };
        eventTarget = &target;
        wakePending = false;
    }
    QTimer timer;
    timer.setInterval(static_cast<int>(interval.count()));
    QObject::connect(&timer, &QTimer::timeout, &target, [&] {
        if (tick)
            tick();
        check();
    });
    timer.start();
    // A wake() between the first look and the start of the loop has posted its event already;
    // this look covers a condition that became true without one.
    QMetaObject::invokeMethod(&target, check, Qt::QueuedConnection);
    loop.exec();
    // An event loop also ends when the application is told to quit (the user closed the main
    // window); the workers still report, so their reports are handled until the wait is over.
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    timer.stop();
    std::lock_guard<std::mutex> guard(lock);
    eventTarget = nullptr;
    onWake = nullptr;
}

void RunWaiter::waitBlocking(const std::function<bool()> &done, const std::function<void()> &tick,
                             std::chrono::milliseconds interval)
{
    auto nextTick = std::chrono::steady_clock::now() + interval;
    std::unique_lock<std::mutex> guard(lock);
    std::uint64_t seen = wakeCount;
    for (;;) {
        woken.wait_until(guard, nextTick, [&] { return wakeCount != seen; });
        seen = wakeCount;
        guard.unlock();
        if (std::chrono::steady_clock::now() >= nextTick) {
            if (tick)
                tick();
            nextTick = std::chrono::steady_clock::now() + interval;
        }
        const bool finished = done();
        guard.lock();
        if (finished)
            return;
    }
}

namespace {

bool aborted(const ParallelRunOptions &options)
{
    return options.abort && options.abort->load(std::memory_order_relaxed);
}

bool canProcessEvents(bool wanted)
{
    return wanted && QCoreApplication::instance() && QAbstractEventDispatcher::instance(QThread::currentThread());
}

int runHere(int count, const ParallelRunOptions &options, const std::function<void(int)> &work)
{
    const bool processEvents = canProcessEvents(options.processEvents);
    auto nextReport = std::chrono::steady_clock::now() + options.interval;
    int item = 0;
    for (; item < count && !aborted(options); ++item) {
        work(item);
        if (std::chrono::steady_clock::now() >= nextReport) {
            if (options.progress)
                options.progress(item + 1);
            if (processEvents)
                QCoreApplication::processEvents();
            nextReport = std::chrono::steady_clock::now() + options.interval;
        }
    }
    return item;
}

} // namespace

int runParallel(int count, const ParallelRunOptions &options, const std::function<void(int)> &work)
{
    if (count <= 0)
        return 0;
    if (options.progress)
        options.progress(0);
    // Once at the start, so that even a run shorter than one interval shows its start and lets
    // the events through that were waiting for it.
    if (canProcessEvents(options.processEvents))
        QCoreApplication::processEvents();
    const int threads = std::min(options.threads, count);
    if (threads <= 1)
        return runHere(count, options, work);

    std::atomic<int> nextItem{0};
    std::atomic<int> finishedItems{0};
    std::atomic<int> running{0};
    RunWaiter waiter;
    const auto worker = [&] {
        for (int item; !aborted(options) && (item = nextItem.fetch_add(1, std::memory_order_relaxed)) < count;) {
            work(item);
            finishedItems.fetch_add(1, std::memory_order_relaxed);
        }
        running.fetch_sub(1);
        waiter.wake();
    };

    std::vector<std::thread> workers;
    try {
        workers.reserve(static_cast<std::size_t>(threads));
        for (int i = 0; i < threads; ++i) {
            running.fetch_add(1);
            try {
                workers.emplace_back(worker);
            } catch (const std::system_error &) {
                // The system has no more threads to give; those already running share the items.
                running.fetch_sub(1);
                break;
            }
        }
    } catch (const std::bad_alloc &) {
        running = static_cast<int>(workers.size());
    }
    if (workers.empty())
        return runHere(count, options, work);

    waiter.waitUntil([&] { return running.load() == 0; },
                     [&] {
                         if (options.progress)
                             options.progress(finishedItems.load(std::memory_order_relaxed));
                     },
                     options.interval, options.processEvents);
    for (std::thread &thread : workers)
        thread.join();
    return finishedItems.load();
}
