#include "stack/lanestatistics.h"
#include "stack/stackstatistics.h"
#include "stackfixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

using stacktest::sameBits;

namespace {

std::vector<float> randomSamples(std::mt19937 &random, int count)
{
    // Few distinct levels, so that ties are common, and now and then an infinity.
    std::uniform_int_distribution<int> level(0, 60);
    std::vector<float> samples(static_cast<std::size_t>(count));
    for (float &v : samples) {
        const int l = level(random);
        v = l == 60 ? std::numeric_limits<float>::infinity() : l == 59 ? -2.5f : static_cast<float>(l) * 0.0625f;
    }
    return samples;
}

} // namespace

TEST(LaneStatistics, NetworksSortAndSelectLikeAFullSort)
{
    std::mt19937 random(21);
    for (int n = 1; n <= kMaxLaneSamples; ++n) {
        const SortingNetwork network(n);
        const SortingNetwork median = network.selecting((n - 1) / 2);
        EXPECT_LE(median.steps.size(), network.steps.size());
        for (int round = 0; round < 20; ++round) {
            std::vector<float> values = randomSamples(random, n);
            std::vector<float> sorted = values;
            std::sort(sorted.begin(), sorted.end());
            std::vector<float> selected = values;
            for (const auto &step : network.steps)
                if (values[step.second] < values[step.first])
                    std::swap(values[step.first], values[step.second]);
            for (const auto &step : median.steps)
                if (selected[step.second] < selected[step.first])
                    std::swap(selected[step.first], selected[step.second]);
            ASSERT_EQ(values, sorted) << n;
            ASSERT_EQ(selected[(n - 1) / 2], sorted[(n - 1) / 2]) << n;
        }
    }
}

TEST(LaneStatistics, FourPixelsAtOnceGiveTheOnePixelBits)
{
    if (!LaneCombiner::available())
        GTEST_SKIP() << "no vector path in this build";
    std::mt19937 random(22);
    for (int mode : {stackstats::CombineAverage, stackstats::CombineMedian, stackstats::CombineSigma}) {
        for (int rejection : {stackstats::RejectNone, stackstats::RejectWinsorize, stackstats::RejectTrim}) {
            for (float fraction : {0.1f, 0.25f, 0.45f, 0.9f}) {
                for (int n : {1, 2, 3, 4, 7, 20, 33, 64}) {
                    const LaneCombiner lanes(mode, rejection, fraction, 1.3f, n);
                    std::vector<std::vector<float>> pixels;
                    std::vector<float> interleaved(static_cast<std::size_t>(4 * n));
                    for (int lane = 0; lane < 4; ++lane) {
                        pixels.push_back(randomSamples(random, n));
                        for (int i = 0; i < n; ++i)
                            interleaved[static_cast<std::size_t>(4 * i + lane)] = pixels.back()[static_cast<std::size_t>(i)];
                    }
                    float out[8];
                    lanes.combine(interleaved.data(), out, 2);
                    for (int lane = 0; lane < 4; ++lane) {
                        std::vector<float> samples = pixels[static_cast<std::size_t>(lane)];
                        const float expected =
                            stackstats::combine(samples.data(), n, mode, rejection, fraction, 1.3f);
                        EXPECT_TRUE(sameBits(out[2 * lane], expected))
                            << "mode " << mode << ", rejection " << rejection << ", f " << fraction << ", n " << n
                            << ": " << out[2 * lane] << " against " << expected;
                    }
                }
            }
        }
    }
}
