// The driver of threaded work, and what a run reads of its machine and of the settings file.
#include "platform/machine.h"
#include "platform/settingsfile.h"
#include "platform/workdriver.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

// A deterministic per-item result, so any split of the items over threads must agree.
static std::uint64_t itemValue(int item)
{
    std::uint64_t v = static_cast<std::uint64_t>(item) * 2654435761u;
    for (int i = 0; i < 200; ++i)
        v = v * 6364136223846793005ull + 1442695040888963407ull;
    return v;
}

TEST(WorkDriver, ResultsDoNotDependOnTheThreadCountOrTheWaitAndProgressStartsAtZeroAndNeverRunsAhead)
{
    std::vector<std::uint64_t> expected(997);
    std::generate(expected.begin(), expected.end(), [item = 0]() mutable { return itemValue(item++); });
    for (int threads : {1, 2, 3, 8, 5000})
        for (bool events : {true, false}) {
            std::vector<std::uint64_t> results(997, 0);
            std::vector<int> seen;
            ParallelRunOptions options{threads, nullptr, events, [&](int finished) { seen.push_back(finished); },
                                       std::chrono::milliseconds(1)};
            EXPECT_EQ(runParallel(997, options, [&](int item) { results[std::size_t(item)] = itemValue(item); }), 997);
            EXPECT_EQ(results, expected) << threads << " threads, events " << events;
            EXPECT_TRUE(!seen.empty() && seen[0] == 0 && *std::max_element(seen.begin(), seen.end()) <= 997);
        }
    EXPECT_EQ(runParallel(0, ParallelRunOptions{}, [](int) { FAIL(); }), 0);
}

TEST(WorkDriver, AbortStopsHandingOutItems)
{
    for (int threads : {1, 2}) {
        std::atomic<bool> abort{false};
        std::atomic<int> started{0};
        const ParallelRunOptions options{threads, &abort, true, {}, kProgressInterval};
        const int done = runParallel(10000, options, [&](int) {
            if (started.fetch_add(1) == 20)
                abort = true;
        });
        EXPECT_TRUE(done < 10000 && done == started.load()) << done;
    }
}

// Closing the main window during a run quits the application's event loops; the wait must
// still last until the workers have reported, their queued reports running on the waiting thread.
TEST(WorkDriver, AWaitKeepsEventsFlowingAndOutlastsTheApplicationBeingToldToQuit)
{
    RunWaiter waiter;
    QObject receiver;
    bool reported = false; // set and read on this thread only
    const auto quit = [] { QCoreApplication::exit(0); };
    QMetaObject::invokeMethod(QCoreApplication::instance(), quit, Qt::QueuedConnection);
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QMetaObject::invokeMethod(
            &receiver, [&] { reported = true, waiter.wake(); }, Qt::QueuedConnection);
    });
    waiter.waitUntil([&] { return reported; }, {}, std::chrono::hours(1));
    EXPECT_TRUE(reported);
    worker.join();
    // Leaves the application as it was: only a finished exec() forgets the request to quit.
    QMetaObject::invokeMethod(QCoreApplication::instance(), quit, Qt::QueuedConnection);
    QCoreApplication::exec();
}

TEST(Machine, MeminfoGivesTotalAndAvailableBytesAndThisMachineReportsPlausibleFigures)
{
    const MachineMemory memory = parseMeminfo("MemTotal:       24683520 kB\nMemFree:         1000000 kB\n"
                                              "MemAvailable:   20000000 kB\nBuffers:          123456 kB\n");
    EXPECT_TRUE(memory.totalBytes == 24683520ull * 1024 && memory.availableBytes == 20000000ull * 1024);
    EXPECT_EQ(bytesToMegabytes(memory.totalBytes), 24105u);
    EXPECT_EQ(parseMeminfo("MemTotal: 1024 kB\n").availableBytes, 0u);
    const MachineMemory here = queryPhysicalMemory();
    EXPECT_TRUE(here.availableBytes > 0 && here.availableBytes <= here.totalBytes && hardwareThreads() >= 1);
}

TEST(SettingsFile, AbsentKeysGiveTheirDefaultsAndValuesLandInTheirGroups)
{
    const QString name = QString::fromLatin1(settingsfile::kFileName);
    QFile::remove(name);
    EXPECT_TRUE(settingsfile::firstRun() && settingsfile::fileOpenPath().isEmpty() && !settingsfile::usePreviewGamma());
    EXPECT_EQ(settingsfile::maxThreads(3), 3);
    EXPECT_FLOAT_EQ(settingsfile::previewGamma(), 2.2f);
    EXPECT_FALSE(QFile::exists(name)) << "reading must not create the file";
    settingsfile::setFirstRun(false);
    settingsfile::setFileOpenPath(QStringLiteral("/data/night 1"));
    settingsfile::setValue(QStringLiteral("Preferences"), QStringLiteral("maxThreads"), 64);
    EXPECT_TRUE(!settingsfile::firstRun() && settingsfile::fileOpenPath() == "/data/night 1"
                && settingsfile::maxThreads() == 64);
    // Another reader of the same file sees the documented groups and keys.
    QFile file(name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "[General]\nFirstRun=false\n\n[History]\nFileOpenPath=/data/night 1\n\n"
                              "[Preferences]\nmaxThreads=64\n");
}
