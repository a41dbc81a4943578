// The memory and thread rules of a run, row by row, and the preferences a run starts from.
#include "calib/resourcelimits.h"
#include "platform/machine.h"
#include "platform/settingsfile.h"

#include <QFile>

#include <gtest/gtest.h>

#include <tuple>

namespace {

constexpr std::uint64_t kMB = std::uint64_t{1} << 20;

ResourcePreferences prefs(int maxThreads, int maxMem, int memPercent)
{
    return ResourcePreferences{maxThreads, maxMem, memPercent, false};
}

std::tuple<int, int, int> values(const ResourcePreferences &p)
{
    return {p.maxThreads, p.maxMem, p.memPercent};
}

} // namespace

TEST(MemoryLimits, CalibrationAndStackingTakeMaxMemOrTheShareOfAvailableMemory)
{
    // Calibration: maxMem lowered to the integer percentage of the whole MB available.
    // Stacking: maxMem when below the available memory, else the percentage of its bytes.
    const struct {
        int maxMem, memPercent;
        std::uint64_t availableBytes;
        int calibrationMB;
        std::uint64_t stackingBytes;
    } rows[] = {
        {1024, 50, 4096 * kMB, 1024, 1024 * kMB},             // fits: half the free memory is more
        {1024, 50, 2048 * kMB, 1024, 1024 * kMB},             // tight: exactly the share
        {4096, 50, 4096 * kMB + 500, 2048, 2048 * kMB + 250}, // part MBs count for stacking only
        {100, 29, 100 * kMB, 29, 29 * kMB},                   // integer percent: 29 % of 100 MB is 29 MB
        {1024, 50, 0, 0, 0},                                  // nothing fits
        {4000, 10, 8000 * kMB, 800, 4000 * kMB},  // stacking: maxMem, whatever the percentage
        {2000, 50, 2000 * kMB, 1000, 1000 * kMB}, // maxMem equal to the free memory: the share
        {-1, 50, 2000 * kMB, -1, 0},
    };
    for (const auto &row : rows) {
        const ResourcePreferences p = prefs(8, row.maxMem, row.memPercent);
        EXPECT_EQ((std::pair{calibrationMemoryLimitMB(p, row.availableBytes),
                             stackingMemoryBudgetBytes(p, row.availableBytes)}),
                  (std::pair{row.calibrationMB, row.stackingBytes}))
            << "maxMem " << row.maxMem << ", " << row.memPercent << " % of " << row.availableBytes << " bytes";
    }
}

TEST(CalibrationThreads, MemoryLimitBoundsTheThreadCountButNeverBelowOne)
{
    const struct {
        int maxThreads, limitMB, width, height;
        std::int64_t perFrameMB;
        int threads;
        bool reduced;
    } rows[] = {
        {8, 1024, 5184, 3456, 734, 1, true}, // a large sensor: 1024 MB allow one frame
        {4, 400, 2000, 1220, 100, 4, false}, // tight: 4 x 100 MB is exactly the limit
        {4, 399, 2000, 1220, 100, 3, true},  // one MB short: one thread fewer
        {4, -5, 2000, 1220, 100, 1, true},   // a negative limit from an edited file
        {8, 0, 100, 100, 0, 8, false},       // a tiny frame is reckoned at 0 MB: no division
        {8, 1024, 0, 0, 0, 8, false},        // the size could not be read
        {0, 1024, 1000, 1000, 41, 1, false}, // a stored 0 threads still runs one
        // Sizes whose products overflow still give a thread count.
        {1 << 30, 1024, 2000000000, 2000000000, -1, 1, true},
    };
    for (const auto &row : rows) {
        const CalibrationThreads result =
            calibrationThreads(prefs(row.maxThreads, 1024, 50), row.limitMB, row.width, row.height);
        EXPECT_EQ((std::tuple{row.perFrameMB < 0 ? -1 : result.perFrameMB, result.threads, result.reduced}),
                  (std::tuple{row.perFrameMB, row.threads, row.reduced}))
            << row.maxThreads << " threads, limit " << row.limitMB << ", " << row.width << " x " << row.height;
    }
}

TEST(PreferenceDefaults, DialogProposesHalfTheMachineWhileRunsUseTheirOwnDefaults)
{
    // Twelve threads and 16 GB give 6, 8192 and 50 in the dialog (test_wndsettings.cpp).
    MachineMemory sixtyFour;
    sixtyFour.totalBytes = std::uint64_t{65536} * kMB;
    EXPECT_EQ(values(dialogDefaults(1, sixtyFour)), (std::tuple{1, 32768, 50})) << "at least one thread";
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    EXPECT_EQ(values(readRunPreferences()), (std::tuple{8, 1024, 50}));
    // Stored values are used as they are, even ones the dialog would not offer.
    settingsfile::setValue("Preferences", "maxThreads", 64);
    settingsfile::setValue("Preferences", "maxMem", 300);
    settingsfile::setValue("Preferences", "MemPercent", 25);
    EXPECT_EQ(values(readRunPreferences()), (std::tuple{64, 300, 25}));
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
}
