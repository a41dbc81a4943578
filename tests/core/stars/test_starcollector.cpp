// The registration run: frames on worker threads, the memory rule for their number, the
// comparison with the reference, and the ways a run ends early.
#include "registrationframes.h"
#include "stars/starcollector.h"
#include "support/capturinglog.h"
#include "support/fitsfixture.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cmath>

using namespace registrationtest;
using testsupport::CapturingLog;

namespace {

constexpr std::uint64_t kPlentyOfMemory = std::uint64_t{16} << 30;

ResourcePreferences threadsPreference(int threads)
{
    ResourcePreferences prefs;
    prefs.maxThreads = threads;
    return prefs;
}

// Runs a collector to its end and counts its collectFinished signals.
struct CollectorRun {
    explicit CollectorRun(const ResourcePreferences &prefs, MessageLog &log, std::uint64_t available = kPlentyOfMemory)
        : collector(prefs, available)
    {
        collector.log = &log;
        collector.threshold = kThreshold;
        QObject::connect(&collector, &StarCollector::collectFinished, [this](QObject *sender) {
            EXPECT_EQ(sender, &collector);
            ++finishedSignals;
        });
    }
    void start(const QStringList &files)
    {
        collector.files = files;
        collector.run();
    }
    StarCollector collector;
    int finishedSignals = 0;
};

QStringList linesStartingWith(const QStringList &lines, const QStringList &prefixes)
{
    QStringList kept;
    for (const QString &line : lines)
        for (const QString &prefix : prefixes)
            if (line.startsWith(prefix))
                kept << line;
    return kept;
}


} // namespace

TEST(StarCollector, MemoryRuleGivesTheThreadCountRowByRow)
{
    constexpr std::uint64_t MB = std::uint64_t{1} << 20;
    const struct {
        int maxThreads, maxMem, memPercent;
        std::uint64_t available;
        int width, height;
        std::int64_t budgetMB;
        int threads;
        bool reduced;
    } rows[] = {
        // 300 MB of 600 available: not even one 6000 x 4000 frame at 28 bytes a pixel; still 1 thread.
        {8, 1024, 50, 600 * MB, 6000, 4000, 300, 1, true},
        // Enough available: maxMem is the budget; 1024 MB / (400 x 300 x 28 bytes) = 319 threads, 8 kept.
        {8, 1024, 50, 4096 * MB, 400, 300, 1024, 8, false},
        // 1024 MB over 3000 x 2000 frames: 6 fit.
        {8, 1024, 50, 4096 * MB, 3000, 2000, 1024, 6, true},
        // Exactly maxMem available is not less than maxMem: the budget stays maxMem.
        {8, 1024, 50, 1024 * MB, 3000, 2000, 1024, 6, true},
        // 29 % of 100 MB is 29 MB, not 28.
        {8, 1024, 29, 100 * MB, 1000, 1000, 29, 1, true},
        {2, 1024, 50, 4096 * MB, 3000, 2000, 1024, 2, false},
        // Absurd preferences neither overflow nor give less than one thread.
        {0, 1024, 50, 4096 * MB, 400, 300, 1024, 1, false},
        {8, -5, 50, 4096 * MB, 400, 300, -5, 1, true},
        {8, 1024, 2000000000, 600 * MB, 400, 300, 12000000000, 8, false},
    };
    for (const auto &row : rows) {
        ResourcePreferences prefs;
        prefs.maxThreads = row.maxThreads;
        prefs.maxMem = row.maxMem;
        prefs.memPercent = row.memPercent;
        const RegistrationThreads plan = registrationThreads(prefs, row.available, row.width, row.height);
        EXPECT_EQ(plan.budgetMB, row.budgetMB) << row.maxMem << " MB, " << row.available / MB << " MB available";
        EXPECT_EQ(plan.threads, row.threads) << row.width << " x " << row.height;
        EXPECT_EQ(plan.reduced, row.reduced) << row.width << " x " << row.height;
    }
}

TEST(StarCollector, RegistersShiftedAndTurnedFramesAgainstTheFirst)
{
    const Frames frames = writeFrames("collect", {{0, 0, 0}, {7.25, -4.5, 0}, {-3.5, 6.0, 0.6}});
    CapturingLog log;
    CollectorRun run(threadsPreference(2), log);
    run.start(frames.paths);

    EXPECT_EQ(run.collector.errorCode, 0);
    ASSERT_EQ(run.finishedSignals, 1);
    ASSERT_EQ(run.collector.results.size(), 3u);
    const RegistrationResult &reference = run.collector.results[0];
    EXPECT_EQ(reference.offsetX, 0.0f);
    EXPECT_EQ(reference.offsetY, 0.0f);
    EXPECT_EQ(reference.angle, 0.0f);
    EXPECT_TRUE(reference.stackable);
    for (std::size_t i = 0; i < 3; ++i) {
        const RegistrationResult &r = run.collector.results[i];
        EXPECT_GT(r.stars, 20.0f) << "frame " << i;
        EXPECT_GT(r.fwhm, 0.0f) << "frame " << i;
        if (i == 0)
            continue;
        EXPECT_TRUE(r.stackable) << "frame " << i;
        // The pattern estimate on a small frame of some 60 stars: a fraction of a pixel.
        EXPECT_NEAR(r.offsetX, frames.truth[i].offsetX, kOffsetTolerance) << "frame " << i;
        EXPECT_NEAR(r.offsetY, frames.truth[i].offsetY, kOffsetTolerance) << "frame " << i;
        EXPECT_NEAR(r.angle, frames.truth[i].angle, kAngleTolerance) << "frame " << i;
    }

    // The console shows each frame starting and ending, and nothing of the finders' chatter.
    const QStringList lines = log.lines();
    for (const QString &path : frames.paths) {
        EXPECT_TRUE(lines.contains("Processing " + path + "...")) << path.toStdString();
        EXPECT_TRUE(lines.contains("Finished " + path)) << path.toStdString();
    }
    EXPECT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    EXPECT_EQ(log.statusTexts(), (QStringList{"Frame registration...", "Registration done."}));
    ASSERT_FALSE(log.progressValues().isEmpty());
    EXPECT_EQ(log.progressValues().last(), 100.0f);
}

TEST(StarCollector, WithOneThreadFramesRunStrictlyInOrder)
{
    const Frames frames = writeFrames("order", {{0, 0, 0}, {2, 1, 0}, {-1, 3, 0}});
    CapturingLog log;
    CollectorRun run(threadsPreference(1), log);
    run.start(frames.paths);
    ASSERT_EQ(run.finishedSignals, 1);
    QStringList expected;
    for (const QString &path : frames.paths)
        expected << "Processing " + path + "..." << "Finished " + path;
    EXPECT_EQ(log.lines().join('\n').toStdString(), expected.join('\n').toStdString());
    EXPECT_EQ(log.progressValues(), (QList<float>{33.0f, 66.0f, 100.0f}));
}

TEST(StarCollector, AFrameThatCannotBeLoadedStopsTheRunWithItsNameAndReason)
{
    const Frames frames = writeFrames("broken", {{0, 0, 0}, {1, 1, 0}});
    ASSERT_TRUE(testsupport::writeBytes("notes.txt", "not an image"));
    // A frame far larger than the machine's memory: refused, never a crash.
    ASSERT_TRUE(testsupport::writeBytes(
        "vast.fits", testsupport::fitsHeaderBlock({"SIMPLE  = T", "BITPIX  = -32", "NAXIS   = 2", "NAXIS1  = 200000",
                                                   "NAXIS2  = 200000"})));
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
        CollectorRun run(threadsPreference(1), log);
        run.start({frames.paths[0], c.path, frames.paths[1]});
        EXPECT_EQ(run.finishedSignals, 0) << "the table is left as it was";
        EXPECT_TRUE(run.collector.results.empty());
        EXPECT_EQ(run.collector.errorCode, c.code);
        const QStringList lines = linesStartingWith(log.lines(), {"Processing", "Finished", "Error raised", "<font"});
        const QStringList expected = {
            "Processing " + frames.paths[0] + "...",
            "Finished " + frames.paths[0],
            "Processing " + c.path + "...",
            QString("<font color=\"#ff6666\">Cannot register %1: %2 (error %3)</font>")
                .arg(c.path, c.reason)
                .arg(c.code),
            QString("Error raised (Code: %1) while scanning frames. Stopping threads, 0 to go.").arg(c.code),
        };
        EXPECT_EQ(lines.join('\n').toStdString(), expected.join('\n').toStdString());
    }
}

TEST(StarCollector, MemoryRuleLowersTheThreadsBeforeAnyFrameStarts)
{
    // The size query reads only the header: a 6000 x 4000 frame without its data is enough to
    // see the rule at work, and its load failure ends the run.
    ASSERT_TRUE(testsupport::writeBytes(
        "huge.fits", testsupport::fitsHeaderBlock({"SIMPLE  = T", "BITPIX  = -32", "NAXIS   = 2", "NAXIS1  = 6000",
                                                   "NAXIS2  = 4000"})));
    ResourcePreferences prefs;
    prefs.maxThreads = 8;
    prefs.maxMem = 1024;
    prefs.memPercent = 50;
    CapturingLog log;
    CollectorRun run(prefs, log, std::uint64_t{600} << 20);
    run.start({"huge.fits", "huge.fits"});
    EXPECT_EQ(run.collector.maxThreads, 1);
    ASSERT_GE(log.lines().size(), 2);
    EXPECT_EQ(log.lines()[0].toStdString(), "[Info] Memory limit reached. Decreasing max. threads from 8 to 1");
    EXPECT_EQ(log.lines()[1].toStdString(), "Processing huge.fits...");
    EXPECT_EQ(log.lines().filter("Processing").size(), 1);
    EXPECT_NE(run.collector.errorCode, 0);
    EXPECT_EQ(run.finishedSignals, 0);
}

TEST(StarCollector, AbortLetsRunningFramesFinishStartsNoOtherAndGivesNoResults)
{
    const Frames frames = writeFrames("abort", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    std::atomic<bool> abortRequest{false};
    AbortingLog log("Finished " + frames.paths[0], abortRequest);
    CollectorRun run(threadsPreference(1), log);
    run.collector.setAbortFlag(&abortRequest);
    run.start(frames.paths);

    EXPECT_EQ(run.finishedSignals, 0);
    EXPECT_TRUE(run.collector.results.empty());
    EXPECT_EQ(run.collector.errorCode, kRegistrationAborted);
    const QStringList expected = {"Processing " + frames.paths[0] + "...", "Finished " + frames.paths[0],
                                  "<font color=\"#ffff00\">Aborting frame registration, please wait...</font>",
                                  "Frame registration aborted."};
    EXPECT_EQ(log.lines().join('\n').toStdString(), expected.join('\n').toStdString());
    EXPECT_EQ(log.statusTexts().last(), "Aborted.");
}

TEST(StarCollector, MastersAreNormalisedLikeTheFramesAndOneOfAnotherSizeIsLeftOut)
{
    const Frames frames = writeFrames("masters", {{0, 0, 0}, {-4, 2.5, 0}});
    CapturingLog plainLog;
    CollectorRun plain(threadsPreference(2), plainLog);
    plain.start(frames.paths);

    // 16-bit masters are normalised: a bias of 0 subtracts nothing and a flat of 65535 divides
    // by about 1.0, where used raw it would divide by 65535 and leave no star. A dark of 1.0
    // would leave nothing to find; at the wrong size it must not be applied.
    const QString bias = writeMaster("bias16.fits", kWidth, kHeight, 0.0, 16);
    const QString dark = writeMaster("small-dark.fits", 200, 150, 1.0);
    const QString flat = writeMaster("flat16.fits", kWidth, kHeight, 65535.0, 16);
    CapturingLog log;
    CollectorRun run(threadsPreference(2), log);
    run.collector.loadMasters(bias, dark, flat, log);
    EXPECT_EQ(run.collector.errorCode, 0);
    EXPECT_EQ(run.collector.darkFile, dark);
    run.start(frames.paths);
    ASSERT_EQ(run.finishedSignals, 1);
    EXPECT_EQ(log.lines().filter(QRegularExpression("not normalised|Warning")).join('\n').toStdString(),
              "Master bias bias16.fits is not normalised (white level 65536): normalising it like the frames.\n"
              "Master flat flat16.fits is not normalised (white level 65536): normalising it like the frames.\n"
              "Warning: master dark is 200 x 150 pixels, "
                  + frames.paths[0].toStdString()
                  + " is 400 x 300 pixels; the master is not applied to frames of that size.");
    ASSERT_EQ(plain.collector.results.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_EQ(run.collector.results[i].stars, plain.collector.results[i].stars) << "frame " << i;
    EXPECT_NEAR(run.collector.results[1].offsetX, frames.truth[1].offsetX, kOffsetTolerance);

    // A master that cannot be loaded stops the run before any frame starts.
    CapturingLog failedLog;
    CollectorRun failed(threadsPreference(2), failedLog);
    failed.collector.loadMasters(QString(), "no-dark.fits", QString(), failedLog);
    failed.start(frames.paths);
    EXPECT_EQ(failed.collector.errorCode, 104);
    EXPECT_EQ(failed.finishedSignals, 0);
    EXPECT_TRUE(failedLog.lines().filter("Processing").isEmpty());
    EXPECT_TRUE(failedLog.contains("<font color=\"#ff6666\">Cannot load master dark no-dark.fits: could not open the "
                                   "named file (error 104)</font>"))
        << failedLog.lines().join('\n').toStdString();
    EXPECT_TRUE(failedLog.contains("Error raised (Code: 104) while scanning frames. Stopping threads, 0 to go."));
}
