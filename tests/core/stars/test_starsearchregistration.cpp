// The star-search registration: frames one after another on the calling thread, every step in
// the console, and the table the registration dialog is opened with.
#include "registrationframes.h"
#include "stars/starsearchregistration.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace registrationtest;
using testsupport::CapturingLog;

namespace {

StarSearchRegistrationRequest request(const QStringList &files)
{
    StarSearchRegistrationRequest r;
    r.files = files;
    r.search.threshold = kThreshold;
    return r;
}

} // namespace

TEST(StarSearchRegistration, RegistersFramesInOrderWithEveryStepInTheConsole)
{
    const SyntheticFrames frames = writeSyntheticFrames("search", {{0, 0, 0}, {5.5, -3.25, 0}, {-2.5, 4, -0.4}});
    CapturingLog log;
    std::atomic<bool> abortRequest{false};
    const StarSearchRegistration result = runStarSearchRegistration(request(frames.paths), log, &abortRequest);
    ASSERT_EQ(result.outcome, StarSearchOutcome::Registered);
    ASSERT_EQ(result.table.frames.size(), 3u);
    EXPECT_EQ(result.table.threshold, kThreshold);
    for (std::size_t i = 0; i < 3; ++i) {
        const RegistrationTableRow &row = result.table.frames[i];
        EXPECT_TRUE(row.file == frames.paths[static_cast<int>(i)] && row.stackable) << "frame " << i;
        EXPECT_NEAR(row.offsetX, frames.truth[i].offsetX, kOffsetTolerance) << "frame " << i;
        EXPECT_NEAR(row.offsetY, frames.truth[i].offsetY, kOffsetTolerance) << "frame " << i;
        EXPECT_NEAR(row.angle, frames.truth[i].angle, kAngleTolerance) << "frame " << i;
    }

    const QStringList lines = log.lines();
    const QStringList steps = lines.filter(QRegularExpression("^(=+|Searching for|Phase 1|Comparing|Appending)"));
    QStringList expected;
    for (const QString &path : frames.paths)
        expected << "=================================================" << "Searching for stars in " + path + "..."
                 << "Phase 1: Mapping stars...";
    expected << "Comparing reference with frame 1..." << "Comparing reference with frame 2...";
    for (const QString &path : frames.paths)
        expected << "Appending " + path;
    EXPECT_EQ(steps.join('\n').toStdString(), expected.join('\n').toStdString());
    EXPECT_EQ(lines.filter("Calculated transformation from").size(), 2) << "the estimate's own lines are shown";
}

TEST(StarSearchRegistration, AbortAfterAFrameClearsTheFlagAndEndsWithoutATable)
{
    const SyntheticFrames frames = writeSyntheticFrames("searchabort", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}});
    std::atomic<bool> abortRequest{false};
    AbortingLog log("Searching for stars in " + frames.paths[1] + "...", abortRequest);
    const StarSearchRegistration result = runStarSearchRegistration(request(frames.paths), log, &abortRequest);
    EXPECT_EQ(result.outcome, StarSearchOutcome::Aborted);
    EXPECT_TRUE(result.table.frames.empty());
    EXPECT_FALSE(abortRequest) << "the request is used up";
    EXPECT_EQ(log.lines().last(), "Aborted image registration.");
    EXPECT_TRUE(log.lines().filter(frames.paths[2]).isEmpty()) << "the frame after the abort is not started";
}

TEST(StarSearchRegistration, FailuresNameTheFileAndTheReason)
{
    const SyntheticFrames frames = writeSyntheticFrames("searchfail", {{0, 0, 0}, {1, 0, 0}});
    CapturingLog log;
    EXPECT_EQ(runStarSearchRegistration(request({frames.paths[0]}), log).outcome, StarSearchOutcome::TooFewFrames);
    EXPECT_EQ(log.lines(), QStringList{"Not enough frames to do registration!"});

    CapturingLog frameLog;
    const StarSearchRegistration missing =
        runStarSearchRegistration(request({frames.paths[0], "gone.fits", frames.paths[1]}), frameLog);
    EXPECT_TRUE(missing.outcome == StarSearchOutcome::Failed && missing.errorCode == 104);
    EXPECT_EQ(frameLog.lines().last().toStdString(), "Cannot register gone.fits: could not open the named file (error 104)");
    EXPECT_TRUE(frameLog.contains(frameLog.lines().last(), Severity::Error));

    CapturingLog masterLog;
    StarSearchRegistrationRequest withFlat = request(frames.paths);
    withFlat.flatPath = "no-flat.fits";
    const StarSearchRegistration noFlat = runStarSearchRegistration(withFlat, masterLog);
    EXPECT_EQ(noFlat.outcome, StarSearchOutcome::Failed);
    EXPECT_TRUE(masterLog.lines().filter("Searching").isEmpty());
    EXPECT_TRUE(masterLog.contains("Cannot load master flat no-flat.fits: could not open the named file (error 104)",
                                   Severity::Error));
}

TEST(StarSearchRegistration, MastersAreBiasCorrectedAndOneOfAnotherSizeIsLeftOut)
{
    const SyntheticFrames frames = writeSyntheticFrames("searchmaster", {{0, 0, 0}, {2, -2, 0}});
    // A flat equal to the bias is nothing once the bias is taken off it: every frame divided by
    // it is full scale (or not a number) everywhere, with no star left. Without the correction
    // the frames would be (frame - 0.25) / 0.25, full of stars.
    StarSearchRegistrationRequest calibrated = request(frames.paths);
    calibrated.biasPath = writeMaster("search-bias.fits", kWidth, kHeight, 0.25);
    calibrated.flatPath = writeMaster("search-flat.fits", kWidth, kHeight, 0.25);
    calibrated.darkPath = writeMaster("search-dark.fits", 100, 100, 5.0);
    CapturingLog log;
    const StarSearchRegistration result = runStarSearchRegistration(calibrated, log);
    ASSERT_EQ(result.outcome, StarSearchOutcome::Registered);
    EXPECT_EQ(log.lines().filter("Warning").join('\n').toStdString(),
              "Warning: master bias is 400 x 300 pixels, master dark is 100 x 100 pixels; the bias is not subtracted "
              "from it.\n"
              "Warning: master dark is 100 x 100 pixels, the frames are 400 x 300 pixels; the master is not applied to "
              "frames of that size.");
    for (std::size_t i = 0; i < 2; ++i)
        EXPECT_EQ(result.table.frames[i].stars, 0.0f) << "frame " << i;
    EXPECT_FALSE(result.table.frames[1].stackable);
}
