// Frames weighed by their quality: the weights from known noise and FWHM, the weighted
// statistics on known samples, and stacks whose equal frames give the unweighted result.
#include "stack/frameweights.h"
#include "stack/multifb.h"
#include "stack/stackstatistics.h"
#include "stack/weightedstatistics.h"
#include "stackfixtures.h"
#include "support/capturinglog.h"

#include <cmath>

#include <gtest/gtest.h>

using namespace stacktest;

namespace {

FrameSky skyWithNoise(float noise)
{
    FrameSky s;
    for (float &n : s.noise)
        n = noise;
    return s;
}

QString writeNoisyFrame(const QString &path, double noise, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0.1, noise);
    return writeFrame(path, 64, 48, [&](int, int, int) { return gauss(random); });
}

double spread(const ImageBuffer &image)
{
    double sum = 0.0, squares = 0.0;
    const int n = image.width * image.height;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            sum += image.pixel(x, y)[0];
            squares += double(image.pixel(x, y)[0]) * image.pixel(x, y)[0];
        }
    return std::sqrt(squares / n - (sum / n) * (sum / n));
}

} // namespace

TEST(FrameWeights, InverseVarianceAndFwhmScaledToAMeanOfOne)
{
    const std::vector<FrameSky> skies = {skyWithNoise(0.01f), skyWithNoise(0.02f)};
    EXPECT_EQ(frameWeights(StackWeighting::None, skies, {}), std::vector<float>({1.0f, 1.0f}));
    const std::vector<float> noise = frameWeights(StackWeighting::Noise, skies, {});
    EXPECT_FLOAT_EQ(noise[0], 1.6f); // 1 / 0.0001 and 1 / 0.0004 about their mean 6250
    EXPECT_FLOAT_EQ(noise[1], 0.4f);
    const std::vector<float> both = frameWeights(StackWeighting::NoiseFwhm, skies, {2.0f, 1.0f});
    EXPECT_FLOAT_EQ(both[0], 1.0f); // 2500 and 2500
    EXPECT_FLOAT_EQ(both[1], 1.0f);
    // Equal frames weigh exactly 1; a frame without a measurable noise counts as an average one.
    EXPECT_EQ(frameWeights(StackWeighting::Noise, {skies[1], skies[1], skies[1]}, {}),
              std::vector<float>(3, 1.0f));
    EXPECT_EQ(frameWeights(StackWeighting::Noise, {skies[0], skyWithNoise(0.0f)}, {}),
              std::vector<float>({1.0f, 1.0f}));
}

TEST(FrameWeights, WeightedStatisticsOnKnownSamples)
{
    struct Case {
        int mode, rejection;
        std::vector<float> values, weights;
        float expected;
    } cases[] = {
        {stackstats::CombineAverage, stackstats::RejectNone, {1, 2, 3}, {1, 1, 2}, 2.25f},
        {stackstats::CombineMedian, stackstats::RejectNone, {1, 2, 3}, {1, 1, 9}, 2.0f},
        // Winsorizing one of five at each end: 0 (weight 2) and 9 become 1 and 4, each keeping
        // its weight: (2 x 1 + 1 + 2 + 4 + 4) / 6.
        {stackstats::CombineAverage, stackstats::RejectWinsorize, {9, 0, 2, 1, 4}, {1, 2, 1, 1, 1}, 13.0f / 6.0f},
        // Sigma: the weighted mean 2 and deviation 1.41 keep the four samples below 3.41.
        {stackstats::CombineSigma, stackstats::RejectNone, {1, 1, 1, 1, 4}, {1, 1, 1, 1, 2}, 1.0f},
        // The weight moves the mean to 1.5 and the deviation to 0.87: only the heavy sample stays.
        {stackstats::CombineSigma, stackstats::RejectNone, {1, 3}, {3, 1}, 1.0f},
    };
    for (Case &c : cases) {
        bool fell = false;
        const float got = stackstats::combineWeighted(c.values.data(), c.weights.data(), int(c.values.size()), c.mode,
                                                      c.rejection, 0.2f, 1.0f, false, fell);
        EXPECT_FLOAT_EQ(got, c.expected) << c.mode << "/" << c.rejection;
    }
}

TEST(FrameWeights, NoisyFramesCountLessAndEqualFramesGiveTheUnweightedStack)
{
    // Equal frames (the same file three times) give the unweighted result bit for bit.
    const QString one = writeNoisyFrame("weigh-equal.fits", 0.01, 1);
    for (const bool sigma : {false, true}) {
        testsupport::CapturingLog log;
        MultiFB plain(log, {one, one, one}, preferences(2), kPlentyOfMemory);
        MultiFB weighed(log, {one, one, one}, preferences(2), kPlentyOfMemory);
        weighed.setWeighting(StackWeighting::Noise);
        const auto a = sigma ? plain.stackSigma() : plain.stackAverage();
        const auto b = sigma ? weighed.stackSigma() : weighed.stackAverage();
        ASSERT_TRUE(a && b);
        EXPECT_TRUE(sameBits(*a, *b)) << (sigma ? "sigma" : "average");
        EXPECT_EQ(log.lines().filter("Weight of ").size(), 3);
    }
    // Three frames of noise 0.01 and one of 0.05: weighted, the stack's noise is far lower.
    QStringList frames;
    for (int i = 0; i < 4; ++i)
        frames << writeNoisyFrame(QStringLiteral("weigh-%1.fits").arg(i), i == 3 ? 0.05 : 0.01, 10 + i);
    testsupport::CapturingLog log;
    MultiFB plain(log, frames, preferences(2), kPlentyOfMemory);
    MultiFB weighed(log, frames, preferences(2), kPlentyOfMemory);
    weighed.setWeighting(StackWeighting::Noise);
    const double unweighted = spread(*plain.stackAverage());
    const double weighted = spread(*weighed.stackAverage());
    EXPECT_LT(weighted, 0.75 * unweighted);
    EXPECT_NEAR(weighed.weights()[3] / weighed.weights()[0], 1.0 / 25.0, 0.01);

    // The weighted sigma clipping of four pixels at once gives the one-pixel statistics' bits.
    MultiFB sigma(log, frames, preferences(2), kPlentyOfMemory);
    sigma.setWeighting(StackWeighting::Noise);
    const auto clipped = sigma.stackSigma();
    ASSERT_TRUE(clipped);
    std::vector<std::unique_ptr<ImageBuffer>> images;
    for (const QString &path : frames)
        images.push_back(loadImage(path));
    for (int y = 0; y < clipped->height; y += 7)
        for (int x = 0; x < clipped->width; x += 5) {
            std::vector<float> values, weights = sigma.weights();
            for (const auto &image : images)
                values.push_back(image->pixel(x, y)[0]);
            bool fell = false;
            const float expected = stackstats::combineWeighted(values.data(), weights.data(), 4,
                                                               stackstats::CombineSigma, stackstats::RejectNone, 0.1f,
                                                               1.0f, false, fell);
            ASSERT_TRUE(sameBits(clipped->pixel(x, y)[0], expected)) << x << "," << y;
        }
}
