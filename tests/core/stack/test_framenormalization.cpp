// Frames brought to a common sky and weighed by their quality before they are combined: factors and weights from
// known skies and FWHM, the sky measured on frames of known level and noise, weighted statistics on known samples,
// stacks of frames whose skies differ, and registered stacks that combine only the frames covering each pixel.
#include "stack/frameweights.h"
#include "stack/weightedstatistics.h"
#include "stackfixtures.h"

using namespace stacktest;
using namespace stackstats;
using Norm = StackNormalization;
using Weights = std::vector<float>;

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
    FrameSky measured;
    ASSERT_EQ(measureFrameSky(writeSkyFrame("sky.fits", 0.1, 0.01, 7, 300, 200), 300, 200, {}, measured), 0);
    for (int c = 0; c < 3; ++c)
        EXPECT_TRUE(std::fabs(measured.level[c] - 0.1f) < 5e-4f && std::fabs(measured.noise[c] - 0.01f) < 5e-4f) << c;
    EXPECT_NE(measureFrameSky("no-such-frame.fits", 300, 200, BandMasters{}, measured), 0);
}

TEST(FrameNormalization, AStackOfFramesWhoseSkiesDifferComesOutAtTheFirstFramesSky)
{
    const double levels[] = {0.10, 0.12, 0.09, 0.11}, noises[] = {0.01, 0.02, 0.01, 0.01};
    QStringList frames;
    for (int i = 0; i < 4; ++i)
        frames << writeSkyFrame(QStringLiteral("norm-%1.fits").arg(i), levels[i], noises[i], 20 + i);
    // The mode's factors are pinned above; here the run applies each frame's own (unnormalised: 0.105).
    StackRun run(frames);
    run.fb.setNormalization(Norm::AdditiveScaling);
    const auto stack = run.fb.stackAverage();
    ASSERT_TRUE(stack);
    double sum = 0.0;
    for (std::int64_t i = 1; i < stack->floatCount; i += 4)
        sum += stack->data[i];
    EXPECT_NEAR(sum / (stack->width * stack->height), 0.10, 0.002);
    EXPECT_EQ(run.log.lines().filter("Normalization of ").size(), 4);
}

TEST(FrameWeights, InverseVarianceAndFwhmScaledToAMeanOfOne)
{
    const std::vector<FrameSky> skies = {sky(0, 0.01f), sky(0, 0.02f)};
    EXPECT_EQ(frameWeights(StackWeighting::None, skies, {}), Weights({1.0f, 1.0f}));
    // 1 / 0.0001 and 1 / 0.0004 about their mean 6250; with the FWHM, 2500 and 2500.
    const Weights noise = frameWeights(StackWeighting::Noise, skies, {});
    EXPECT_FLOAT_EQ(noise[0], 1.6f);
    EXPECT_FLOAT_EQ(noise[1], 0.4f);
    EXPECT_EQ(frameWeights(StackWeighting::NoiseFwhm, skies, {2.0f, 1.0f}), Weights({1.0f, 1.0f}));
    // Equal frames weigh exactly 1; a frame without a measurable noise counts as an average one.
    EXPECT_EQ(frameWeights(StackWeighting::Noise, {skies[1], skies[1], skies[1]}, {}), Weights(3, 1.0f));
    EXPECT_EQ(frameWeights(StackWeighting::Noise, {skies[0], sky(0, 0)}, {}), Weights({1.0f, 1.0f}));
}

TEST(FrameWeights, WeightedStatisticsOnKnownSamples)
{
    struct Case {
        int mode, rejection;
        std::vector<float> values, weights;
        float expected;
    } cases[] = {
        {CombineAverage, RejectNone, {1, 2, 3}, {1, 1, 2}, 2.25f},
        {CombineMedian, RejectNone, {1, 2, 3}, {1, 1, 9}, 2.0f},
        // Winsorizing one of five at each end: 0 (weight 2) and 9 become 1 and 4, each keeping
        // its weight: (2 x 1 + 1 + 2 + 4 + 4) / 6.
        {CombineAverage, RejectWinsorize, {9, 0, 2, 1, 4}, {1, 2, 1, 1, 1}, 13.0f / 6.0f},
        // Sigma: the weighted mean 2 and deviation 1.41 keep the four samples below 3.41.
        {CombineSigma, RejectNone, {1, 1, 1, 1, 4}, {1, 1, 1, 1, 2}, 1.0f},
        // A single weighted sample is its own mean.
        {CombineAverage, RejectNone, {5}, {0.5f}, 5.0f},
    };
    for (Case &c : cases) {
        bool fell = false;
        EXPECT_FLOAT_EQ(combineWeighted(c.values.data(), c.weights.data(), int(c.values.size()), c.mode, c.rejection,
                                        0.2f, 1.0f, false, fell),
                        c.expected)
            << c.mode << "/" << c.rejection;
    }
}

TEST(FrameWeights, NoisyFramesCountLessAndEqualFramesGiveTheUnweightedStack)
{
    QStringList frames;
    for (int i = 0; i < 4; ++i)
        frames << writeSkyFrame(QStringLiteral("weigh-%1.fits").arg(i), 0.1, i == 3 ? 0.05 : 0.01, 10 + i);
    int weightLines = 0;
    const auto run = [&](const QStringList &paths, StackWeighting weighting, bool sigma) {
        StackRun stack(paths);
        stack.fb.setWeighting(weighting);
        auto result = sigma ? stack.fb.stackSigma() : stack.fb.stackAverage();
        EXPECT_TRUE(result);
        weightLines += stack.log.lines().filter("Weight of ").size();
        return std::make_pair(std::move(result), stack.fb.weights());
    };
    // Equal frames (the same file three times) give the unweighted result bit for bit.
    const QStringList same = {frames[0], frames[0], frames[0]};
    for (const bool sigma : {false, true})
        EXPECT_TRUE(
            sameBits(*run(same, StackWeighting::None, sigma).first, *run(same, StackWeighting::Noise, sigma).first))
            << sigma;
    EXPECT_EQ(weightLines, 6);
    // Three frames of noise 0.01 and one of 0.05 weigh 25 to 1; the weighted mean and sigma
    // clipping of four pixels at once give the one-pixel statistics' bits.
    std::vector<std::unique_ptr<ImageBuffer>> images;
    for (const QString &path : frames)
        images.push_back(loadImage(path));
    for (const bool sigma : {false, true}) {
        auto [stacked, weights] = run(frames, StackWeighting::Noise, sigma);
        EXPECT_NEAR(weights[3] / weights[0], 1.0 / 25.0, 0.01);
        for (int y = 0; y < stacked->height; y += 7)
            for (int x = 0; x < stacked->width; x += 5) {
                std::vector<float> values, w = weights;
                for (const auto &image : images)
                    values.push_back(image->pixel(x, y)[0]);
                bool fell = false;
                const float expected =
                    combineWeighted(values.data(), w.data(), 4, sigma ? CombineSigma : CombineAverage, RejectNone, 0.1f,
                                    1.0f, false, fell);
                ASSERT_TRUE(sameBits(stacked->pixel(x, y)[0], expected)) << sigma << " at " << x << "," << y;
            }
    }
}

TEST(StackCoverage, EachPixelCombinesOnlyTheFramesThatCoverIt)
{
    // Frame 1 is moved by 32 of its 64 columns: they overlap by half.
    const QStringList frames = {writeConstantFrame("half-0.fits", 64, 8, 0.2),
                                writeConstantFrame("half-1.fits", 64, 8, 0.4)};
    // mode, rejection, coverage, normalization -> the value at x 10 (frame 0 alone), 40 (both), 90 (frame 1
    // alone), fallbacks.
    const std::tuple<int, int, bool, Norm, float, float, float, std::int64_t> cases[] = {
        {CombineAverage, RejectNone, false, Norm::None, 0.1f, 0.3f, 0.2f, 0},
        // A frame is normalised only where it covers the stack: outside it adds 0 unchanged.
        {CombineAverage, RejectNone, false, Norm::Additive, 0.1f, 0.2f, 0.1f, 0},
        {CombineAverage, RejectNone, true, Norm::None, 0.2f, 0.3f, 0.4f, 0},
        {CombineMedian, RejectNone, true, Norm::None, 0.2f, 0.2f, 0.4f, 0},
        // Trimming one sample by 10 % keeps none: the plain mean of the one sample.
        {CombineAverage, RejectTrim, true, Norm::None, 0.2f, 0.2f, 0.4f, (32 + 31) * 8}};
    for (const auto &[mode, rejection, coverage, normalization, alone0, both, alone1, fallbacks] : cases) {
        SCOPED_TRACE(testing::Message() << mode << "/" << rejection << "/" << coverage << "/"
                                        << normalizationName(normalization).toStdString());
        StackRun run(frames);
        run.fb.setTransform(0, 0.0f, 0.0f, 0.0f);
        run.fb.setTransform(1, 32.0f, 0.0f, 0.0f);
        run.fb.setCoverage(coverage);
        run.fb.setNormalization(normalization);
        run.fb.rejectionMode = rejection;
        const auto stack = mode == CombineMedian ? run.fb.stackMedian() : run.fb.stackAverage();
        ASSERT_TRUE(stack && stack->width == 95);
        for (int channel = 0; channel < 3; ++channel)
            for (const auto &[x, value] : {std::pair{10, alone0}, {40, both}, {90, alone1}})
                EXPECT_FLOAT_EQ(stack->pixel(x, 4)[channel], value) << "at " << x << ", channel " << channel;
        EXPECT_TRUE(run.fb.fallbacks() == fallbacks
                    && run.log.lines().filter("too few for the rejection").size() == (coverage ? 1 : 0));
    }
    // A pixel no frame covers (frame 1 turned away from a corner) is not a number.
    StackRun turned(frames);
    turned.fb.setTransform(0, 0.0f, 0.0f, 0.0f);
    turned.fb.setTransform(1, 0.0f, 20.0f, 30.0f);
    turned.fb.setCoverage(true);
    const auto stack = turned.fb.stackAverage();
    ASSERT_TRUE(stack);
    const float *data = stack->data.get();
    EXPECT_TRUE(std::any_of(data, data + stack->floatCount, [](float v) { return std::isnan(v); }));
}

TEST(StackCoverage, TheCoveredRunOfEachRowIsThePixelsNearestSamplingReads)
{
    constexpr int kFrameWidth = 50, kFrameHeight = 40, kBandWidth = 90, kBandRows = 60;
    const auto frame = filled(kFrameWidth, kFrameHeight, [](int, int, int) { return 0.5f; });
    const SourceRowTable source = rowTable(*frame);
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
