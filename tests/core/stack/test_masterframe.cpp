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
    auto untouched = rampMaster();
    ASSERT_TRUE(finishMasterFrame(*untouched, options, log));
    EXPECT_EQ(untouched->getPixel(0, 70).b, 0.5f) << "normalised only when asked";
    options.normalizeChannels = true; // ignored but for flats
    auto master = rampMaster();
    ASSERT_TRUE(finishMasterFrame(*master, options, log));
    // Green is one value: its point is that value, so it becomes 1.0 everywhere. Blue's point
    // is 0.5: it doubles, and 0 stays 0.
    EXPECT_EQ(master->getPixel(3, 0).g, 1.0f);
    EXPECT_EQ(master->getPixel(0, 70).b, 1.0f);
    EXPECT_EQ(master->getPixel(0, 10).b, 0.0f);
    // Red is scaled by about 1 / 0.999, and the brightest 0.1 % end at 1.0.
    EXPECT_TRUE(master->getPixel(0, 50).r > 0.5f && master->getPixel(0, 50).r < 0.501f);
    EXPECT_EQ(master->getPixel(199, 99).r, 1.0f);
    EXPECT_EQ(master->whiteLevel, 1.0f);

    EXPECT_EQ(masterFrameTitle(MasterType::Flat), "Master Flat");
    for (const auto &[type, title] : {std::pair{MasterType::Dark, "Master Dark"},
                                      {MasterType::Bias, "Master Bias"},
                                      {MasterType::DarkFlat, "Master Darkflat"}}) {
        EXPECT_EQ(masterFrameTitle(type), title);
        options.type = type;
        auto dark = rampMaster();
        CapturingLog darkLog;
        ASSERT_TRUE(finishMasterFrame(*dark, options, darkLog));
        EXPECT_NEAR(highestPixelData(darkLog), 0.99f, 0.001f) << "red's 99 % point, above blue's 0.5 and green's 0.25";
        EXPECT_EQ(dark->getPixel(0, 70).b, 0.5f) << "a dark keeps its values";
    }
}

TEST(MasterFrame, GenerationStacksCalibratesAndPostProcesses)
{
    QStringList frames;
    for (int i = 0; i < 3; ++i)
        frames << writeConstantFrame(QStringLiteral("mf-flat-%1.fits").arg(i), 16, 12, 0.4 + 0.1 * i);
    MasterFrameOptions options;
    options.biasPath = writeConstantFrame("mf-bias.fits", 16, 12, 0.1);
    options.darkFlatPath = writeConstantFrame("mf-darkflat.fits", 16, 12, 0.05);
    CapturingLog log;
    MultiFB fb(log, frames, preferences(2), kPlentyOfMemory);
    const auto master = generateMasterFrame(fb, options, log);
    ASSERT_TRUE(master);
    EXPECT_FLOAT_EQ(master->getPixel(4, 4).g, 0.5f - 0.1f - 0.05f) << "median of 0.4, 0.5, 0.6, calibrated";

    // A bias master takes no calibration frames.
    options.type = MasterType::Bias;
    options.method = 1;
    CapturingLog biasLog;
    MultiFB biasFb(biasLog, frames, preferences(2), kPlentyOfMemory);
    const auto bias = generateMasterFrame(biasFb, options, biasLog);
    ASSERT_TRUE(bias);
    EXPECT_FALSE(biasFb.biasMaster());
    EXPECT_FLOAT_EQ(bias->getPixel(0, 0).r, 0.5f) << "the average";
    EXPECT_NEAR(highestPixelData(biasLog), 0.5f, 1e-4f);
    // Abort: no master.
    MultiFB aborted(biasLog, frames, preferences(2), kPlentyOfMemory);
    aborted.abortFlag()->store(true);
    EXPECT_FALSE(generateMasterFrame(aborted, options, biasLog));
    EXPECT_EQ(aborted.errorCode, kStackAborted);
}
