// Frames brought to a common sky before they are combined: the factors from known skies, the
// sky measured on frames of known level and noise, stacks of frames whose skies differ, and
// registered stacks that combine only the frames covering each pixel.
#include "stackfixtures.h"

using namespace stacktest;
using Norm = StackNormalization;

namespace {

// A colour frame at `level` with Gaussian noise of `noise` (seeded), the sky a stack compares.
QString writeSkyFrame(const QString &path, double level, double noise, unsigned seed, int width = 64, int height = 48)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.0, noise);
    return writeFrame(path, width, height, [&](int, int, int) { return level + gauss(random); });
}

} // namespace

TEST(FrameNormalization, FactorsBringAFrameToTheReferenceSky)
{
    const FrameSky reference = sky(0.10f, 0.010f);
    const struct {
        Norm mode;
        float scale, offset;
    } cases[] = {{Norm::None, 1.0f, 0.0f},
                 {Norm::Additive, 1.0f, 0.10f - 0.12f},
                 {Norm::Multiplicative, 0.10f / 0.12f, 0.0f},
                 {Norm::AdditiveScaling, 0.5f, 0.10f - 0.5f * 0.12f}};
    for (const auto &c : cases) {
        const NormalizationFactors f = normalizationFactors(c.mode, reference, sky(0.12f, 0.020f));
        const std::string name = normalizationName(c.mode).toStdString();
        EXPECT_FLOAT_EQ(f.scale[1], c.scale) << name;
        EXPECT_FLOAT_EQ(f.offset[1], c.offset) << name;
        EXPECT_NEAR(0.12f * f.scale[2] + f.offset[2], c.mode == Norm::None ? 0.12f : 0.10f, 1e-7) << name;
    }
    // A sky of 0 or no noise cannot be divided by: that channel stays as it is.
    EXPECT_TRUE(normalizationFactors(Norm::AdditiveScaling, reference, sky(0.1f, 0)).identity());
    EXPECT_TRUE(normalizationFactors(Norm::Multiplicative, reference, sky(0.0f, 0.01f)).identity());
    auto band = filled(1, 1, [](int, int, int) { return 0.2f; });
    applyNormalization(*band, normalizationFactors(Norm::AdditiveScaling, reference, sky(0.12f, 0.020f)));
    EXPECT_TRUE(std::fabs(band->pixel(0, 0)[0] - 0.14f) < 1e-6f && band->pixel(0, 0)[3] == 1.0f) << "alpha is kept";
}

TEST(FrameNormalization, SkyOfFramesOfKnownLevelAndNoiseIsMeasuredRobustly)
{
    for (const auto &[level, noise] : {std::pair{0.1, 0.01}, {0.02, 0.005}}) {
        FrameSky measured;
        ASSERT_EQ(measureFrameSky(writeSkyFrame("sky.fits", level, noise, 7, 300, 200), 300, 200, {}, measured), 0);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(measured.level[c], level, noise * 0.05) << level;
            EXPECT_NEAR(measured.noise[c], noise, noise * 0.05) << level;
        }
    }
    FrameSky missing;
    EXPECT_NE(measureFrameSky("no-such-frame.fits", 300, 200, BandMasters{}, missing), 0);
}

TEST(FrameNormalization, StacksOfFramesWhoseSkiesDifferComeOutAtTheFirstFramesSky)
{
    const double levels[] = {0.10, 0.12, 0.09, 0.11}, noises[] = {0.01, 0.02, 0.01, 0.01};
    QStringList frames;
    for (int i = 0; i < 4; ++i)
        frames << writeSkyFrame(QStringLiteral("norm-%1.fits").arg(i), levels[i], noises[i], 20 + i);
    for (const auto &[mode, expected] :
         {std::pair{Norm::None, 0.105}, {Norm::Additive, 0.10}, {Norm::AdditiveScaling, 0.10}}) {
        StackRun run(frames);
        run.fb.setNormalization(mode);
        const auto stack = run.fb.stackAverage();
        ASSERT_TRUE(stack);
        double sum = 0.0;
        for (std::int64_t i = 1; i < stack->floatCount; i += 4)
            sum += stack->data[i];
        EXPECT_NEAR(sum / (stack->width * stack->height), expected, 0.002) << normalizationName(mode).toStdString();
        EXPECT_EQ(run.log.lines().filter("Normalization of ").size(), mode == Norm::None ? 0 : 4);
    }
}

TEST(StackCoverage, EachPixelCombinesOnlyTheFramesThatCoverIt)
{
    // Frame 1 is moved by 32 of its 64 columns: they overlap by half.
    const QStringList frames = {writeConstantFrame("half-0.fits", 64, 8, 0.2),
                                writeConstantFrame("half-1.fits", 64, 8, 0.4)};
    using namespace stackstats;
    const struct {
        int mode, rejection;
        bool coverage;
        Norm normalization;
        float alone0, both, alone1;
        std::int64_t fallbacks;
    } cases[] = {{CombineAverage, RejectNone, false, Norm::None, 0.1f, 0.3f, 0.2f, 0},
                 // A frame is normalised only where it covers the stack: outside it adds 0 unchanged.
                 {CombineAverage, RejectNone, false, Norm::Additive, 0.1f, 0.2f, 0.1f, 0},
                 {CombineAverage, RejectNone, true, Norm::None, 0.2f, 0.3f, 0.4f, 0},
                 {CombineMedian, RejectNone, true, Norm::None, 0.2f, 0.2f, 0.4f, 0},
                 // Trimming one sample by 10 % keeps none: the plain mean of the one sample.
                 {CombineAverage, RejectTrim, true, Norm::None, 0.2f, 0.2f, 0.4f, (32 + 31) * 8}};
    for (const auto &c : cases) {
        StackRun run(frames);
        run.fb.setTransform(0, 0.0f, 0.0f, 0.0f);
        run.fb.setTransform(1, 32.0f, 0.0f, 0.0f);
        run.fb.setCoverage(c.coverage);
        run.fb.setNormalization(c.normalization);
        run.fb.rejectionMode = c.rejection;
        const auto stack = c.mode == CombineMedian ? run.fb.stackMedian() : run.fb.stackAverage();
        ASSERT_TRUE(stack);
        ASSERT_EQ(stack->width, 95);
        const std::string what = std::to_string(c.mode) + "/" + std::to_string(c.rejection) + "/"
                                 + std::to_string(c.coverage) + "/" + normalizationName(c.normalization).toStdString();
        for (int channel = 0; channel < 3; ++channel)
            for (const auto &[x, value] : {std::pair{10, c.alone0}, {40, c.both}, {90, c.alone1}})
                EXPECT_FLOAT_EQ(stack->pixel(x, 4)[channel], value) << what << " at " << x << ", channel " << channel;
        EXPECT_EQ(run.fb.fallbacks(), c.fallbacks) << what;
        EXPECT_EQ(run.log.lines().filter("too few for the rejection").size(), c.coverage ? 1 : 0) << what;
    }
    // A pixel no frame covers (frame 1 turned away from a corner) is not a number.
    StackRun turned(frames);
    turned.fb.setTransform(0, 0.0f, 0.0f, 0.0f);
    turned.fb.setTransform(1, 0.0f, 20.0f, 30.0f);
    turned.fb.setCoverage(true);
    const auto stack = turned.fb.stackAverage();
    ASSERT_TRUE(stack);
    EXPECT_TRUE(
        std::any_of(stack->data.get(), stack->data.get() + stack->floatCount, [](float v) { return std::isnan(v); }));
}

TEST(StackCoverage, TheCoveredRunOfEachRowIsThePixelsNearestSamplingReads)
{
    constexpr int kFrameWidth = 50, kFrameHeight = 40, kBandWidth = 90, kBandRows = 60;
    std::vector<float> dummy(4);
    SourceRowTable source;
    source.width = kFrameWidth;
    source.rows.assign(kFrameHeight, dummy.data());
    const OutputBounds bounds{-25.5f, 0.0f, -18.25f, 0.0f};
    std::mt19937 random(5);
    std::uniform_real_distribution<float> shift(-20.0f, 20.0f), turn(-180.0f, 180.0f);
    for (int trial = 0; trial < 16; ++trial) {
        const FrameRotation rotation(
            {shift(random), shift(random), trial % 4 == 0 ? 90.0f * (trial % 3) : turn(random)}, kFrameWidth,
            kFrameHeight);
        ImageBuffer band(kBandWidth, kBandRows);
        std::fill(band.data.get(), band.data.get() + band.floatCount, 1.0f);
        finishRegisteredRows(source, band, 0, kBandRows, 0, rotation, bounds, NormalizationFactors{}, true);
        for (int j = 0; j < kBandRows; ++j)
            for (int u = 0; u < kBandWidth; ++u) {
                float x = 0.0f, y = 0.0f;
                rotation.inverse(std::trunc(bounds.minX) + u, j + bounds.minY, x, y);
                ASSERT_EQ(band.pixel(u, j)[3], insideFrame(x, y, kFrameWidth, kFrameHeight) ? 1.0f : 0.0f)
                    << "trial " << trial << " at " << u << "," << j;
            }
    }
}
