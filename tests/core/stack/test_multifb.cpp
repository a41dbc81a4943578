#include "calib/calibarithmetic.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "stack/multifb.h"
#include "stack/stackstatistics.h"
#include "stackfixtures.h"
#include "support/capturinglog.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace stacktest;
using testsupport::CapturingLog;

namespace {

// Keeps the traces too, and can act on a status text as it arrives (to press Abort mid-run).
class RunLog : public CapturingLog {
public:
    QStringList traces() const
    {
        QMutexLocker locker(&traceLock);
        return traced;
    }
    void traceMessage(const QString &text) override
    {
        QMutexLocker locker(&traceLock);
        traced << text;
    }
    void setStatusText(const QString &text) override
    {
        CapturingLog::setStatusText(text);
        if (onStatus)
            onStatus(text);
    }
    std::function<void(const QString &)> onStatus;

private:
    mutable QMutex traceLock;
    QStringList traced;
};

std::unique_ptr<ImageBuffer> runMode(MultiFB &fb, int mode)
{
    switch (mode) {
    case stackstats::CombineMedian: return fb.stackMedian();
    case stackstats::CombineSigma: return fb.stackSigma();
    default: return fb.stackAverage();
    }
}

struct StackSetup {
    int threads = 1, rows = 0; // rows per band; 0 = as the budget gives
    int mode = stackstats::CombineAverage, rejection = stackstats::RejectNone;
    QString bias, dark, flat;
    std::vector<FramePlacement> placements; // registered when not empty
};

std::unique_ptr<ImageBuffer> stack(const QStringList &paths, const StackSetup &setup)
{
    CapturingLog log;
    MultiFB fb(log, paths, preferences(setup.threads), kPlentyOfMemory);
    EXPECT_EQ(fb.errorCode, 0);
    EXPECT_TRUE(setup.bias.isEmpty() || fb.setBias(setup.bias));
    EXPECT_TRUE(setup.dark.isEmpty() || fb.setDark(setup.dark));
    EXPECT_TRUE(setup.flat.isEmpty() || fb.setFlat(setup.flat));
    for (std::size_t i = 0; i < setup.placements.size(); ++i)
        fb.setTransform(static_cast<int>(i), setup.placements[i].offsetX, setup.placements[i].offsetY,
                        setup.placements[i].angle);
    if (setup.rows > 0)
        fb.maxScanlines = setup.rows;
    fb.rejectionMode = setup.rejection;
    fb.rejectFraction = 0.2f;
    fb.sigmaFactor = 1.5f;
    auto result = runMode(fb, setup.mode);
    EXPECT_TRUE(result) << "error " << fb.errorCode;
    return result;
}

} // namespace

TEST(MultiFB, ConstructionReportsTheBudgetOrWhyNothingCanBeRead)
{
    CapturingLog single;
    MultiFB one(single, {QStringLiteral("missing.fits")}, preferences(2), kPlentyOfMemory);
    EXPECT_EQ(one.errorCode, kStackTooFewFrames);
    EXPECT_TRUE(single.lines().isEmpty());
    EXPECT_FALSE(one.stackAverage());

    const QStringList frames = writeRandomFrames("budget", 4, 437, 100, 1);
    CapturingLog log;
    const MultiFB fb(log, frames, preferences(3, 1), kPlentyOfMemory);
    EXPECT_EQ(fb.errorCode, 0);
    EXPECT_EQ(fb.maxScanlines, 29) << "1 MB / 20 bytes / 4 frames / 437 columns";
    EXPECT_EQ(log.lines().last(), "[MultiBuffer] Max scanlines: 29");

    CapturingLog failed;
    const MultiFB missing(failed, {QStringLiteral("absent.fits"), frames.first()}, preferences(2), kPlentyOfMemory);
    EXPECT_NE(missing.errorCode, 0);
    EXPECT_EQ(failed.lines(), (QStringList{"An error occured while loading image:", "absent.fits",
                                           "Error code: " + QString::number(missing.errorCode)}));
}

TEST(MultiFB, BandsCoverTheRowsInOrderAndMatchTheStatistics)
{
    const QStringList frames = writeRandomFrames("bands", 5, 24, 100, 2);
    RunLog log;
    MultiFB fb(log, frames, preferences(2), kPlentyOfMemory);
    fb.maxScanlines = 30;
    fb.rejectionMode = stackstats::RejectWinsorize;
    const auto result = fb.stackSigma();
    ASSERT_TRUE(result);
    EXPECT_EQ(fb.bandsLoaded(), 4);
    EXPECT_EQ(fb.heldFirstRow(), 90);
    EXPECT_EQ(fb.heldLastRow(), 99);
    EXPECT_EQ(log.traces().filter("Loading frames from scanline"),
              (QStringList{"Loading frames from scanline 0 to 29...", "Loading frames from scanline 30 to 59...",
                           "Loading frames from scanline 60 to 89...", "Loading frames from scanline 90 to 99..."}));
    EXPECT_EQ(log.lines().filter("Loading bands-").size(), 20) << "each frame once a band";
    EXPECT_FALSE(log.muted.load()) << "the log speaks again after the run";

    // Every pixel is the statistic of the frames' samples at its position.
    std::vector<std::unique_ptr<ImageBuffer>> whole;
    for (const QString &path : frames)
        whole.push_back(loadImage(path));
    for (int y : {0, 29, 30, 59, 60, 89, 90, 99}) {
        for (int x : {0, 11, 23}) {
            float samples[5];
            for (int i = 0; i < 5; ++i)
                samples[i] = whole[static_cast<std::size_t>(i)]->getPixel(x, y).g;
            const float expected = stackstats::combineSigma(samples, 5, stackstats::RejectWinsorize, 0.1f, 1.0f);
            EXPECT_EQ(result->getPixel(x, y).g, expected) << x << "," << y;
        }
    }
}

TEST(MultiFB, OutputIsTheSameForAnyBandSizeAndThreadCount)
{
    const QStringList frames = writeRandomFrames("same", 5, 40, 100, 3);
    using namespace stackstats;
    const std::pair<int, int> combinations[] = {
        {CombineAverage, RejectNone}, {CombineAverage, RejectWinsorize}, {CombineAverage, RejectTrim},
        {CombineMedian, RejectNone},  {CombineSigma, RejectNone},        {CombineSigma, RejectWinsorize},
        {CombineSigma, RejectTrim},
    };
    for (const auto &combination : combinations) {
        StackSetup setup;
        setup.mode = combination.first;
        setup.rejection = combination.second;
        setup.rows = 100;
        const auto oneBand = stack(frames, setup);
        ASSERT_TRUE(oneBand);
        for (const auto &variant : {std::pair<int, int>{1, 30}, {2, 30}, {2, 7}, {8, 1}, {3, 99}}) {
            setup.threads = variant.first;
            setup.rows = variant.second;
            const auto other = stack(frames, setup);
            ASSERT_TRUE(other);
            EXPECT_TRUE(sameBits(*oneBand, *other)) << "mode " << setup.mode << ", rejection " << setup.rejection
                                                    << ", " << setup.threads << " threads, " << setup.rows << " rows";
        }
    }
}

TEST(MultiFB, ARegisteredStackIsTheSameForAnyBandSizeAndThreadCountAndIdentityIsUnregistered)
{
    const QStringList frames = writeRandomFrames("turned", 3, 70, 150, 12);
    StackSetup setup;
    setup.bias = writeFrame("turned-bias.fits", 70, 150, [](int x, int y, int) { return (x + y) * 0.001; });
    setup.flat = writeFrame("turned-flat.fits", 70, 150, [](int x, int, int c) { return 0.6 + x * 0.01 + c * 0.1; });
    for (int mode : {stackstats::CombineMedian, stackstats::CombineSigma}) {
        setup.mode = mode;
        setup.rejection = stackstats::RejectWinsorize;
        setup.threads = 1;
        setup.rows = 0;
        setup.placements = {{0, 0, 0}, {4.5f, -2.25f, 3.0f}, {-6.0f, 5.0f, -1.5f}};
        const auto reference = stack(frames, setup);
        ASSERT_TRUE(reference);
        EXPECT_GT(reference->height, 150);
        for (const auto &variant : {std::pair<int, int>{2, 13}, {3, 100}}) {
            setup.threads = variant.first;
            setup.rows = variant.second;
            const auto result = stack(frames, setup);
            ASSERT_TRUE(result);
            EXPECT_TRUE(sameBits(*reference, *result)) << variant.first << " threads, " << variant.second << " rows";
        }
        setup.placements.assign(3, FramePlacement{0, 0, 0});
        const auto identity = stack(frames, setup);
        setup.placements.clear();
        const auto plain = stack(frames, setup);
        ASSERT_TRUE(identity && plain);
        EXPECT_TRUE(sameBits(*identity, *plain)) << "mode " << mode;
    }
}

TEST(MultiFB, MastersCalibrateEveryBandAtItsOwnRows)
{
    const QStringList frames = {writeConstantFrame("cal-a.fits", 16, 60, 0.8), writeConstantFrame("cal-b.fits", 16, 60, 0.8)};
    StackSetup setup;
    setup.bias = writeFrame("cal-bias.fits", 16, 60, [](int, int y, int) { return y * 0.001; });
    setup.dark = writeFrame("cal-dark.fits", 16, 60, [](int x, int, int c) { return x * 0.002 + c * 0.01; });
    setup.flat = writeFrame("cal-flat.fits", 16, 60, [](int, int y, int) { return 0.5 + y * 0.005; });
    setup.rows = 60;
    const auto oneBand = stack(frames, setup);
    setup.rows = 7;
    setup.threads = 2;
    const auto bands = stack(frames, setup);
    ASSERT_TRUE(oneBand && bands);
    EXPECT_TRUE(sameBits(*oneBand, *bands));

    // The same arithmetic as calibrating the whole frame.
    auto frame = loadImage(frames.first());
    subtractImage(*frame, *loadImage(setup.bias));
    subtractImage(*frame, *loadImage(setup.dark));
    divideImage(*frame, *loadImage(setup.flat));
    for (int y : {0, 6, 7, 55, 59})
        for (int x : {0, 15})
            EXPECT_EQ(bands->getPixel(x, y).b, frame->getPixel(x, y).b) << x << "," << y;
}

TEST(MultiFB, MeanOfTwentyFramesEqualsTheDoublePrecisionMean)
{
    const QStringList frames = writeRandomFrames("mean", 20, 64, 48, 4);
    StackSetup setup;
    setup.threads = 2;
    setup.rows = 13;
    const auto result = stack(frames, setup);
    ASSERT_TRUE(result);
    std::vector<double> sums(static_cast<std::size_t>(result->floatCount), 0.0);
    for (const QString &path : frames) {
        const auto frame = loadImage(path);
        for (std::size_t i = 0; i < sums.size(); ++i)
            sums[i] += frame->data[static_cast<std::int64_t>(i)];
    }
    // 20 single-precision additions of values up to 5, and one product (alpha skipped).
    for (std::size_t i = 0; i < sums.size(); ++i)
        ASSERT_LE(i % 4 == 3 ? 0.0 : std::fabs(result->data[static_cast<std::int64_t>(i)] - sums[i] / 20.0),
                  21 * 5.0 * std::numeric_limits<float>::epsilon()) << "float " << i;
}

TEST(MultiFB, AveragingTwentyNoiseFramesDividesTheNoiseBySqrtTwenty)
{
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0.5, 0.1);
    QStringList frames;
    for (int i = 0; i < 20; ++i)
        frames << writeFrame(QStringLiteral("noise-%1.fits").arg(i), 128, 96, [&](int, int, int) { return noise(random); });
    StackSetup setup;
    setup.threads = 2;
    const auto average = stack(frames, setup);
    ASSERT_TRUE(average);
    const auto deviation = [](const ImageBuffer &image) {
        double sum = 0.0, squares = 0.0;
        const std::int64_t n = image.floatCount / 4 * 3;
        for (std::int64_t i = 0; i < image.floatCount; ++i)
            if (i % 4 != 3) {
                sum += image.data[i];
                squares += double(image.data[i]) * image.data[i];
            }
        return std::sqrt(squares / n - (sum / n) * (sum / n));
    };
    const double single = deviation(*loadImage(frames.first()));
    EXPECT_NEAR(deviation(*average) / (single / std::sqrt(20.0)), 1.0, 0.03);
}

TEST(MultiFB, AbortEndsTheRunWithoutLoadingAnotherBand)
{
    const QStringList frames = writeRandomFrames("abort", 3, 32, 60, 7);
    for (int mode : {stackstats::CombineAverage, stackstats::CombineMedian}) {
        RunLog log;
        MultiFB fb(log, frames, preferences(2), kPlentyOfMemory);
        fb.maxScanlines = 10;
        log.onStatus = [&fb](const QString &status) {
            if (status == "Calculating...")
                fb.abortFlag()->store(true);
        };
        EXPECT_FALSE(runMode(fb, mode));
        EXPECT_EQ(fb.errorCode, kStackAborted);
        EXPECT_EQ(fb.bandsLoaded(), 1);
        EXPECT_EQ(log.statusTexts().last(), "Aborted.");
        const QString line = "Abort request received. All worker threads ended.";
        // The average keeps the line to the trace.
        EXPECT_EQ(log.contains(line), mode == stackstats::CombineMedian);
        EXPECT_EQ(log.traces().contains(line), mode == stackstats::CombineAverage);
    }
}

TEST(MultiFB, AFrameThatFailsToLoadEndsTheRunNamingIt)
{
    QStringList frames = writeRandomFrames("fail", 2, 16, 20, 8);
    ASSERT_TRUE(testsupport::writeBytes("fail-broken.fits", "SIMPLE  = nonsense"));
    frames.insert(1, QStringLiteral("fail-broken.fits"));
    frames << QStringLiteral("fail-notes.txt");

    RunLog log;
    MultiFB fb(log, frames, preferences(1), kPlentyOfMemory);
    ASSERT_EQ(fb.errorCode, 0);
    EXPECT_FALSE(fb.stackMedian());
    EXPECT_NE(fb.errorCode, 0);
    const QStringList lines = log.lines();
    const QStringList failures = lines.filter("Could not load");
    ASSERT_EQ(failures.size(), 1) << "no frame starts after a failure: " << lines.join('\n').toStdString();
    EXPECT_TRUE(failures.first().contains("fail-broken.fits: "));
    EXPECT_TRUE(failures.first().contains(QStringLiteral("(error %1)").arg(fb.errorCode)));
    EXPECT_FALSE(lines.contains("Loading fail-notes.txt"));
    EXPECT_EQ(log.statusTexts().last(), "Error, aborted.");

    frames.removeAt(1);
    CapturingLog extension;
    MultiFB unreadable(extension, frames, preferences(2), kPlentyOfMemory);
    EXPECT_FALSE(unreadable.stackAverage());
    EXPECT_EQ(unreadable.errorCode, kUnreadableExtension);
    EXPECT_EQ(extension.lines().filter("Could not load fail-notes.txt").size(), 1);
}

TEST(MultiFB, AMasterOfAnotherSizeOrMissingIsNotApplied)
{
    const QStringList frames = writeRandomFrames("size", 2, 40, 30, 9);
    CapturingLog log;
    MultiFB fb(log, frames, preferences(2), kPlentyOfMemory);
    EXPECT_FALSE(fb.setFlat(writeConstantFrame("size-flat.fits", 32, 32, 0.5)));
    EXPECT_FALSE(fb.flatMaster());
    EXPECT_TRUE(log.contains("Warning: master flat size-flat.fits is 32 x 32 pixels, the frames are 40 x 30; "
                             "it is not applied."));
    EXPECT_FALSE(fb.setBias("size-missing.fits"));
    EXPECT_TRUE(fb.lastMasterProblem().startsWith("cannot read master bias size-missing.fits: "));
    const auto result = fb.stackAverage();
    ASSERT_TRUE(result);
    EXPECT_TRUE(sameBits(*result, *stack(frames, StackSetup{})));
}

TEST(MultiFB, AMasterInFileUnitsIsNormalisedLikeTheFrames)
{
    const QStringList frames = {writeConstantFrame("units-a.fits", 8, 6, 0.5), writeConstantFrame("units-b.fits", 8, 6, 0.5)};
    const QString bias = writeConstantFrame("units-bias.fits", 8, 6, 6554.0, 16);
    CapturingLog log;
    MultiFB fb(log, frames, preferences(2), kPlentyOfMemory);
    ASSERT_TRUE(fb.setBias(bias));
    EXPECT_EQ(log.lines().filter("Master bias units-bias.fits was not normalised (white level ").size(), 1);
    auto expected = loadImage(bias);
    ASSERT_NE(expected->whiteLevel, 1.0f);
    normalizeImage(*expected);
    const auto result = fb.stackAverage();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->getPixel(3, 3).r, 0.5f - expected->getPixel(3, 3).r);
}

TEST(MultiFB, AFrameOfAnotherSizeAddsSamplesOnlyWhereItReaches)
{
    StackSetup setup;
    setup.rows = 8;
    const auto result = stack({writeConstantFrame("other-a.fits", 40, 30, 0.25), writeConstantFrame("other-b.fits", 40, 30, 0.5),
                               writeConstantFrame("other-c.fits", 20, 10, 1.0)}, setup);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->getPixel(5, 5).g, (1.0f / 3.0f) * 1.75f);
    EXPECT_EQ(result->getPixel(25, 5).g, 0.375f);
    EXPECT_EQ(result->getPixel(5, 20).g, 0.375f) << "below the small frame";
}

TEST(MultiFB, ABudgetWithoutRoomForOneRowEndsBeforeAnyLoad)
{
    CapturingLog log;
    MultiFB fb(log, writeRandomFrames("room", 2, 8, 8, 10), preferences(2), kPlentyOfMemory);
    fb.maxScanlines = 0;
    EXPECT_FALSE(fb.stackAverage());
    EXPECT_EQ(fb.errorCode, kStackBudgetTooSmall);
    EXPECT_EQ(log.lines().filter("Loading").size(), 0);
    EXPECT_EQ(log.lines().filter("does not hold one row of every frame: one row of the 2 frames needs 320 bytes").size(),
              1);
}

TEST(MultiFB, RegisteredFramesMeetInTheCommonFrame)
{
    const auto scene = [](int x, int y, int c) { return 0.01 * ((x * 7 + y * 3 + c) % 50); };
    // The second frame shows the scene 3 columns and 2 rows further on: moved back by (3, 2)
    // it lies on the first.
    const QStringList frames = {writeFrame("moved-a.fits", 30, 20, scene),
                                writeFrame("moved-b.fits", 30, 20, [&](int x, int y, int c) { return scene(x + 3, y + 2, c); })};
    CapturingLog log;
    MultiFB fb(log, frames, preferences(2), kPlentyOfMemory);
    fb.setTransform(0, 0, 0, 0);
    fb.setTransform(1, 3.0f, 2.0f, 0.0f);
    fb.maxScanlines = 6;
    const auto result = fb.stackAverage();
    ASSERT_TRUE(result);
    ASSERT_EQ(result->width, 32);
    EXPECT_EQ(result->height, 21);
    for (int y : {2, 10, 19})
        for (int x : {3, 15, 29})
            EXPECT_EQ(result->getPixel(x, y).r, static_cast<float>(scene(x, y, 0))) << x << "," << y;
    // Outside the moved frame its sample is zero colour: half the first frame's value.
    EXPECT_EQ(result->getPixel(1, 10).r, 0.5f * static_cast<float>(scene(1, 10, 0)));

    fb.setTransform(2, 1.0f, 1.0f, 0.0f);
    EXPECT_EQ(fb.errorCode, kStackTransformIndexInvalid);
}
