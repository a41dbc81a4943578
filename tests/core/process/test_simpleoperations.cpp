// The one-step image operations: each gives a new buffer and leaves the source as it was.
#include "process/simpleoperations.h"

#include "processfixtures.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace processtest;

TEST(SimpleOperations, CutAboveReplacesOnlyBrighterPixelsByTheMean)
{
    auto source = filledImage(4, 1, 1.0f, 1.0f, 1.0f);
    setPixel(*source, 3, 0, 5.0f, 5.0f, 5.0f, 0.5f);
    auto before = source->clone();

    auto cut = cutAboveAverage(*source, wholeImageRegion(*source));
    ASSERT_TRUE(cut);
    EXPECT_TRUE(samePixels(*source, *before));
    // Mean 2: the three pixels at 1 stay, the one at 5 becomes 2 and keeps its alpha.
    EXPECT_EQ(cut->getPixel(0, 0).r, 1.0f);
    const FloatRGB bright = cut->getPixel(3, 0);
    EXPECT_EQ(bright.r, 2.0f);
    EXPECT_EQ(bright.g, 2.0f);
    EXPECT_EQ(bright.b, 2.0f);
    EXPECT_EQ(bright.a, 0.5f);

    // All of one luminance: nothing is strictly above the mean.
    auto even = filledImage(3, 3, 0.3f, 0.6f, 0.9f);
    EXPECT_TRUE(samePixels(*cutAboveAverage(*even, wholeImageRegion(*even)), *even));

    EXPECT_FALSE(cutAboveAverage(*source, PixelRegion{}));
}

TEST(SimpleOperations, RemoveBackgroundSubtractsItAndKeepsNegatives)
{
    auto source = filledImage(8, 8, 10.0f, 20.0f, 30.0f);
    setPixel(*source, 0, 0, 4.0f, 20.0f, 30.0f);
    auto removed = removeBackgroundColour(*source);
    ASSERT_TRUE(removed);
    EXPECT_EQ(source->getPixel(0, 0).r, 4.0f);
    EXPECT_LT(removed->getPixel(0, 0).r, 0.0f);
    EXPECT_NEAR(removed->getPixel(5, 5).g, 0.0f, 1e-4f);
    EXPECT_EQ(removed->getPixel(5, 5).a, 1.0f);

    EXPECT_FALSE(removeBackgroundColour(ImageBuffer(0, 0)));
}

TEST(SimpleOperations, NormalizedCopyMapsLevelsToZeroAndOne)
{
    auto source = std::make_unique<ImageBuffer>(3, 1);
    setPixel(*source, 0, 0, 0.0f, 65535.0f, 32767.5f, 0.0f);
    setPixel(*source, 1, 0, 65535.0f, 0.0f, 0.0f, 0.0f);
    source->whiteLevel = 65535.0f;
    source->blackLevel = 0.0f;
    source->channels = 2;

    auto normal = normalizedCopy(*source);
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->getPixel(0, 0).r, 0.0f);
    EXPECT_EQ(normal->getPixel(0, 0).g, 1.0f);
    EXPECT_FLOAT_EQ(normal->getPixel(0, 0).b, 0.5f);
    EXPECT_EQ(normal->getPixel(1, 0).r, 1.0f);
    EXPECT_EQ(normal->getPixel(0, 0).a, 1.0f);
    EXPECT_EQ(normal->whiteLevel, 1.0f);
    EXPECT_EQ(normal->blackLevel, 0.0f);
    EXPECT_EQ(normal->channels, 2);
    // The walk ran over the source's cursor; its pixels are untouched.
    EXPECT_EQ(source->readCursor, source->floatCount);
    EXPECT_EQ(source->getPixel(1, 0).r, 65535.0f);

    // With a black level: (v - black) / (white - black).
    source->blackLevel = 1000.0f;
    source->whiteLevel = 3000.0f;
    setPixel(*source, 2, 0, 2000.0f, 1000.0f, 3000.0f);
    auto shifted = normalizedCopy(*source);
    EXPECT_FLOAT_EQ(shifted->getPixel(2, 0).r, 0.5f);
    EXPECT_EQ(shifted->getPixel(2, 0).g, 0.0f);
    EXPECT_EQ(shifted->getPixel(2, 0).b, 1.0f);

    source->whiteLevel = source->blackLevel;
    EXPECT_FALSE(normalizedCopy(*source));
}

TEST(SimpleOperations, CropCopiesTheSelectionWithLevels)
{
    auto source = std::make_unique<ImageBuffer>(40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            setPixel(*source, x, y, float(x), float(y), float(x * y), 0.25f);
    source->whiteLevel = 255.0f;
    source->blackLevel = 2.0f;
    source->channels = 2;

    auto crop = cropCopy(*source, 10, 20, 5, 3);
    ASSERT_TRUE(crop);
    EXPECT_EQ(crop->width, 5);
    EXPECT_EQ(crop->height, 3);
    const FloatRGB first = crop->getPixel(0, 0);
    EXPECT_EQ(first.r, 10.0f);
    EXPECT_EQ(first.g, 20.0f);
    EXPECT_EQ(first.b, 200.0f);
    EXPECT_EQ(first.a, 0.25f);
    EXPECT_EQ(crop->getPixel(4, 2).b, 14.0f * 22.0f);
    EXPECT_EQ(crop->whiteLevel, 255.0f);
    EXPECT_EQ(crop->blackLevel, 2.0f);
    EXPECT_EQ(crop->channels, 2);

    // Reaching past the right edge: the outside part is black with alpha 0.
    auto edge = cropCopy(*source, 38, 0, 4, 1);
    EXPECT_EQ(edge->getPixel(1, 0).r, 39.0f);
    EXPECT_EQ(edge->getPixel(2, 0).r, 0.0f);
    EXPECT_EQ(edge->getPixel(2, 0).a, 0.0f);

    EXPECT_FALSE(cropCopy(*source, 10, 20, 0, 3));
    EXPECT_FALSE(cropCopy(*source, 10, 20, 5, -1));
}
