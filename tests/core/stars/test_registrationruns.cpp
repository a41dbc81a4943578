// Registration runs over small synthetic frames moved by known amounts: the threaded collector
// (memory rule, refinement, early ends) and the star-search registration on the calling thread.
#include "stars/starcollector.h"
#include "stars/starsearchregistration.h"
#include "support/capturinglog.h"
#include "support/fitsfixture.h"
#include "testdata/starfield.h"

#include <QRegularExpression>

#include <atomic>
#include <cmath>
#include <tuple>

#include <gtest/gtest.h>

using testsupport::CapturingLog;
using testsupport::SyntheticFrames;
using testsupport::writeConstantFrame;
using testsupport::writeSyntheticFrames;

namespace {
constexpr std::uint64_t kMB = std::uint64_t{1} << 20;
// Bright enough for the synthetic stars over their sky at a fraction of a second per frame.
constexpr float kThreshold = 0.02f;

// Whether a result lies within `tolerance` pixels and `angleTolerance` degrees of the known move.
testing::AssertionResult movedBy(const RegistrationResult &r, const SyntheticRegistration &t, double tolerance,
                                 double angleTolerance)
{
    const bool near = std::abs(r.offsetX - t.offsetX) <= tolerance && std::abs(r.offsetY - t.offsetY) <= tolerance
                      && std::abs(r.angle - t.angle) <= angleTolerance;
    return (near ? testing::AssertionSuccess() : testing::AssertionFailure())
           << r.offsetX << ", " << r.offsetY << ", " << r.angle;
}

// Sets the abort flag the moment a given line is logged, from whichever thread logs it.
struct AbortingLog : CapturingLog {
    AbortingLog(QString trigger, std::atomic<bool> &flag) : trigger(std::move(trigger)), flag(flag) {}
    void appendLine(const QString &text, Severity severity) override
    {
        CapturingLog::appendLine(text, severity);
        if (text == trigger)
            flag = true;
    }
    const QString trigger;
    std::atomic<bool> &flag;
};

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

StarSearchRegistrationRequest request(const QStringList &files)
{
    StarSearchRegistrationRequest r;
    std::tie(r.files, r.search.threshold) = std::tie(files, kThreshold);
    return r;
}

std::string joined(const QStringList &lines) { return lines.join('\n').toStdString(); }
} // namespace

TEST(StarCollector, MemoryRuleGivesTheThreadCountRowByRowAndActsBeforeAnyFrameStarts)
{
    const struct {
        int maxThreads, maxMem, memPercent;
        std::uint64_t available;
        int width, height;
        std::int64_t budgetMB;
        int threads;
        bool reduced;
    } rows[] = {
        {8, 1024, 50, 600 * kMB, 6000, 4000, 300, 1, true},    // no frame fits at 28 bytes a pixel: still 1
        {8, 1024, 50, 1024 * kMB, 3000, 2000, 1024, 6, true},  // exactly maxMem available: the budget stays
        {8, 1024, 29, 100 * kMB, 1000, 1000, 29, 1, true},     // 29 % of 100 MB is 29 MB, not 28
        {6, 1024, 50, 4096 * kMB, 3000, 2000, 1024, 6, false}, // exactly as many fit as configured
        {0, 1024, 50, 4096 * kMB, 400, 300, 1024, 1, false},   // absurd preferences: no overflow, 1 thread
        {8, -5, 50, 4096 * kMB, 400, 300, -5, 1, true},
        {8, 1024, 2000000000, 600 * kMB, 400, 300, 12000000000, 8, false},
    };
    for (const auto &row : rows) {
        const RegistrationThreads plan = registrationThreads(preferences(row.maxThreads, row.maxMem, row.memPercent),
                                                             row.available, row.width, row.height);
        EXPECT_TRUE(plan.budgetMB == row.budgetMB && plan.threads == row.threads && plan.reduced == row.reduced)
            << row.maxMem << " MB, " << row.available / kMB << " MB available, " << row.width << " x " << row.height
            << ": " << plan.budgetMB << " MB, " << plan.threads << " threads";
    }
    // The size query reads only the header: a 6000 x 4000 frame without data shows the rule and ends the run.
    ASSERT_TRUE(testsupport::writeBytes("huge.fits", testsupport::fitsHeaderBlock({"SIMPLE  = T", "BITPIX  = -32",
                                                       "NAXIS   = 2", "NAXIS1  = 6000", "NAXIS2  = 4000"})));
    CapturingLog log;
    CollectorRun run(preferences(8), log, 600 * kMB);
    run.start({"huge.fits", "huge.fits"});
    EXPECT_TRUE(run.collector.maxThreads == 1 && run.collector.errorCode != 0);
    EXPECT_EQ(joined(log.lines().mid(0, 2)),
              "[Info] Memory limit reached. Decreasing max. threads from 8 to 1\nProcessing huge.fits...");
}

TEST(StarCollector, RegistersShiftedAndTurnedFramesAlikeOnAnyThreadCountOrSearchAndRefinesThemFarMoreClosely)
{
    const SyntheticFrames frames = writeSyntheticFrames("collect", {{0, 0, 0}, {7.25, -4.5, 0}, {-3.5, 6.0, 0.6}});
    CapturingLog log, oneLog, searchLog;
    CollectorRun run(preferences(2), log), one(preferences(1), oneLog);
    run.start(frames.paths);
    one.start(frames.paths);
    // The star-search registration runs on the calling thread with every step in the console.
    const StarSearchRegistration search = runStarSearchRegistration(request(frames.paths), searchLog);
    ASSERT_TRUE(run.collector.errorCode == 0 && run.finishedSignals == 1 && one.finishedSignals == 1
                && run.collector.results.size() == 3u && one.collector.results.size() == 3u);
    ASSERT_TRUE(search.outcome == StarSearchOutcome::Registered && search.table.frames.size() == 3u
                && search.table.threshold == kThreshold);
    QStringList expected, steps, appending;
    for (std::size_t i = 0; i < 3; ++i) {
        const RegistrationResult &r = run.collector.results[i], &a = one.collector.results[i];
        const RegistrationTableRow &row = search.table.frames[i];
        const QString &path = frames.paths[static_cast<int>(i)];
        EXPECT_TRUE(r.stackable && r.stars > 20.0f && r.fwhm > 0.0f) << "frame " << i;
        EXPECT_TRUE(movedBy(r, frames.truth[i], 0.5, 0.15)) << "frame " << i;
        EXPECT_TRUE(a.offsetX == r.offsetX && a.angle == r.angle) << "one thread, other results: frame " << i;
        EXPECT_TRUE(row.file == path && row.stackable && row.offsetX == r.offsetX && row.offsetY == r.offsetY
                    && row.angle == r.angle)
            << "the star search, other results: frame " << i;
        expected << "Processing " + path + "..." << "Finished " + path;
        steps << "=================================================" << "Searching for stars in " + path + "..."
              << "Phase 1: Mapping stars...";
        appending << "Appending " + path;
    }
    EXPECT_EQ(joined(oneLog.lines()), joined(expected)) << "in order, nothing of the finders' chatter";
    steps << "Comparing reference with frame 1..." << "Comparing reference with frame 2..." << appending;
    EXPECT_EQ(joined(searchLog.lines().filter(QRegularExpression("^(=+|Searching for|Phase 1|Comparing|Appending)"))),
              joined(steps));
    EXPECT_EQ(searchLog.lines().filter("Calculated transformation from").size(), 2) << "the estimate's own lines";
    // Refined with all stars and automatic thresholds: far closer than the pattern estimate.
    CapturingLog refinedLog;
    CollectorRun refined(preferences(2), refinedLog);
    RegistrationParameters parameters; // the threshold is not used: it would find no star
    std::tie(parameters.files, parameters.refine, parameters.autoThreshold, parameters.threshold) =
        std::tuple{frames.paths, true, true, 0.5f};
    refined.collector.configure(parameters);
    refined.collector.run();
    const std::vector<RegistrationResult> &results = refined.collector.results;
    ASSERT_TRUE(results.size() == 3u && results[0].starPairs == 0);
    for (std::size_t i = 0; i < 3; ++i) {
        const RegistrationResult &r = results[i];
        const QString path = frames.paths[static_cast<int>(i)];
        EXPECT_TRUE(r.threshold > 0.0f && r.threshold < 0.05f) << "frame " << i;
        EXPECT_TRUE(refinedLog.contains(QString("Automatic threshold for %1: %2").arg(path, logNumber(r.threshold))));
        if (i > 0) {
            const QString line = QString("Frame %1 (%2) refined with ").arg(i).arg(path);
            EXPECT_TRUE(r.starPairs > 40 && r.residualRms < 0.1f && refinedLog.lines().filter(line).size() == 1) << i;
            EXPECT_TRUE(movedBy(r, frames.truth[i], 0.01, 0.003)) << "frame " << i;
        }
    }
}

TEST(StarCollector, AFrameOrMasterThatCannotBeLoadedOrAnAbortEndsTheRunAndMastersAreNormalisedLikeTheFrames)
{
    const SyntheticFrames frames = writeSyntheticFrames("broken", {{0, 0, 0}, {1, 1, 0}, {2, 0, 0}});
    CapturingLog missingLog;
    CollectorRun missing(preferences(1), missingLog);
    missing.start({frames.paths[0], "no-such-frame.fits", frames.paths[1]});
    EXPECT_TRUE(missing.finishedSignals == 0 && missing.collector.results.empty() && missing.collector.errorCode == 104)
        << "the table is left as it was";
    const QRegularExpression steps("^(Processing|Finished|Error raised|Cannot register)");
    EXPECT_EQ(joined(missingLog.lines().filter(steps)),
              joined({"Processing " + frames.paths[0] + "...", "Finished " + frames.paths[0],
                      "Processing no-such-frame.fits...",
                      "Cannot register no-such-frame.fits: could not open the named file (error 104)",
                      "Error raised (Code: 104) while scanning frames. Stopping threads, 0 to go."}));
    // An abort lets the running frame finish and starts no other.
    std::atomic<bool> abortRequest{false};
    AbortingLog log("Finished " + frames.paths[0], abortRequest);
    CollectorRun run(preferences(1), log);
    run.collector.setAbortFlag(&abortRequest);
    run.start(frames.paths);
    EXPECT_TRUE(run.finishedSignals == 0 && run.collector.results.empty()
                && run.collector.errorCode == kRegistrationAborted);
    const QStringList expected = {"Processing " + frames.paths[0] + "...", "Finished " + frames.paths[0],
                                  "Aborting frame registration, please wait...", "Frame registration aborted."};
    EXPECT_EQ(joined(log.lines()), joined(expected));
    EXPECT_TRUE(log.contains(expected[2], Severity::Notice));
    // A master that cannot be loaded stops the run before any frame starts.
    CapturingLog failedLog, plainLog, masterLog;
    CollectorRun failed(preferences(2), failedLog), plain(preferences(2), plainLog), masters(preferences(2), masterLog);
    failed.collector.loadMasters(QString(), "no-dark.fits", QString(), failedLog);
    failed.start(frames.paths);
    EXPECT_TRUE(failed.collector.errorCode == 104 && failed.finishedSignals == 0
                && failedLog.lines().filter("Processing").isEmpty());
    EXPECT_TRUE(failedLog.contains("Cannot load master dark no-dark.fits: could not open the named file (error 104)",
                                   Severity::Error))
        << joined(failedLog.lines());
    plain.start(frames.paths.mid(0, 2));
    // 16-bit masters are normalised: a flat of 65535 divides by about 1.0 (raw, it would leave no
    // star). A dark of 1.0 would leave nothing to find; at the wrong size it is not applied.
    masters.collector.loadMasters(writeConstantFrame("bias16.fits", 400, 300, 0.0, 16, 0),
                                  writeConstantFrame("small-dark.fits", 200, 150, 1.0, -32, 0),
                                  writeConstantFrame("flat16.fits", 400, 300, 65535.0, 16, 0), masterLog);
    EXPECT_EQ(masters.collector.errorCode, 0);
    masters.start(frames.paths.mid(0, 2));
    ASSERT_TRUE(masters.finishedSignals == 1 && plain.collector.results.size() == 2u);
    EXPECT_EQ(joined(masterLog.lines().filter(QRegularExpression("not normalised|Warning"))),
              "Master bias bias16.fits is not normalised (white level 65536): normalising it like the frames.\n"
              "Master flat flat16.fits is not normalised (white level 65536): normalising it like the frames.\n"
              "Warning: master dark is 200 x 150 pixels, "
                  + frames.paths[0].toStdString()
                  + " is 400 x 300 pixels; the master is not applied to frames of that size.");
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_EQ(masters.collector.results[i].stars, plain.collector.results[i].stars) << "frame " << i;
}

TEST(StarSearchRegistration, AbortClearsTheFlagFailuresNameTheFileAndMastersAreBiasCorrectedIfOfTheSameSize)
{
    const SyntheticFrames frames = writeSyntheticFrames("searchabort", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    std::atomic<bool> abortRequest{false};
    AbortingLog log("Searching for stars in " + frames.paths[1] + "...", abortRequest);
    const StarSearchRegistration result = runStarSearchRegistration(request(frames.paths), log, &abortRequest);
    EXPECT_TRUE(result.outcome == StarSearchOutcome::Aborted && result.table.frames.empty() && !abortRequest)
        << "the request is used up";
    EXPECT_EQ(log.lines().last(), "Aborted image registration.");
    EXPECT_TRUE(log.lines().filter(frames.paths[2]).isEmpty()) << "the frame after the abort is not started";
    CapturingLog fewLog, frameLog, masterLog;
    EXPECT_EQ(runStarSearchRegistration(request({frames.paths[0]}), fewLog).outcome, StarSearchOutcome::TooFewFrames);
    EXPECT_EQ(fewLog.lines(), QStringList{"Not enough frames to do registration!"});
    const StarSearchRegistration missing =
        runStarSearchRegistration(request({frames.paths[0], "gone.fits", frames.paths[1]}), frameLog);
    EXPECT_TRUE(missing.outcome == StarSearchOutcome::Failed && missing.errorCode == 104);
    EXPECT_TRUE(
        frameLog.contains("Cannot register gone.fits: could not open the named file (error 104)", Severity::Error));
    StarSearchRegistrationRequest withFlat = request(frames.paths);
    withFlat.flatPath = "no-flat.fits";
    EXPECT_TRUE(runStarSearchRegistration(withFlat, masterLog).outcome == StarSearchOutcome::Failed
                && masterLog.lines().filter("Searching").isEmpty());
    EXPECT_TRUE(masterLog.contains("Cannot load master flat no-flat.fits: could not open the named file (error 104)",
                                   Severity::Error));
    // A flat equal to the bias is nothing once the bias is off it: no star is left. Without the
    // correction the frames would be (frame - 0.25) / 0.25, full of stars.
    StarSearchRegistrationRequest calibrated = request(frames.paths.mid(0, 2));
    calibrated.biasPath = writeConstantFrame("search-bias.fits", 400, 300, 0.25, -32, 0);
    calibrated.flatPath = writeConstantFrame("search-flat.fits", 400, 300, 0.25, -32, 0);
    calibrated.darkPath = writeConstantFrame("search-dark.fits", 100, 100, 5.0, -32, 0);
    CapturingLog calibratedLog;
    const StarSearchRegistration calibration = runStarSearchRegistration(calibrated, calibratedLog);
    ASSERT_EQ(calibration.outcome, StarSearchOutcome::Registered);
    EXPECT_EQ(joined(calibratedLog.lines().filter("Warning")),
              "Warning: master bias is 400 x 300 pixels, master dark is 100 x 100 pixels; the bias is not subtracted "
              "from it.\nWarning: master dark is 100 x 100 pixels, the frames are 400 x 300 pixels; the master is not "
              "applied to frames of that size.");
    EXPECT_TRUE(calibration.table.frames[0].stars == 0.0f && calibration.table.frames[1].stars == 0.0f
                && !calibration.table.frames[1].stackable);
}
