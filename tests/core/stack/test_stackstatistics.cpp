// The statistics of one pixel's samples on known-answer vectors, and the two paths that
// compute them for many pixels (a row of frames, four pixels at once) against them bit for bit.
#include "stack/lanestatistics.h"
#include "stack/rowcombiner.h"
#include "stackfixtures.h"

using namespace stackstats;
using stacktest::sameBits;
using Samples = std::vector<float>;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Few distinct levels, so that ties are common, and now and then an infinity.
Samples randomSamples(std::mt19937 &random, int count)
{
    std::uniform_int_distribution<int> level(0, 60);
    Samples samples(static_cast<std::size_t>(count));
    for (float &v : samples) {
        const int l = level(random);
        v = l == 60 ? kInf : l == 59 ? -2.5f : static_cast<float>(l) * 0.0625f;
    }
    return samples;
}

} // namespace

TEST(StackStatistics, WinsorizeReplacesTheEndsBySortedNeighboursAndTrimKeepsTheMiddle)
{
    // c = roundf(2.5) = 3, half away from zero: 1 .. 25 becomes 4, 4, 4, 4, 5 .. 21, 22, 22, 22, 22.
    Samples more(25);
    std::generate(more.begin(), more.end(), [n = 25.0f]() mutable { return n--; });
    winsorize(more.data(), 25, 0.1f);
    for (int i = 0; i < 25; ++i)
        EXPECT_EQ(more[i], std::clamp(i + 1.0f, 4.0f, 22.0f)) << i;
    // The extra value of an odd count goes at the high end.
    Samples samples = {10, 2, 3, 4, 5, 6, 7, 8, 9, 1};
    ASSERT_EQ(trim(samples.data(), 10, 0.1f), 9);
    EXPECT_EQ(Samples(samples.begin(), samples.begin() + 9), (Samples{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    // floor(0.75 x 20) = 15 kept from index (20 - 15) / 2 = 2: values 3 .. 17.
    Samples twenty(20);
    std::generate(twenty.begin(), twenty.end(), [n = 20.0f]() mutable { return n--; });
    ASSERT_EQ(trim(twenty.data(), 20, 0.25f), 15);
    EXPECT_TRUE(twenty[0] == 3.0f && twenty[14] == 17.0f);
}

TEST(StackStatistics, SigmaClippingIsOnePassAroundTheMeanAndTheMedianTakesTheLowerMiddle)
{
    const Samples samples = {2, 4, 4, 4, 5, 5, 7, 9}, outlier = {1, 2, 3, 100};
    EXPECT_TRUE(mean(samples.data(), 8) == 5.0f && stdDev(samples.data(), 8) == 2.0f);
    EXPECT_TRUE(std::isnan(stdDev(samples.data(), 0)));
    EXPECT_FLOAT_EQ(stdDev(outlier.data(), 4), 42.44113f);
    EXPECT_EQ(sigmaClippedMean(outlier.data(), 4, 1.0f), 2.0f);
    EXPECT_TRUE(std::isnan(sigmaClippedMean(Samples{0, 10}.data(), 2, 0.5f))) << "nothing within [2.5, 7.5]";
    for (auto [values, median] :
         {std::pair<Samples, float>{{5, 1, 4, 2}, 2.0f}, {{3, 1, 2}, 2.0f}, {{7}, 7.0f}, {{-1, kInf, 0}, 0.0f}})
        EXPECT_EQ(combineMedian(values.data(), static_cast<int>(values.size())), median) << values.size();
    // Above the insertion-sort limit the median is a selection.
    std::mt19937 random(7);
    for (int n : {33, 300}) {
        Samples values = randomSamples(random, n), sorted = values;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(combineMedian(values.data(), n), sorted[static_cast<std::size_t>((n - 1) / 2)]) << n;
    }
}

TEST(StackStatistics, NoOneOrFourSamplesWithAnyFractionNeverReadOutOfBounds)
{
    for (int mode : {CombineAverage, CombineMedian, CombineSigma})
        for (int rejection : {RejectNone, RejectWinsorize, RejectTrim}) {
            float one[1] = {0.25f};
            EXPECT_TRUE(std::isnan(combine(one, 0, mode, rejection, 0.1f, 1.0f))) << mode << " " << rejection;
            const float value = combine(one, 1, mode, rejection, 0.1f, 1.0f);
            // Trimming a tenth of one sample keeps floor(0.9) = 0 of them (the median ignores rejection).
            EXPECT_TRUE(rejection == RejectTrim && mode != CombineMedian ? std::isnan(value) : value == 0.25f)
                << mode << " " << rejection << ": " << value;
        }
    // Fractions out of range never reach past the samples: the ends never cross, a trim keeps 0 .. n.
    EXPECT_EQ(winsorizeCount(4, 0.9f), 1);
    EXPECT_EQ(std::pair(trimKeepCount(4, -3.0f), trimKeepCount(4, 1.0f)), std::pair(4, 0));
}

TEST(StackStatistics, UsableFractionsFollowTheFrameCount)
{
    const struct {
        int rejection;
        float f;
        int n;
        bool usable;
    } cases[] = {
        {RejectNone, 0.9f, 3, true},        {RejectWinsorize, 0.4f, 10, true},  // c = 4 < 6
        {RejectWinsorize, 0.5f, 10, false}, {RejectWinsorize, 0.25f, 2, false}, // c = 5, not below 5; roundf(0.5) = 1
        {RejectTrim, 0.5f, 2, true},        {RejectTrim, 0.6f, 2, false},       // floor(1.0) = 1; floor(0.8) = 0
        {RejectTrim, -0.1f, 5, false},      {RejectWinsorize, kNaN, 5, false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(rejectionFractionUsable(c.rejection, c.f, c.n), c.usable) << c.rejection << " " << c.f << " " << c.n;
        EXPECT_EQ(rejectionFractionProblem(c.rejection, c.f, c.n).isEmpty(), c.usable);
    }
}

TEST(RowCombiner, EveryPathGivesTheStatisticOfThePixelsSamples)
{
    std::mt19937 random(31);
    std::uniform_real_distribution<float> value(-0.5f, 2.0f);
    std::uniform_int_distribution<int> kind(0, 40);
    for (int frames : {1, 2, 5, 20})
        for (int width : {1, 3, 4, 9, 17}) {
            // Frame rows with NaN colours, pixels without a sample (alpha 0) and, once, no row.
            std::vector<Samples> data(static_cast<std::size_t>(frames));
            std::vector<const float *> rows;
            for (Samples &row : data) {
                for (int x = 0; x < width; ++x) {
                    const int k = kind(random);
                    row.insert(row.end(), {k == 0 ? kNaN : value(random), value(random), k == 1 ? kInf : value(random),
                                           k == 2 ? 0.0f : 1.0f});
                }
                rows.push_back(frames > 2 && rows.size() == 1 ? nullptr : row.data());
            }
            for (int mode : {CombineAverage, CombineMedian, CombineSigma})
                for (int rejection : {RejectNone, RejectWinsorize, RejectTrim}) {
                    RowCombiner combiner(frames, width, CombineSettings{mode, rejection, 0.2f, 1.2f});
                    Samples out(static_cast<std::size_t>(width) * 4);
                    combiner.combineRow(rows.data(), out.data());
                    for (int i = 0; i < width * 4; ++i) {
                        Samples samples;
                        for (const float *row : rows)
                            if (row && row[i / 4 * 4 + 3] > 0.0f)
                                samples.push_back(std::isnan(row[i]) ? 0.0f : row[i]);
                        const float expected =
                            combine(samples.data(), int(samples.size()), mode, rejection, 0.2f, 1.2f);
                        EXPECT_TRUE(sameBits(out[std::size_t(i)], i % 4 == 3 ? 1.0f : expected))
                            << frames << " frames, width " << width << ", mode " << mode << ", rejection " << rejection
                            << ", float " << i;
                    }
                }
        }
}

// The sorting networks (every count up to the lanes' limit) and the four-lane statistics give
// the one-pixel statistics' bits.
TEST(LaneStatistics, FourPixelsAtOnceGiveTheOnePixelBits)
{
    if (!LaneCombiner::available())
        GTEST_SKIP() << "no vector path in this build";
    std::mt19937 random(22);
    for (int mode : {CombineAverage, CombineMedian, CombineSigma})
        for (int rejection : {RejectNone, RejectWinsorize, RejectTrim})
            for (float fraction : {0.1f, 0.25f, 0.45f, 0.9f})
                for (int n = 1; n <= kMaxLaneSamples; ++n) {
                    const LaneCombiner lanes(mode, rejection, fraction, 1.3f, n);
                    std::vector<Samples> pixels;
                    Samples interleaved(static_cast<std::size_t>(4 * n));
                    for (int lane = 0; lane < 4; ++lane) {
                        pixels.push_back(randomSamples(random, n));
                        for (int i = 0; i < n; ++i)
                            interleaved[std::size_t(4 * i + lane)] = pixels.back()[std::size_t(i)];
                    }
                    float out[8];
                    lanes.combine(interleaved.data(), out, 2);
                    for (int lane = 0; lane < 4; ++lane) {
                        const float expected = combine(pixels[lane].data(), n, mode, rejection, fraction, 1.3f);
                        EXPECT_TRUE(sameBits(out[2 * lane], expected))
                            << "mode " << mode << ", rejection " << rejection << ", f " << fraction << ", n " << n;
                    }
                }
}
