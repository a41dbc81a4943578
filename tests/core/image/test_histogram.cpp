#include "image/histogram.h"
#include "image/imagebuffer.h"

#include <gtest/gtest.h>

#include <limits>

namespace {
constexpr int kTop = Histogram::kBins - 1;
constexpr float kInf = std::numeric_limits<float>::infinity();

// 100 x 100 pixels of `rest`, the first `count` of them (r, g, b); maxValue from a range scan.
std::unique_ptr<ImageBuffer> image(int count, float r, float g, float b, float rest = 0.0f)
{
    auto buffer = std::make_unique<ImageBuffer>(100, 100);
    for (int i = 0; i < 100 * 100; ++i)
        for (int c = 0; c < 3; ++c)
            buffer->data[i * ImageBuffer::kFloatsPerPixel + c] = i >= count ? rest : c == 0 ? r : c == 1 ? g : b;
    buffer->scanRange();
    return buffer;
}
} // namespace

TEST(Histogram, ClipPointsOfUniformAndBrightPixelsOddSamplesAtTheEndsAndAClipWalkOverTheLow32BitsOfCounters)
{
    // A uniform image clips one bin below its maximum at any fraction.
    const auto uniform = image(0, 0, 0, 0, 0.5f);
    auto histogram = buildHistogram(*uniform);
    EXPECT_EQ(std::pair(histogram->luminance[kTop], histogram->blue[kTop]), std::pair(10000ul, 10000ul));
    for (float p : {0.001f, 0.5f, 0.999f}) {
        EXPECT_FLOAT_EQ(clipLuminance(*histogram, *uniform, p), 0.5f * 65534.0f / 65535.0f) << p;
        EXPECT_FLOAT_EQ(clipGreen(*histogram, *uniform, p), 0.5f * 65534.0f / 65535.0f) << p;
    }
    // Ten bright pixels set the upper clip of their own table only.
    const auto bright = image(10, 2.0f, 1.0f, 0.0f);
    histogram = buildHistogram(*bright);
    // Threshold 9, not 10: 1 - 0.999 is slightly below 0.001 in single precision.
    EXPECT_FLOAT_EQ(clipRed(*histogram, *bright, 0.999f), 2.0f * 65534.0f / 65535.0f);
    EXPECT_FLOAT_EQ(clipGreen(*histogram, *bright, 0.999f), 2.0f * 32766.0f / 65535.0f); // 1.0 is bin 32767
    EXPECT_EQ(clipBlue(*histogram, *bright, 0.999f), 0.0f);
    EXPECT_EQ(histogram->luminance[38829], 10u); // trunc(32767.5 * (0.598 + 0.587))
    // Threshold 5000 is reached only in bin 0: the point is black, not one bin below it.
    EXPECT_EQ(clipRed(*histogram, *bright, 0.5f), 0.0f);
    // Odd samples and maxima are counted at the ends.
    auto buffer = image(1, -3.0f, std::numeric_limits<float>::quiet_NaN(), kInf, 0.25f);
    buffer->pixel(1, 0)[0] = -kInf;
    // Bound to a maxValue below the 1.0 that an infinity of either sign counts as: clamped.
    buffer->maxValue = 0.5f;
    histogram = buildHistogram(*buffer);
    EXPECT_EQ((std::vector<std::uint64_t>{histogram->red[0], histogram->red[kTop], histogram->green[0],
                                          histogram->blue[kTop]}),
              (std::vector<std::uint64_t>{1, 1, 1, 1}));
    // An infinite (stale) maximum is scanned again first.
    const auto grey = image(0, 0, 0, 0, 0.25f);
    grey->maxValue = kInf;
    histogram = buildHistogram(*grey);
    EXPECT_TRUE(grey->maxValue == 0.25f && histogram->green[kTop] == 10000u);
    // No positive maximum: everything in bin 0, and every point is 0.
    const auto negative = image(0, 0, 0, 0, -1.0f);
    histogram = buildHistogram(*negative);
    EXPECT_EQ(histogram->luminance[0], 10000u);
    EXPECT_EQ(clipLuminance(*histogram, *negative, 0.999f), 0.0f);
    // The clip walk adds only the low 32 bits of each counter.
    ImageBuffer unit(100, 100);
    unit.maxValue = 1.0f;
    const auto counters = std::make_unique<Histogram>();
    counters->red[kTop] = (std::uint64_t{1} << 32) + 3; // counts as 3, below the threshold of 9
    counters->red[kTop - 1] = 6;
    EXPECT_FLOAT_EQ(clipRed(*counters, unit, 0.999f), 65533.0f / 65535.0f);
}
