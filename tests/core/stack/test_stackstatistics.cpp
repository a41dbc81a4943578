#include "stack/stackstatistics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

using namespace stackstats;

TEST(StackStatistics, WinsorizeReplacesTheEndsBySortedNeighbours)
{
    std::vector<float> samples = {10, 3, 1, 7, 2, 9, 4, 8, 6, 5};
    winsorize(samples.data(), 10, 0.1f);
    EXPECT_EQ(samples, (std::vector<float>{2, 2, 3, 4, 5, 6, 7, 8, 9, 9}));

    // c = roundf(2.5) = 3, half away from zero: 1 .. 25 becomes 4, 4, 4, 4, 5 .. 21, 22, 22, 22, 22.
    std::vector<float> more(25), clamped(25);
    for (int i = 0; i < 25; ++i) {
        more[i] = 25.0f - i;
        clamped[i] = std::clamp(i + 1.0f, 4.0f, 22.0f);
    }
    winsorize(more.data(), 25, 0.1f);
    EXPECT_EQ(more, clamped);
}

TEST(StackStatistics, TrimKeepsTheMiddleAndDropsTheExtraValueHigh)
{
    std::vector<float> samples = {10, 2, 3, 4, 5, 6, 7, 8, 9, 1};
    ASSERT_EQ(trim(samples.data(), 10, 0.1f), 9);
    EXPECT_EQ(std::vector<float>(samples.begin(), samples.begin() + 9), (std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 9}));

    std::vector<float> twenty(20);
    for (int i = 0; i < 20; ++i)
        twenty[i] = static_cast<float>(20 - i);
    // floor(0.75 x 20) = 15 kept from index (20 - 15) / 2 = 2: values 3 .. 17.
    ASSERT_EQ(trim(twenty.data(), 20, 0.25f), 15);
    EXPECT_TRUE(twenty[0] == 3.0f && twenty[14] == 17.0f);
}

TEST(StackStatistics, SigmaClippingIsOnePassAroundTheMean)
{
    const std::vector<float> samples = {2, 4, 4, 4, 5, 5, 7, 9};
    EXPECT_EQ(mean(samples.data(), 8), 5.0f);
    EXPECT_EQ(stdDev(samples.data(), 8), 2.0f);
    EXPECT_TRUE(std::isnan(stdDev(samples.data(), 0)));
    const std::vector<float> outlier = {1, 2, 3, 100};
    EXPECT_FLOAT_EQ(stdDev(outlier.data(), 4), 42.44113f);
    EXPECT_EQ(sigmaClippedMean(outlier.data(), 4, 1.0f), 2.0f);

    EXPECT_TRUE(std::isnan(sigmaClippedMean(std::vector<float>{0, 10}.data(), 2, 0.5f))) << "nothing within [2.5, 7.5]";
}

TEST(StackStatistics, MedianTakesTheLowerMiddle)
{
    const struct {
        std::vector<float> samples;
        float median;
    } cases[] = {
        {{5, 1, 4, 2}, 2.0f},
        {{3, 1, 2}, 2.0f},
        {{7}, 7.0f},
        {{-1, std::numeric_limits<float>::infinity(), 0}, 0.0f},
    };
    for (const auto &c : cases) {
        std::vector<float> samples = c.samples;
        EXPECT_EQ(combineMedian(samples.data(), static_cast<int>(samples.size())), c.median);
    }
    // Above the insertion-sort limit the median is a selection.
    std::mt19937 random(7);
    std::uniform_int_distribution<int> level(0, 40);
    for (int n : {33, 64, 101, 300}) {
        std::vector<float> samples(static_cast<std::size_t>(n));
        for (float &v : samples)
            v = level(random) * 0.125f;
        std::vector<float> sorted = samples;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(combineMedian(samples.data(), n), sorted[static_cast<std::size_t>((n - 1) / 2)]) << n;
    }
}

TEST(StackStatistics, EveryModeGivesTheOnlySampleAndNaNForNone)
{
    for (int mode : {CombineAverage, CombineMedian, CombineSigma}) {
        for (int rejection : {RejectNone, RejectWinsorize, RejectTrim}) {
            float none[1] = {0.0f};
            EXPECT_TRUE(std::isnan(combine(none, 0, mode, rejection, 0.1f, 1.0f))) << mode << " " << rejection;
            float one[1] = {0.25f};
            const float value = combine(one, 1, mode, rejection, 0.1f, 1.0f);
            // Trimming a tenth of one sample keeps floor(0.9) = 0 of them (the median ignores rejection).
            if (rejection == RejectTrim && mode != CombineMedian)
                EXPECT_TRUE(std::isnan(value)) << mode;
            else
                EXPECT_EQ(value, 0.25f) << mode << " " << rejection;
        }
    }
}

TEST(StackStatistics, FractionsOutsideTheUsableRangeNeverReadOutOfBounds)
{
    // The sanitizer build catches any read past the four samples.
    const float fractions[] = {-1.0f, 0.0f, 0.49f, 0.5f, 0.9f, 1.0f, 7.0f, 1e30f,
                               std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()};
    for (float f : fractions) {
        for (int rejection : {RejectWinsorize, RejectTrim}) {
            std::vector<float> samples = {4, 1, 3, 2};
            const float value = combineSigma(samples.data(), 4, rejection, f, 1.0f);
            EXPECT_TRUE(std::isnan(value) || (value >= 1.0f && value <= 4.0f)) << f;
        }
    }
    EXPECT_EQ(winsorizeCount(4, 0.9f), 1) << "the ends never cross";
    EXPECT_EQ(trimKeepCount(4, -3.0f), 4);
    EXPECT_EQ(trimKeepCount(4, 1.0f), 0);
}

TEST(StackStatistics, UsableFractionsFollowTheFrameCount)
{
    const struct {
        int rejection;
        float f;
        int n;
        bool usable;
    } cases[] = {
        {RejectNone, 0.9f, 3, true},
        {RejectWinsorize, 0.4f, 10, true},  // c = 4 < 6
        {RejectWinsorize, 0.5f, 10, false}, // c = 5, not below 5
        {RejectWinsorize, 0.25f, 2, false}, // roundf(0.5) = 1, not below 1
        {RejectWinsorize, 0.2f, 2, true},
        {RejectTrim, 0.5f, 2, true},  // floor(1.0) = 1
        {RejectTrim, 0.6f, 2, false}, // floor(0.8) = 0
        {RejectTrim, -0.1f, 5, false},
        {RejectWinsorize, std::numeric_limits<float>::quiet_NaN(), 5, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(rejectionFractionUsable(c.rejection, c.f, c.n), c.usable) << c.rejection << " " << c.f << " " << c.n;
        EXPECT_EQ(rejectionFractionProblem(c.rejection, c.f, c.n).isEmpty(), c.usable);
    }
}
