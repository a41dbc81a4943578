// The registration run: frames on worker threads, the memory rule for their number, the
// comparison with the reference, and the ways a run ends early.
#include "registrationframes.h"
#include "stars/starcollector.h"

#include <QFile>
#include <QRegularExpression>

#include <tuple>

#include <gtest/gtest.h>

using namespace registrationtest;
using testsupport::CapturingLog;

namespace {

constexpr std::uint64_t kMB = std::uint64_t{1} << 20;

ResourcePreferences preferences(int threads, int maxMem = 1024, int memPercent = 50)
{
    ResourcePreferences prefs;
    std::tie(prefs.maxThreads, prefs.maxMem, prefs.memPercent) = std::tie(threads, maxMem, memPercent);
    return prefs;
}

// Runs a collector to its end and counts its collectFinished signals.
struct CollectorRun {
    CollectorRun(const ResourcePreferences &prefs, MessageLog &log, std::uint64_t available = 16384 * kMB)
        : collector(prefs, available)
    {
        collector.log = &log;
        collector.threshold = kThreshold;
        QObject::connect(&collector, &StarCollector::collectFinished, [this](QObject *) { ++finishedSignals; });
    }
    void start(const QStringList &files)
    {
        collector.files = files;
        collector.run();
    }
    StarCollector collector;
    int finishedSignals = 0;
};

std::string joined(const QStringList &lines) { return lines.join('\n').toStdString(); }

} // namespace

TEST(StarCollector, MemoryRuleGivesTheThreadCountRowByRow)
{
    const struct {
        int maxThreads, maxMem, memPercent;
        std::uint64_t available;
        int width, height;
        std::int64_t budgetMB;
        int threads;
        bool reduced;
    } rows[] = {
        // 300 MB of 600 available: not even one 6000 x 4000 frame at 28 bytes a pixel; still 1 thread.
        {8, 1024, 50, 600 * kMB, 6000, 4000, 300, 1, true},
        // Enough available: maxMem is the budget; 1024 MB / (400 x 300 x 28 bytes) = 319 threads, 8 kept.
        {8, 1024, 50, 4096 * kMB, 400, 300, 1024, 8, false},
        {8, 1024, 50, 4096 * kMB, 3000, 2000, 1024, 6, true},
        // Exactly maxMem available is not less than maxMem: the budget stays maxMem.
        {8, 1024, 50, 1024 * kMB, 3000, 2000, 1024, 6, true},
        // 29 % of 100 MB is 29 MB, not 28.
        {8, 1024, 29, 100 * kMB, 1000, 1000, 29, 1, true},
        {2, 1024, 50, 4096 * kMB, 3000, 2000, 1024, 2, false},
        // Exactly as many threads fit as are configured: nothing is reduced.
        {6, 1024, 50, 4096 * kMB, 3000, 2000, 1024, 6, false},
        // Absurd preferences neither overflow nor give less than one thread.
        {0, 1024, 50, 4096 * kMB, 400, 300, 1024, 1, false},
        {8, -5, 50, 4096 * kMB, 400, 300, -5, 1, true},
        {8, 1024, 2000000000, 600 * kMB, 400, 300, 12000000000, 8, false},
    };
    for (const auto &row : rows) {
        const RegistrationThreads plan = registrationThreads(preferences(row.maxThreads, row.maxMem, row.memPercent),
                                                             row.available, row.width, row.height);
        EXPECT_EQ(plan.budgetMB, row.budgetMB) << row.maxMem << " MB, " << row.available / kMB << " MB available";
        EXPECT_EQ(plan.threads, row.threads) << row.width << " x " << row.height;
        EXPECT_EQ(plan.reduced, row.reduced) << row.width << " x " << row.height;
    }
}

TEST(StarCollector, RegistersShiftedAndTurnedFramesAgainstTheFirstOnAnyThreadCount)
{
    const SyntheticFrames frames = writeSyntheticFrames("collect", {{0, 0, 0}, {7.25, -4.5, 0}, {-3.5, 6.0, 0.6}});
    CapturingLog log;
    CollectorRun run(preferences(2), log);
    run.start(frames.paths);
    EXPECT_EQ(run.collector.errorCode, 0);
    ASSERT_TRUE(run.finishedSignals == 1 && run.collector.results.size() == 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const RegistrationResult &r = run.collector.results[i];
        EXPECT_TRUE(r.stackable && r.stars > 20.0f && r.fwhm > 0.0f) << "frame " << i;
        EXPECT_NEAR(r.offsetX, frames.truth[i].offsetX, kOffsetTolerance) << "frame " << i;
        EXPECT_NEAR(r.offsetY, frames.truth[i].offsetY, kOffsetTolerance) << "frame " << i;
        EXPECT_NEAR(r.angle, frames.truth[i].angle, kAngleTolerance) << "frame " << i;
    }
    EXPECT_EQ(log.lines().size(), 6) << "each frame starts and ends, nothing of the finders' chatter";

    // With one thread the frames run strictly in order, to the same results.
    CapturingLog oneLog;
    CollectorRun one(preferences(1), oneLog);
    one.start(frames.paths);
    ASSERT_EQ(one.finishedSignals, 1);
    QStringList expected;
    for (const QString &path : frames.paths)
        expected << "Processing " + path + "..." << "Finished " + path;
    EXPECT_EQ(joined(oneLog.lines()), joined(expected));
    for (std::size_t i = 0; i < 3; ++i) {
        const RegistrationResult &a = one.collector.results[i], &b = run.collector.results[i];
        EXPECT_TRUE(a.offsetX == b.offsetX && a.angle == b.angle) << "frame " << i;
    }
}

TEST(StarCollector, AFrameThatCannotBeLoadedStopsTheRunWithItsNameAndReason)
{
    const SyntheticFrames frames = writeSyntheticFrames("broken", {{0, 0, 0}, {1, 1, 0}});
    ASSERT_TRUE(testsupport::writeBytes("notes.txt", "not an image"));
    // A frame far larger than the machine's memory (a sparse file that holds all of it):
    // refused, never a crash.
    ASSERT_TRUE(testsupport::writeBytes(
        "vast.fits", testsupport::fitsHeaderBlock({"SIMPLE  = T", "BITPIX  = -32", "NAXIS   = 2", "NAXIS1  = 200000",
                                                   "NAXIS2  = 200000"})));
    ASSERT_TRUE(QFile::resize("vast.fits", 2880 + qint64(200000) * 200000 * 4));
    const struct {
        QString path;
        int code;
        QString reason;
    } cases[] = {
        {"no-such-frame.fits", 104, "could not open the named file"},
        {"notes.txt", 1101, "its name does not end in an image type the program reads"},
        {"vast.fits", 1103, "not enough memory"},
    };
    for (const auto &c : cases) {
        CapturingLog log;
        CollectorRun run(preferences(1), log);
        run.start({frames.paths[0], c.path, frames.paths[1]});
        EXPECT_TRUE(run.finishedSignals == 0 && run.collector.results.empty()) << "the table is left as it was";
        EXPECT_EQ(run.collector.errorCode, c.code);
        const QStringList expected = {
            "Processing " + frames.paths[0] + "...",
            "Finished " + frames.paths[0],
            "Processing " + c.path + "...",
            QString("Cannot register %1: %2 (error %3)").arg(c.path, c.reason).arg(c.code),
            QString("Error raised (Code: %1) while scanning frames. Stopping threads, 0 to go.").arg(c.code),
        };
        EXPECT_EQ(joined(log.lines().filter(QRegularExpression("^(Processing|Finished|Error raised|Cannot register)"))),
                  joined(expected));
    }
}

TEST(StarCollector, MemoryRuleLowersTheThreadsBeforeAnyFrameStarts)
{
    // The size query reads only the header: a 6000 x 4000 frame without its data is enough to
    // see the rule at work, and its load failure ends the run.
    ASSERT_TRUE(testsupport::writeBytes(
        "huge.fits", testsupport::fitsHeaderBlock({"SIMPLE  = T", "BITPIX  = -32", "NAXIS   = 2", "NAXIS1  = 6000",
                                                   "NAXIS2  = 4000"})));
    CapturingLog log;
    CollectorRun run(preferences(8), log, 600 * kMB);
    run.start({"huge.fits", "huge.fits"});
    EXPECT_EQ(run.collector.maxThreads, 1);
    EXPECT_EQ(joined(log.lines().mid(0, 2)),
              "[Info] Memory limit reached. Decreasing max. threads from 8 to 1\nProcessing huge.fits...");
    EXPECT_NE(run.collector.errorCode, 0);
}

TEST(StarCollector, AbortLetsRunningFramesFinishStartsNoOtherAndGivesNoResults)
{
    const SyntheticFrames frames = writeSyntheticFrames("abort", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    std::atomic<bool> abortRequest{false};
    AbortingLog log("Finished " + frames.paths[0], abortRequest);
    CollectorRun run(preferences(1), log);
    run.collector.setAbortFlag(&abortRequest);
    run.start(frames.paths);

    EXPECT_TRUE(run.finishedSignals == 0 && run.collector.results.empty());
    EXPECT_EQ(run.collector.errorCode, kRegistrationAborted);
    const QStringList expected = {"Processing " + frames.paths[0] + "...", "Finished " + frames.paths[0],
                                  "Aborting frame registration, please wait...", "Frame registration aborted."};
    EXPECT_EQ(joined(log.lines()), joined(expected));
    EXPECT_TRUE(log.contains(expected[2], Severity::Notice));
}

TEST(StarCollector, MastersAreNormalisedLikeTheFramesAndOneOfAnotherSizeIsLeftOut)
{
    const SyntheticFrames frames = writeSyntheticFrames("masters", {{0, 0, 0}, {-4, 2.5, 0}});
    CapturingLog plainLog;
    CollectorRun plain(preferences(2), plainLog);
    plain.start(frames.paths);

    // 16-bit masters are normalised: a bias of 0 subtracts nothing and a flat of 65535 divides
    // by about 1.0, where used raw it would divide by 65535 and leave no star. A dark of 1.0
    // would leave nothing to find; at the wrong size it must not be applied.
    const QString bias = writeMaster("bias16.fits", kWidth, kHeight, 0.0, 16);
    const QString dark = writeMaster("small-dark.fits", 200, 150, 1.0);
    const QString flat = writeMaster("flat16.fits", kWidth, kHeight, 65535.0, 16);
    CapturingLog log;
    CollectorRun run(preferences(2), log);
    run.collector.loadMasters(bias, dark, flat, log);
    EXPECT_EQ(run.collector.errorCode, 0);
    run.start(frames.paths);
    ASSERT_EQ(run.finishedSignals, 1);
    EXPECT_EQ(joined(log.lines().filter(QRegularExpression("not normalised|Warning"))),
              "Master bias bias16.fits is not normalised (white level 65536): normalising it like the frames.\n"
              "Master flat flat16.fits is not normalised (white level 65536): normalising it like the frames.\n"
              "Warning: master dark is 200 x 150 pixels, "
                  + frames.paths[0].toStdString()
                  + " is 400 x 300 pixels; the master is not applied to frames of that size.");
    ASSERT_EQ(plain.collector.results.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_EQ(run.collector.results[i].stars, plain.collector.results[i].stars) << "frame " << i;

    // A master that cannot be loaded stops the run before any frame starts.
    CapturingLog failedLog;
    CollectorRun failed(preferences(2), failedLog);
    failed.collector.loadMasters(QString(), "no-dark.fits", QString(), failedLog);
    failed.start(frames.paths);
    EXPECT_TRUE(failed.collector.errorCode == 104 && failed.finishedSignals == 0);
    EXPECT_TRUE(failedLog.lines().filter("Processing").isEmpty());
    EXPECT_TRUE(failedLog.contains("Cannot load master dark no-dark.fits: could not open the named file (error 104)",
                                   Severity::Error))
        << joined(failedLog.lines());
}
