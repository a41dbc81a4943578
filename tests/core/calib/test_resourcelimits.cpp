#include "calib/resourcelimits.h"
#include "platform/machine.h"
#include "platform/settingsfile.h"

#include <QFile>

#include <gtest/gtest.h>

namespace {

constexpr std::uint64_t kMB = std::uint64_t{1} << 20;

ResourcePreferences prefs(int maxThreads, int maxMem, int memPercent)
{
    ResourcePreferences p;
    p.maxThreads = maxThreads;
    p.maxMem = maxMem;
    p.memPercent = memPercent;
    return p;
}

} // namespace

TEST(CalibrationMemoryLimit, LowersMaxMemToTheShareOfAvailableMemory)
{
    struct Row {
        int maxMem, memPercent;
        std::uint64_t availableBytes;
        int expected;
    };
    const Row rows[] = {
        {1024, 50, 4096 * kMB, 1024},          // fits: half the free memory is more than maxMem
        {1024, 50, 2048 * kMB, 1024},          // tight: exactly the share
        {1024, 50, 2046 * kMB, 1023},          // one MB short
        {4096, 50, 4096 * kMB + 500, 2048},    // bytes below a whole MB do not count
        {100, 29, 100 * kMB, 29},              // integer percent: 29 % of 100 MB is 29 MB
        {1024, 50, 0, 0},                      // nothing fits
        {1024, 100, 700 * kMB, 700},
    };
    for (const Row &row : rows)
        EXPECT_EQ(calibrationMemoryLimitMB(prefs(8, row.maxMem, row.memPercent), row.availableBytes), row.expected)
            << "maxMem " << row.maxMem << ", " << row.memPercent << " % of " << row.availableBytes << " bytes";
}

TEST(CalibrationThreads, MemoryLimitBoundsTheThreadCountButNeverBelowOne)
{
    // The large-sensor case: 5184 x 3456 frames need 734 MB each, so 1024 MB allow one.
    const CalibrationThreads large = calibrationThreads(prefs(8, 1024, 50), 1024, 5184, 3456);
    EXPECT_EQ(large.perFrameMB, 734);
    EXPECT_EQ(large.threads, 1);
    EXPECT_TRUE(large.reduced);

    struct Row {
        int maxThreads, limitMB, width, height;
        std::int64_t perFrameMB;
        int threads;
        bool reduced;
    };
    const Row rows[] = {
        {8, 1024, 1000, 1000, 41, 8, false},  // fits
        {4, 400, 2000, 1220, 100, 4, false},  // tight: 4 x 100 MB is exactly the limit
        {4, 399, 2000, 1220, 100, 3, true},   // one MB short: one thread fewer
        {4, 50, 2000, 1220, 100, 1, true},    // nothing fits: still one thread
        {4, -5, 2000, 1220, 100, 1, true},    // a negative limit from an edited file
        {8, 0, 100, 100, 0, 8, false},        // a tiny frame is reckoned at 0 MB: no division
        {8, 1024, 0, 0, 0, 8, false},         // the size could not be read
        {0, 1024, 1000, 1000, 41, 1, false},  // a stored 0 threads still runs one
    };
    for (const Row &row : rows) {
        const CalibrationThreads result =
            calibrationThreads(prefs(row.maxThreads, 1024, 50), row.limitMB, row.width, row.height);
        EXPECT_EQ(result.perFrameMB, row.perFrameMB) << row.width << " x " << row.height;
        EXPECT_EQ(result.threads, row.threads) << row.maxThreads << " threads, limit " << row.limitMB;
        EXPECT_EQ(result.reduced, row.reduced) << row.maxThreads << " threads, limit " << row.limitMB;
    }

    const CalibrationThreads absurd = calibrationThreads(prefs(1 << 30, 1024, 50), 1024, 2000000000, 2000000000);
    EXPECT_EQ(absurd.threads, 1) << "sizes whose products overflow still give a thread count";
    EXPECT_TRUE(absurd.reduced);
}

TEST(StackingMemoryBudget, MaxMemBelowAvailableElseTheShareOfAvailable)
{
    struct Row {
        int maxMem, memPercent;
        std::uint64_t availableBytes, expected;
    };
    const Row rows[] = {
        {4000, 50, 8000 * kMB, 4000 * kMB},   // fits: maxMem, whatever the percentage
        {4000, 10, 8000 * kMB, 4000 * kMB},
        {4000, 50, 2000 * kMB, 1000 * kMB},   // tight memory: half of what is free
        {2000, 50, 2000 * kMB, 1000 * kMB},   // maxMem equal to the free memory takes the share
        {4000, 0, 2000 * kMB, 0},             // nothing fits
        {-1, 50, 2000 * kMB, 0},
    };
    for (const Row &row : rows)
        EXPECT_EQ(stackingMemoryBudgetBytes(prefs(8, row.maxMem, row.memPercent), row.availableBytes), row.expected)
            << "maxMem " << row.maxMem << ", " << row.memPercent << " %";
}

TEST(PreferenceDefaults, DialogProposesHalfTheMachineWhileRunsUseTheirOwnDefaults)
{
    MachineMemory sixteen;
    sixteen.totalBytes = std::uint64_t{16384} * kMB;
    const ResourcePreferences dialog = dialogDefaults(12, sixteen);
    EXPECT_EQ(dialog.maxThreads, 6);
    EXPECT_EQ(dialog.maxMem, 8192);
    EXPECT_EQ(dialog.memPercent, 50);

    MachineMemory sixtyFour;
    sixtyFour.totalBytes = std::uint64_t{65536} * kMB;
    EXPECT_EQ(dialogDefaults(1, sixtyFour).maxThreads, 1) << "at least one thread";
    EXPECT_EQ(dialogDefaults(1, sixtyFour).maxMem, 32768);

    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    const ResourcePreferences runs = readRunPreferences();
    EXPECT_EQ(runs.maxThreads, 8);
    EXPECT_EQ(runs.maxMem, 1024);
    EXPECT_EQ(runs.memPercent, 50);

    // Stored values are used as they are, even ones the dialog would not offer.
    settingsfile::setValue("Preferences", "maxThreads", 64);
    settingsfile::setValue("Preferences", "maxMem", 300);
    settingsfile::setValue("Preferences", "MemPercent", 25);
    const ResourcePreferences stored = readRunPreferences();
    EXPECT_EQ(stored.maxThreads, 64);
    EXPECT_EQ(stored.maxMem, 300);
    EXPECT_EQ(stored.memPercent, 25);
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
}
