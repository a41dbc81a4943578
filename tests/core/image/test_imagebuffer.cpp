#include "image/imagebuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

void setPixel(ImageBuffer &buffer, int x, int y, float r, float g, float b, float a = 1.0f)
{
    float *p = buffer.pixel(x, y);
    p[0] = r;
    p[1] = g;
    p[2] = b;
    p[3] = a;
}

void expectPixel(const FloatRGB &value, float r, float g, float b, float a)
{
    EXPECT_EQ(value.r, r);
    EXPECT_EQ(value.g, g);
    EXPECT_EQ(value.b, b);
    EXPECT_EQ(value.a, a);
}

} // namespace

TEST(ImageBuffer, FreshBufferReadsZeroEverywhereAndAnEmptyOneHasNoPixels)
{
    ImageBuffer buffer(3, 2);
    EXPECT_EQ(buffer.width, 3);
    EXPECT_EQ(buffer.height, 2);
    EXPECT_EQ(buffer.floatCount, 24);
    EXPECT_EQ(buffer.whiteLevel, 1.0f);
    EXPECT_EQ(buffer.blackLevel, 0.0f);
    EXPECT_EQ(buffer.channels, 3);
    EXPECT_EQ(buffer.maxValue, 0.0f);
    EXPECT_EQ(buffer.minValue, 0.0f);
    EXPECT_EQ(buffer.readCursor, 0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            expectPixel(buffer.getPixel(x, y), 0, 0, 0, 0);

    ImageBuffer empty(0, 5);
    EXPECT_FALSE(empty.hasPixels());
    EXPECT_EQ(empty.floatCount, 0);
    expectPixel(empty.getPixel(0, 0), 0, 0, 0, 0);
    EXPECT_EQ(empty.scanRange(), 0.0f);
    EXPECT_FALSE(ImageBuffer(-3, 2).hasPixels());
}

TEST(ImageBuffer, ReadsOutsideTheImageGiveZeroAndNanReadsAsZero)
{
    ImageBuffer buffer(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            setPixel(buffer, x, y, 7, 7, 7);
    expectPixel(buffer.getPixel(-1, 0), 0, 0, 0, 0);
    expectPixel(buffer.getPixel(4, 0), 0, 0, 0, 0);
    expectPixel(buffer.getPixel(0, 3), 0, 0, 0, 0);
    expectPixel(buffer.getPixel(0, -1), 0, 0, 0, 0);

    const float inf = std::numeric_limits<float>::infinity();
    setPixel(buffer, 1, 2, std::nanf(""), 5, inf, 1);
    expectPixel(buffer.getPixel(1, 2), 0, 5, inf, 1);

    // Alpha comes back as stored, unchecked.
    setPixel(buffer, 2, 2, 1, 2, 3, std::nanf(""));
    EXPECT_TRUE(std::isnan(buffer.getPixel(2, 2).a));
}

TEST(ImageBuffer, CloneSharesNoStorageAndKeepsTheScale)
{
    ImageBuffer source(2, 2);
    setPixel(source, 0, 0, 0.25f, 0.5f, 0.75f);
    source.whiteLevel = 1.0f;
    source.blackLevel = 0.0f;
    source.channels = 2;
    source.maxValue = 0.75f;
    source.minValue = 0.1f;
    source.readCursor = 8;

    auto copy = source.clone();
    expectPixel(copy->getPixel(0, 0), 0.25f, 0.5f, 0.75f, 1.0f);
    EXPECT_EQ(copy->whiteLevel, 1.0f);
    EXPECT_EQ(copy->blackLevel, 0.0f);
    EXPECT_EQ(copy->channels, 2);
    EXPECT_EQ(copy->maxValue, 0.75f);
    EXPECT_EQ(copy->floatCount, source.floatCount);
    // The minimum is valid again only after a range scan; the walk position starts afresh.
    EXPECT_EQ(copy->minValue, 0.0f);
    EXPECT_EQ(copy->readCursor, 0);

    setPixel(*copy, 0, 0, 9, 9, 9);
    expectPixel(source.getPixel(0, 0), 0.25f, 0.5f, 0.75f, 1.0f);
    setPixel(source, 1, 1, 3, 3, 3);
    expectPixel(copy->getPixel(1, 1), 0, 0, 0, 0);
}

TEST(ImageBuffer, RangeScanIgnoresAlphaTreatsNanAsZeroAndKeepsInfinities)
{
    ImageBuffer buffer(2, 2);
    setPixel(buffer, 0, 0, 0.5f, 0.2f, 0.9f, 100.0f);
    setPixel(buffer, 1, 0, -0.25f, 0.1f, 0.3f, -100.0f);
    setPixel(buffer, 0, 1, std::nanf(""), 0.4f, 0.4f);
    setPixel(buffer, 1, 1, 0.3f, 0.3f, 0.3f);
    EXPECT_EQ(buffer.scanRange(), 0.9f);
    EXPECT_EQ(buffer.maxValue, 0.9f);
    EXPECT_EQ(buffer.minValue, -0.25f);

    setPixel(buffer, 1, 1, 0.3f, std::numeric_limits<float>::infinity(), 0.3f);
    EXPECT_TRUE(std::isinf(buffer.scanRange()));

    ImageBuffer onlyNan(3, 3);
    setPixel(onlyNan, 2, 2, std::nanf(""), 0, 0);
    EXPECT_EQ(onlyNan.scanRange(), 0.0f);
    EXPECT_EQ(onlyNan.minValue, 0.0f);

    // The seed is the first red sample, NaN as 0.
    ImageBuffer seeded(1, 1);
    setPixel(seeded, 0, 0, std::nanf(""), 5, 6);
    EXPECT_EQ(seeded.scanRange(), 6.0f);
    EXPECT_EQ(seeded.minValue, 0.0f);
}

TEST(ImageBuffer, ImpossibleSizesFailWithTheBytesAskedFor)
{
    const int huge = std::numeric_limits<int>::max();
    // (2^31 - 1)^2 pixels of 16 bytes do not even fit in 64 bits.
    EXPECT_EQ(ImageBuffer::bytesFor(huge, huge), std::numeric_limits<std::uint64_t>::max());
    try {
        ImageBuffer tooLarge(huge, huge);
        FAIL() << "a 2^31 x 2^31 buffer cannot exist";
    } catch (const AllocationFailure &failure) {
        EXPECT_EQ(failure.bytes, std::numeric_limits<std::uint64_t>::max());
    }
    EXPECT_EQ(ImageBuffer::bytesFor(6000, 4000), 384000000u);
}
