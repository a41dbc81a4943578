#include "image/imagebuffer.h"
#include "stack/masterframe.h"
#include "stack/multifb.h"
#include "stackfixtures.h"
#include "support/capturinglog.h"

#include <gtest/gtest.h>

using namespace stacktest;
using testsupport::CapturingLog;

namespace {

// A master of 20000 pixels (enough for a 0.1 % point) whose red channel runs evenly over
// 0 .. 1, green is 0.25 everywhere and blue 0 on one half, 0.5 on the other.
std::unique_ptr<ImageBuffer> rampMaster()
{
    auto master = std::make_unique<ImageBuffer>(200, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 200; ++x) {
            float *p = master->pixel(x, y);
            p[0] = static_cast<float>(y * 200 + x) / 20000.0f;
            p[1] = 0.25f;
            p[2] = y < 50 ? 0.0f : 0.5f;
            p[3] = 1.0f;
        }
    return master;
}

// The figure of the one "Highest pixel data: " line, or -1.
float highestPixelData(const CapturingLog &log)
{
    const QStringList lines = log.lines().filter("Highest pixel data: ");
    return lines.size() == 1 ? lines.first().mid(20).toFloat() : -1.0f;
}

} // namespace

TEST(MasterFrame, FlatChannelsAreScaledToTheirBrightPointAndLimited)
{
    MasterFrameOptions options;
    options.type = MasterType::Flat;
    options.normalizeChannels = true;
    auto master = rampMaster();
    CapturingLog log;
    ASSERT_TRUE(finishMasterFrame(*master, options, log));
    // Green is one value: its point is that value, so it becomes 1.0 everywhere.
    EXPECT_EQ(master->getPixel(3, 0).g, 1.0f);
    // Blue's point is 0.5: it doubles, and 0 stays 0.
    EXPECT_EQ(master->getPixel(0, 70).b, 1.0f);
    EXPECT_EQ(master->getPixel(0, 10).b, 0.0f);
    // Red is scaled by about 1 / 0.999, and the brightest 0.1 % end at 1.0.
    EXPECT_TRUE(master->getPixel(0, 50).r > 0.5f && master->getPixel(0, 50).r < 0.501f);
    EXPECT_EQ(master->getPixel(199, 99).r, 1.0f);
    EXPECT_EQ(master->whiteLevel, 1.0f);

    options.normalizeChannels = false;
    auto untouched = rampMaster();
    ASSERT_TRUE(finishMasterFrame(*untouched, options, log));
    EXPECT_EQ(untouched->getPixel(0, 70).b, 0.5f);
}

TEST(MasterFrame, DarksReportTheirHighestPixelData)
{
    EXPECT_EQ(masterFrameTitle(MasterType::Flat), "Master Flat");
    const std::pair<MasterType, QString> types[] = {
        {MasterType::Dark, "Master Dark"}, {MasterType::Bias, "Master Bias"}, {MasterType::DarkFlat, "Master Darkflat"}};
    for (const auto &type : types) {
        EXPECT_EQ(masterFrameTitle(type.first), type.second);
        MasterFrameOptions options;
        options.type = type.first;
        options.normalizeChannels = true; // ignored but for flats
        auto master = rampMaster();
        CapturingLog log;
        ASSERT_TRUE(finishMasterFrame(*master, options, log));
        EXPECT_NEAR(highestPixelData(log), 0.99f, 0.001f)
            << "red's 99 % point, above blue's 0.5 and green's 0.25";
        EXPECT_EQ(master->getPixel(0, 70).b, 0.5f) << "a dark keeps its values";
    }
}

TEST(MasterFrame, GenerationStacksCalibratesAndPostProcesses)
{
    QStringList frames;
    for (int i = 0; i < 3; ++i)
        frames << writeConstantFrame(QStringLiteral("mf-flat-%1.fits").arg(i), 16, 12, 0.4 + 0.1 * i);
    MasterFrameOptions options;
    options.type = MasterType::Flat;
    options.method = 0;
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
