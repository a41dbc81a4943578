// Frames weighed by their quality: the weights from known noise and FWHM, the weighted
// statistics on known samples, and stacks whose equal frames give the unweighted result.
#include "stack/frameweights.h"
#include "stack/weightedstatistics.h"
#include "stackfixtures.h"

using namespace stacktest;
using namespace stackstats;
using Weights = std::vector<float>;

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
        // The weight moves the mean to 1.5 and the deviation to 0.87: only the heavy sample stays.
        {CombineSigma, RejectNone, {1, 3}, {3, 1}, 1.0f},
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
    for (int i = 0; i < 4; ++i) {
        std::mt19937 random(10 + i);
        std::normal_distribution<double> gauss(0.1, i == 3 ? 0.05 : 0.01);
        frames << writeFrame(QStringLiteral("weigh-%1.fits").arg(i), 64, 48,
                             [&](int, int, int) { return gauss(random); });
    }
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
                const float expected = combineWeighted(values.data(), w.data(), 4, sigma ? CombineSigma : CombineAverage,
                                                       RejectNone, 0.1f, 1.0f, false, fell);
                ASSERT_TRUE(sameBits(stacked->pixel(x, y)[0], expected)) << sigma << " at " << x << "," << y;
            }
    }
}
