// Master frames: the post-processing by type on a known ramp, and whole runs that stack,
// calibrate and post-process.
#include "stack/masterframe.h"
#include "stackfixtures.h"

using namespace stacktest;

namespace {

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

TEST(MasterFrame, FlatChannelsAreScaledToTheirBrightPointAndLimitedAndDarksReportTheirHighestPixelData)
{
    MasterFrameOptions options; // a flat
    CapturingLog log;
    auto untouched = rampMaster(), master = rampMaster();
    ASSERT_TRUE(finishMasterFrame(*untouched, options, log));
    EXPECT_EQ(untouched->getPixel(0, 70).b, 0.5f) << "normalised only when asked";
    options.normalizeChannels = true; // ignored but for flats
    ASSERT_TRUE(finishMasterFrame(*master, options, log));
    // Green is one value: its point is that value, so it becomes 1.0 everywhere. Blue's point
    // is 0.5: it doubles, and 0 stays 0. Red is scaled by about 1 / 0.999, and the brightest
    // 0.1 % end at 1.0.
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
    ASSERT_TRUE(biasMaster);
    EXPECT_FALSE(bias.fb.biasMaster());
    EXPECT_FLOAT_EQ(biasMaster->getPixel(0, 0).r, 0.5f) << "the average";
    EXPECT_NEAR(highestPixelData(bias.log), 0.5f, 1e-4f);
    aborted.fb.abortFlag()->store(true);
    EXPECT_FALSE(generateMasterFrame(aborted.fb, options, aborted.log));
    EXPECT_EQ(aborted.fb.errorCode, kStackAborted);
}
