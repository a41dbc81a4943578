#include "imagetests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

namespace {
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
using Pixel = std::vector<float>;
const Pixel kZero{0, 0, 0, 0};

void set(ImageBuffer &buffer, int x, int y, const Pixel &rgba)
{
    std::copy(rgba.begin(), rgba.end(), buffer.pixel(x, y));
}

// White and black level, channels, maximum, minimum and read cursor.
std::vector<double> scale(const ImageBuffer &b)
{
    return {b.whiteLevel, b.blackLevel, double(b.channels), b.maxValue, b.minValue, double(b.readCursor)};
}
} // namespace

TEST(ImageBuffer, ReadsOutsideOrOfAnEmptyOneGiveZeroClonesOwnTheirStorageAndTheRangeScanSkipsAlphaAndNan)
{
    ImageBuffer buffer(4, 3);
    EXPECT_EQ(buffer.floatCount, 48);
    EXPECT_EQ(rgba(buffer, 3, 2), kZero) << "a fresh buffer is zero";
    EXPECT_EQ(scale(buffer), (std::vector<double>{1, 0, 3, 0, 0, 0}));
    std::fill_n(buffer.data.get(), 48, 7.0f);
    for (const auto &[x, y] : {std::pair{-1, 0}, {4, 0}, {0, 3}, {0, -1}})
        EXPECT_EQ(rgba(buffer, x, y), kZero) << x << "," << y;
    set(buffer, 1, 2, {kNaN, 5, kInf, 1});
    EXPECT_EQ(rgba(buffer, 1, 2), (Pixel{0, 5, kInf, 1}));
    // Alpha comes back as stored, unchecked.
    set(buffer, 2, 2, {1, 2, 3, kNaN});
    EXPECT_TRUE(std::isnan(buffer.getPixel(2, 2).a));
    ImageBuffer empty(0, 5);
    EXPECT_TRUE(!empty.hasPixels() && empty.floatCount == 0 && rgba(empty, 0, 0) == kZero);
    EXPECT_EQ(empty.scanRange(), 0.0f);
    EXPECT_FALSE(ImageBuffer(-3, 2).hasPixels());
    // A clone shares no storage and keeps the scale.
    ImageBuffer source(2, 2);
    set(source, 0, 0, {0.25f, 0.5f, 0.75f, 1});
    std::tie(source.whiteLevel, source.blackLevel, source.channels) = std::tuple(65535.0f, 3.0f, 2);
    std::tie(source.maxValue, source.minValue, source.readCursor) = std::tuple(0.75f, 0.1f, 8);
    auto copy = source.clone();
    EXPECT_TRUE(rgba(*copy, 0, 0) == (Pixel{0.25f, 0.5f, 0.75f, 1.0f}) && copy->floatCount == source.floatCount);
    // The minimum is valid again only after a range scan; the walk position starts afresh.
    EXPECT_EQ(scale(*copy), (std::vector<double>{65535, 3, 2, 0.75, 0, 0}));
    set(*copy, 0, 0, {9, 9, 9, 1});
    set(source, 1, 1, {3, 3, 3, 1});
    EXPECT_TRUE(source.getPixel(0, 0).r == 0.25f && rgba(*copy, 1, 1) == kZero);
    // The range scan ignores alpha, treats NaN as zero and keeps infinities.
    ImageBuffer scanned(2, 2);
    set(scanned, 0, 0, {0.5f, 0.2f, 0.9f, 100.0f});
    set(scanned, 1, 0, {-0.25f, 0.1f, 0.3f, -100.0f});
    set(scanned, 0, 1, {kNaN, 0.4f, 0.4f, 1});
    set(scanned, 1, 1, {0.3f, 0.3f, 0.3f, 1});
    EXPECT_EQ(scanned.scanRange(), 0.9f);
    EXPECT_EQ(std::pair(scanned.maxValue, scanned.minValue), std::pair(0.9f, -0.25f));
    set(scanned, 1, 1, {0.3f, kInf, 0.3f, 1});
    EXPECT_TRUE(std::isinf(scanned.scanRange()));
    // The seed is the first red sample, NaN as 0.
    ImageBuffer seeded(1, 1);
    set(seeded, 0, 0, {kNaN, 5, 6, 1});
    EXPECT_EQ(seeded.scanRange(), 6.0f);
    EXPECT_EQ(seeded.minValue, 0.0f);
    // Impossible sizes fail with the bytes asked for.
    const int huge = std::numeric_limits<int>::max();
    // (2^31 - 1)^2 pixels of 16 bytes do not even fit in 64 bits.
    EXPECT_EQ(ImageBuffer::bytesFor(huge, huge), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(ImageBuffer::bytesFor(6000, 4000), 384000000u);
    try {
        ImageBuffer tooLarge(huge, huge);
        FAIL() << "a 2^31 x 2^31 buffer cannot exist";
    } catch (const AllocationFailure &failure) {
        EXPECT_EQ(failure.bytes, std::numeric_limits<std::uint64_t>::max());
    }
}
