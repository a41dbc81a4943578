// Stacking from disk band by band: the band size the memory budget gives, the bands against the statistics of whole
// frames, calibration by masters, registered frames, aborts and failures, results that do not depend on the band
// size, the thread count or the interpolation's path, and master frames made from stacks.
#include "calib/calibarithmetic.h"
#include "image/imageloader.h"
#include "stack/masterframe.h"
#include "stack/stackbudget.h"
#include "stackfixtures.h"

using namespace stacktest;
using namespace stackstats;

namespace {

// Acts on a status text as it arrives (to press Abort mid-run).
struct RunLog : CapturingLog {
    void setStatusText(const QString &text) override
    {
        CapturingLog::setStatusText(text);
        onStatus(text);
    }
    std::function<void(const QString &)> onStatus = [](const QString &) {};
};

struct StackSetup {
    StackSetup(int threads = 1, int rows = 0, int mode = CombineAverage, int rejection = RejectNone)
        : threads(threads), rows(rows), mode(mode), rejection(rejection)
    {
    }
    int threads, rows; // rows per band; 0 = as the budget gives
    int mode, rejection;
    QString bias, dark, flat;
    std::vector<FramePlacement> placements; // registered when not empty
    StackInterpolation interpolation = StackInterpolation::Nearest;
};

std::unique_ptr<ImageBuffer> stack(const QStringList &paths, const StackSetup &setup)
{
    StackRun run(paths, setup.threads);
    MultiFB &fb = run.fb;
    EXPECT_EQ(fb.errorCode, 0);
    EXPECT_TRUE((setup.bias.isEmpty() || fb.setBias(setup.bias)) && (setup.dark.isEmpty() || fb.setDark(setup.dark))
                && (setup.flat.isEmpty() || fb.setFlat(setup.flat)));
    for (std::size_t i = 0; i < setup.placements.size(); ++i)
        fb.setTransform(int(i), setup.placements[i].offsetX, setup.placements[i].offsetY, setup.placements[i].angle);
    fb.setInterpolation(setup.interpolation);
    fb.maxScanlines = setup.rows > 0 ? setup.rows : fb.maxScanlines;
    fb.rejectionMode = setup.rejection;
    fb.rejectFraction = 0.2f;
    fb.sigmaFactor = 1.5f;
    auto result = setup.mode == CombineMedian  ? fb.stackMedian()
                  : setup.mode == CombineSigma ? fb.stackSigma()
                                               : fb.stackAverage();
    EXPECT_TRUE(result) << "error " << fb.errorCode;
    return result;
}

// Stacks `frames` with `setup` once as the reference and again with each (threads, rows per
// band) variant, expecting the same bits every time; returns the reference.
std::unique_ptr<ImageBuffer> sameForAnyBandSizeAndThreadCount(const QStringList &frames, StackSetup setup,
                                                              std::initializer_list<std::pair<int, int>> variants,
                                                              const std::string &what)
{
    auto reference = stack(frames, setup);
    for (const auto &[threads, rows] : variants) {
        setup.threads = threads;
        setup.rows = rows;
        const auto other = stack(frames, setup);
        EXPECT_TRUE(reference && other && sameBits(*reference, *other))
            << what << ", " << threads << " threads, " << rows << " rows";
    }
    return reference;
}

constexpr std::uint64_t kMB = std::uint64_t{1} << 20;

// A master of 20000 pixels (enough for a 0.1 % point) whose red channel runs evenly over
// 0 .. 1, green is 0.25 everywhere and blue 0 on one half, 0.5 on the other.
std::unique_ptr<ImageBuffer> rampMaster()
{
    return filled(200, 100, [](int x, int y, int c) {
        return c == 0 ? static_cast<float>(y * 200 + x) / 20000.0f : c == 1 ? 0.25f : y < 50 ? 0.0f : 0.5f;
    });
}

// The figure of the one "Highest pixel data: " line, or -1.
float highestPixelData(const CapturingLog &log)
{
    const QStringList lines = log.lines().filter("Highest pixel data: ");
    return lines.size() == 1 ? lines.first().mid(20).toFloat() : -1.0f;
}

} // namespace

TEST(StackBudget, BandRowsFollowTheBudgetRowByRow)
{
    // maxMem, memPercent, available bytes, frames, width, height -> fromMaxMem, budget MB, rows, maxScanlines.
    const std::tuple<const char *, int, int, std::uint64_t, int, int, int, bool, std::int64_t, int, int> cases[] = {
        {"maxMem below the free memory sets the budget", 4000, 10, 8000 * kMB, 20, 6000, 4000, true, 4000, 1747, 1747},
        {"half the free memory when maxMem is above it", 4000, 50, 2000 * kMB, 20, 6000, 4000, false, 1000, 436, 436},
        {"the band holds whole frames", 1024, 50, 16000 * kMB, 5, 64, 100, true, 1024, 167772, 100},
        {"tight: one row", 1, 50, 8000 * kMB, 8, 6000, 4000, true, 1, 1, 1},
        {"nothing fits", 1, 50, 8000 * kMB, 100, 6000, 4000, true, 1, 0, 0},
    };
    for (const auto &[what, maxMem, memPercent, available, frames, width, height, fromMaxMem, budgetMB, rows,
                      maxScanlines] : cases) {
        const StackBandPlan plan = planStackBands(preferences(8, maxMem, memPercent), available, frames, width, height);
        EXPECT_EQ((std::tuple{plan.fromMaxMem, plan.budgetMB, plan.rows, plan.maxScanlines}),
                  (std::tuple{fromMaxMem, budgetMB, rows, maxScanlines}))
            << what;
    }
    // The full-frame estimate counts every thread: 6000 x 8 x 4000 x 20 bytes = 3662.1 MB, truncated.
    EXPECT_EQ(planStackBands(preferences(8), 8000 * kMB, 20, 6000, 4000).fullFrameLoadMB, 3662);
    EXPECT_EQ(planStackBands(preferences(1), 8000 * kMB, 2, 64, 48).fullFrameLoadMB, 0);
    // Registered frames reckon 28 bytes a pixel: 1000 x 2^20 / 28 / 20 / 6000 = 312.08; half of 2000 MB.
    EXPECT_EQ(registeredBandRows(preferences(8, 1000), 8000 * kMB, 20, 6000), 312);
    EXPECT_EQ(registeredBandRows(preferences(8, 1), 8000 * kMB, 100, 6000), 0);
}

TEST(MultiFB, ConstructionReportsTheBudgetOrWhyNothingCanBeRead)
{
    StackRun one({QStringLiteral("missing.fits")});
    EXPECT_TRUE(one.fb.errorCode == kStackTooFewFrames && one.log.lines().isEmpty() && !one.fb.stackAverage());
    const QStringList frames = writeRandomFrames("budget", 4, 437, 100, 1);
    CapturingLog log;
    MultiFB fb(log, frames, preferences(3, 1), kPlentyOfMemory);
    EXPECT_EQ(std::pair(fb.errorCode, fb.maxScanlines), std::pair(0, 29)) << "1 MB / 20 bytes / 4 frames / 437 columns";
    // A budget without room for one row ends the run before any load.
    fb.maxScanlines = 0;
    EXPECT_TRUE(!fb.stackAverage() && fb.errorCode == kStackBudgetTooSmall && log.lines().filter("Loading").isEmpty());
    EXPECT_EQ(log.lines().filter("one row of the 4 frames needs 34960 bytes").size(), 1);
    const StackRun missing({QStringLiteral("absent.fits"), frames.first()});
    EXPECT_NE(missing.fb.errorCode, 0);
    EXPECT_EQ(missing.log.lines(), (QStringList{"An error occured while loading image:", "absent.fits",
                                                "Error code: " + QString::number(missing.fb.errorCode)}));
}

TEST(MultiFB, BandsCoverTheRowsInOrderAndMatchTheStatistics)
{
    const QStringList frames = writeRandomFrames("bands", 5, 24, 100, 2);
    StackRun run(frames);
    run.fb.maxScanlines = 30;
    run.fb.rejectionMode = RejectWinsorize;
    const auto result = run.fb.stackSigma();
    ASSERT_TRUE(result);
    EXPECT_EQ((std::array{run.fb.bandsLoaded(), run.fb.heldFirstRow(), run.fb.heldLastRow()}), (std::array{4, 90, 99}));
    EXPECT_EQ(run.log.lines().filter("Loading bands-").size(), 20) << "each frame once a band";
    EXPECT_FALSE(run.log.muted.load()) << "the log speaks again after the run";
    // Every pixel is the statistic of the frames' samples at its position, on both sides of every band's edge.
    std::vector<std::unique_ptr<ImageBuffer>> whole;
    for (const QString &path : frames)
        whole.push_back(loadImage(path));
    for (int y : {0, 29, 30, 59, 60, 89, 90, 99})
        for (int x : {0, 11, 23}) {
            float samples[5];
            for (std::size_t i = 0; i < 5; ++i)
                samples[i] = whole[i]->getPixel(x, y).g;
            EXPECT_EQ(result->getPixel(x, y).g, combineSigma(samples, 5, RejectWinsorize, 0.1f, 1.0f)) << x << "," << y;
        }
}

TEST(MultiFB, OutputIsTheSameForAnyBandSizeAndThreadCount)
{
    const QStringList frames = writeRandomFrames("same", 5, 40, 100, 3);
    // Each stack function once; every mode and rejection of a row is in test_stackstatistics.cpp.
    for (const auto &[mode, rejection] :
         {std::pair{CombineAverage, RejectTrim}, {CombineMedian, RejectNone}, {CombineSigma, RejectWinsorize}})
        sameForAnyBandSizeAndThreadCount(frames, {1, 100, mode, rejection}, {{2, 7}, {3, 99}},
                                         "mode " + std::to_string(mode) + ", rejection " + std::to_string(rejection));
    // Masters calibrate every band at its own rows, with the arithmetic of whole frames.
    const QStringList flat = {writeConstantFrame("cal-a.fits", 16, 60, 0.8),
                              writeConstantFrame("cal-b.fits", 16, 60, 0.8)};
    StackSetup setup{1, 60};
    setup.bias = writeFrame("cal-bias.fits", 16, 60, [](int, int y, int) { return y * 0.001; });
    setup.dark = writeFrame("cal-dark.fits", 16, 60, [](int x, int, int c) { return x * 0.002 + c * 0.01; });
    setup.flat = writeFrame("cal-flat.fits", 16, 60, [](int, int y, int) { return 0.5 + y * 0.005; });
    const auto bands = sameForAnyBandSizeAndThreadCount(flat, setup, {{2, 7}}, "calibrated");
    auto frame = loadImage(flat.first());
    subtractImage(*frame, *loadImage(setup.bias));
    subtractImage(*frame, *loadImage(setup.dark));
    divideImage(*frame, *loadImage(setup.flat));
    EXPECT_TRUE(bands && sameBits(*bands, *frame));
}

TEST(MultiFB, ARegisteredStackIsTheSameForAnyBandSizeAndThreadCountAndIdentityIsUnregistered)
{
    // Colour frames through colour masters, and grey frames (whose rows the grey kernel reads).
    const QStringList colour = writeRandomFrames("turned", 3, 50, 120, 21);
    const QStringList grey = writeRandomFrames("turned-grey", 3, 50, 120, 22, 0);
    using Mode = StackInterpolation;
    for (const QStringList &frames : {colour, grey}) {
        StackSetup setup;
        if (frames == colour) {
            setup.bias = writeFrame("turned-bias.fits", 50, 120, [](int x, int y, int) { return (x + y) * 0.001; });
            setup.flat =
                writeFrame("turned-flat.fits", 50, 120, [](int x, int, int c) { return 0.6 + x * 0.01 + c * 0.1; });
        }
        setup.placements = {{0, 0, 0}, {4.5f, -2.25f, 3.0f}, {-6.3f, 5.1f, -1.5f}};
        const auto nearest = stack(frames, setup);
        for (const auto &[interpolation, mode, rejection] : {std::tuple{Mode::Nearest, CombineSigma, RejectWinsorize},
                                                             {Mode::Bilinear, CombineAverage, RejectNone},
                                                             {Mode::Lanczos3, CombineMedian, RejectNone}}) {
            const std::string what = (frames == colour ? "colour, mode " : "grey, mode ") + std::to_string(mode);
            std::tie(setup.interpolation, setup.mode, setup.rejection) = std::tie(interpolation, mode, rejection);
            const auto reference = sameForAnyBandSizeAndThreadCount(frames, setup, {{2, 13}}, what);
            ASSERT_TRUE(reference && nearest && reference->height > 120);
            EXPECT_EQ(reference->pixel(30, 40)[0] != reference->pixel(30, 40)[1], frames == colour) << what;
            if (interpolation != Mode::Nearest) {
                EXPECT_FALSE(sameBits(*reference, *nearest)) << what << ": the interpolation reaches the loaders";
                continue;
            }
            StackSetup unmoved = setup;
            unmoved.placements.assign(3, FramePlacement{0, 0, 0});
            const auto identity = stack(frames, unmoved);
            unmoved.placements.clear();
            EXPECT_TRUE(identity && sameBits(*identity, *stack(frames, unmoved))) << what;
        }
    }
}

TEST(MultiFB, AbortEndsTheRunWithoutLoadingAnotherBand)
{
    const QStringList frames = writeRandomFrames("abort", 3, 32, 60, 7);
    for (int mode : {CombineAverage, CombineMedian}) {
        RunLog log;
        MultiFB fb(log, frames, preferences(2), kPlentyOfMemory);
        fb.maxScanlines = 10;
        log.onStatus = [&fb](const QString &status) {
            if (status == "Calculating...")
                fb.abortFlag()->store(true);
        };
        EXPECT_FALSE(mode == CombineMedian ? fb.stackMedian() : fb.stackAverage());
        EXPECT_EQ(std::tuple(fb.errorCode, fb.bandsLoaded(), log.statusTexts().last()),
                  std::tuple(kStackAborted, 1, QString("Aborted.")));
        // The average keeps the line to the trace.
        EXPECT_EQ(log.contains("Abort request received. All worker threads ended."), mode == CombineMedian);
    }
}

TEST(MultiFB, AFrameThatFailsToLoadEndsTheRunNamingIt)
{
    QStringList frames = writeRandomFrames("fail", 2, 16, 20, 8);
    ASSERT_TRUE(testsupport::writeBytes("fail-broken.fits", "SIMPLE  = nonsense"));
    frames.insert(1, QStringLiteral("fail-broken.fits"));
    frames << QStringLiteral("fail-notes.txt"); // would fail too, were it started
    StackRun run(frames, 1);
    EXPECT_FALSE(run.fb.stackMedian());
    const QStringList failures = run.log.lines().filter("Could not load");
    ASSERT_EQ(failures.size(), 1) << "no frame starts after a failure";
    EXPECT_TRUE(run.fb.errorCode != 0 && failures.first().contains(QStringLiteral("fail-broken.fits: "))
                && failures.first().contains(QStringLiteral("(error %1)").arg(run.fb.errorCode)));
    EXPECT_EQ(run.log.statusTexts().last(), "Error, aborted.");
}

TEST(MultiFB, AMasterOfAnotherSizeOrMissingIsNotAppliedAndOneInFileUnitsIsNormalised)
{
    StackRun run({writeConstantFrame("size-a.fits", 40, 30, 0.5), writeConstantFrame("size-b.fits", 40, 30, 0.5)});
    EXPECT_FALSE(run.fb.setFlat(writeConstantFrame("size-flat.fits", 32, 32, 0.5)) || run.fb.flatMaster());
    EXPECT_TRUE(run.log.contains("Warning: master flat size-flat.fits is 32 x 32 pixels, the frames are 40 x 30; "
                                 "it is not applied."));
    EXPECT_TRUE(!run.fb.setBias("size-missing.fits")
                && run.fb.lastMasterProblem().startsWith("cannot read master bias size-missing.fits: "));
    const QString bias = writeConstantFrame("units-bias.fits", 40, 30, 6554.0, 16);
    ASSERT_TRUE(run.fb.setBias(bias));
    EXPECT_EQ(run.log.lines().filter("Master bias units-bias.fits was not normalised (white level ").size(), 1);
    auto expected = loadImage(bias);
    ASSERT_TRUE(expected->whiteLevel != 1.0f && normalizeImage(*expected));
    const auto result = run.fb.stackAverage();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->getPixel(3, 3).r, 0.5f - expected->getPixel(3, 3).r);
}

TEST(MultiFB, AFrameOfAnotherSizeAddsSamplesOnlyWhereItReaches)
{
    const auto result =
        stack({writeConstantFrame("other-a.fits", 40, 30, 0.25), writeConstantFrame("other-b.fits", 40, 30, 0.5),
               writeConstantFrame("other-c.fits", 20, 10, 1.0)},
              {1, 8});
    ASSERT_TRUE(result);
    EXPECT_EQ((std::array{result->getPixel(5, 5).g, result->getPixel(25, 5).g, result->getPixel(5, 20).g}),
              (std::array{(1.0f / 3.0f) * 1.75f, 0.375f, 0.375f}))
        << "inside, beside and below the small frame";
}

TEST(MultiFB, RegisteredFramesMeetInTheCommonFrame)
{
    // The second frame shows the scene 3 columns and 2 rows further on: moved back by (3, 2) it lies on the first.
    const auto scene = [](int x, int y, int c) { return 0.01 * ((x * 7 + y * 3 + c) % 50); };
    StackRun run({writeFrame("moved-a.fits", 30, 20, scene),
                  writeFrame("moved-b.fits", 30, 20, [&](int x, int y, int c) { return scene(x + 3, y + 2, c); })});
    run.fb.setTransform(0, 0, 0, 0);
    run.fb.setTransform(1, 3.0f, 2.0f, 0.0f);
    run.fb.maxScanlines = 6;
    const auto result = run.fb.stackAverage();
    ASSERT_TRUE(result && result->width == 32 && result->height == 21);
    for (const auto &[x, y] : {std::pair{3, 2}, {15, 10}, {29, 19}, {3, 19}})
        EXPECT_EQ(result->getPixel(x, y).r, static_cast<float>(scene(x, y, 0))) << x << "," << y;
    // Outside the moved frame its sample is zero colour: half the first frame's value.
    EXPECT_EQ(result->getPixel(1, 10).r, 0.5f * static_cast<float>(scene(1, 10, 0)));
    run.fb.setTransform(2, 1.0f, 1.0f, 0.0f);
    EXPECT_EQ(run.fb.errorCode, kStackTransformIndexInvalid);
}

TEST(MasterFrame, FlatChannelsAreScaledToTheirBrightPointAndLimitedAndDarksReportTheirHighestPixelData)
{
    MasterFrameOptions options; // a flat
    CapturingLog log;
    auto untouched = rampMaster(), master = rampMaster();
    ASSERT_TRUE(finishMasterFrame(*untouched, options, log));
    EXPECT_EQ(untouched->getPixel(0, 70).b, 0.5f) << "normalised only when asked";
    options.normalizeChannels = true; // ignored but for flats
    ASSERT_TRUE(finishMasterFrame(*master, options, log));
    // Green is one value: its point is that value, so it becomes 1.0 everywhere. Blue's point is 0.5: it doubles, and 0
    // stays 0. Red is scaled by about 1 / 0.999, and the brightest 0.1 % end at 1.0.
    EXPECT_EQ((std::array{master->getPixel(3, 0).g, master->getPixel(0, 70).b, master->getPixel(0, 10).b,
                          master->getPixel(199, 99).r, master->whiteLevel}),
              (std::array{1.0f, 1.0f, 0.0f, 1.0f, 1.0f}));
    EXPECT_TRUE(master->getPixel(0, 50).r > 0.5f && master->getPixel(0, 50).r < 0.501f);
    EXPECT_EQ(QStringList({masterFrameTitle(MasterType::Flat), masterFrameTitle(MasterType::Dark),
                           masterFrameTitle(MasterType::Bias), masterFrameTitle(MasterType::DarkFlat)}),
              QStringList({"Master Flat", "Master Dark", "Master Bias", "Master Darkflat"}));
    options.type = MasterType::DarkFlat; // as a dark or a bias
    auto dark = rampMaster();
    CapturingLog darkLog;
    ASSERT_TRUE(finishMasterFrame(*dark, options, darkLog));
    EXPECT_NEAR(highestPixelData(darkLog), 0.99f, 0.001f) << "red's 99 % point, above blue's 0.5 and green's 0.25";
    EXPECT_EQ(dark->getPixel(0, 70).b, 0.5f) << "a dark keeps its values";
}

TEST(MasterFrame, GenerationStacksCalibratesAndPostProcesses)
{
    QStringList frames;
    for (int i = 0; i < 3; ++i)
        frames << writeConstantFrame(QStringLiteral("mf-flat-%1.fits").arg(i), 16, 12, 0.4 + 0.1 * i);
    MasterFrameOptions options;
    options.biasPath = writeConstantFrame("mf-bias.fits", 16, 12, 0.1);
    options.darkFlatPath = writeConstantFrame("mf-darkflat.fits", 16, 12, 0.05);
    StackRun flat(frames);
    const auto master = generateMasterFrame(flat.fb, options, flat.log);
    ASSERT_TRUE(master);
    EXPECT_FLOAT_EQ(master->getPixel(4, 4).g, 0.5f - 0.1f - 0.05f) << "median of 0.4, 0.5, 0.6, calibrated";
    // A bias master takes no calibration frames; an aborted run gives no master.
    options.type = MasterType::Bias;
    options.method = 1;
    StackRun bias(frames), aborted(frames);
    const auto biasMaster = generateMasterFrame(bias.fb, options, bias.log);
    ASSERT_TRUE(biasMaster && !bias.fb.biasMaster());
    EXPECT_FLOAT_EQ(biasMaster->getPixel(0, 0).r, 0.5f) << "the average";
    EXPECT_NEAR(highestPixelData(bias.log), 0.5f, 1e-4f);
    aborted.fb.abortFlag()->store(true);
    EXPECT_TRUE(!generateMasterFrame(aborted.fb, options, aborted.log) && aborted.fb.errorCode == kStackAborted);
}
