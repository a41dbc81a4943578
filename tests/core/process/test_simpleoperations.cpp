// The one-step image operations: each gives a new buffer and leaves the source as it was.
#include "process/simpleoperations.h"
#include "processfixtures.h"

using namespace processtest;

TEST(SimpleOperations, CutAboveReplacesOnlyBrighterPixelsByTheMeanAndRemoveBackgroundKeepsNegatives)
{
    auto source = filledImage(4, 1, 1.0f, 1.0f, 1.0f);
    setPixel(*source, 3, 0, 5.0f, 5.0f, 5.0f, 0.5f);
    auto before = source->clone();
    auto cut = cutAboveAverage(*source, wholeImageRegion(*source));
    ASSERT_TRUE(cut);
    EXPECT_TRUE(samePixels(*source, *before));
    // Mean 2: the three pixels at 1 stay, the one at 5 becomes 2 and keeps its alpha.
    EXPECT_EQ(rgb(*cut, 0, 0), (RGB{1, 1, 1}));
    EXPECT_EQ(rgb(*cut, 3, 0), (RGB{2, 2, 2}));
    EXPECT_EQ(cut->getPixel(3, 0).a, 0.5f);
    // All of one luminance: nothing is strictly above the mean.
    auto even = filledImage(3, 3, 0.3f, 0.6f, 0.9f);
    EXPECT_TRUE(samePixels(*cutAboveAverage(*even, wholeImageRegion(*even)), *even));
    EXPECT_FALSE(cutAboveAverage(*source, PixelRegion{}));

    auto sky = filledImage(8, 8, 10.0f, 20.0f, 30.0f);
    setPixel(*sky, 0, 0, 4.0f, 20.0f, 30.0f);
    auto removed = removeBackgroundColour(*sky);
    ASSERT_TRUE(removed);
    EXPECT_EQ(sky->getPixel(0, 0).r, 4.0f);
    EXPECT_LT(removed->getPixel(0, 0).r, 0.0f);
    EXPECT_NEAR(removed->getPixel(5, 5).g, 0.0f, 1e-4f);
    EXPECT_EQ(removed->getPixel(5, 5).a, 1.0f);
    EXPECT_FALSE(removeBackgroundColour(ImageBuffer(0, 0)));
}

TEST(SimpleOperations, NormalizedCopyMapsLevelsToZeroAndOne)
{
    ImageBuffer source(3, 1);
    setPixel(source, 0, 0, 0.0f, 65535.0f, 32767.5f, 0.0f);
    setPixel(source, 1, 0, 65535.0f, 0.0f, 0.0f, 0.0f);
    setLevels(source, {65535, 0, 2});
    auto normal = normalizedCopy(source);
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->getPixel(0, 0).r, 0.0f);
    EXPECT_EQ(normal->getPixel(0, 0).g, 1.0f);
    EXPECT_FLOAT_EQ(normal->getPixel(0, 0).b, 0.5f);
    EXPECT_EQ(normal->getPixel(1, 0).r, 1.0f);
    EXPECT_EQ(normal->getPixel(0, 0).a, 1.0f);
    // The walk ran over the source's cursor; its pixels are untouched.
    EXPECT_EQ(source.readCursor, source.floatCount);
    EXPECT_EQ(source.getPixel(1, 0).r, 65535.0f);
    // With a black level: (v - black) / (white - black).
    setLevels(source, {3000, 1000, 2});
    setPixel(source, 2, 0, 2000.0f, 1000.0f, 3000.0f);
    auto shifted = normalizedCopy(source);
    EXPECT_EQ(rgb(*shifted, 2, 0), (RGB{0.5f, 0, 1}));
    EXPECT_EQ(levels(*shifted), (Levels{1, 0, 2}));
    source.whiteLevel = source.blackLevel;
    EXPECT_FALSE(normalizedCopy(source));
}

TEST(SimpleOperations, CropCopiesTheSelectionWithLevels)
{
    ImageBuffer source(40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            setPixel(source, x, y, float(x), float(y), float(x * y), 0.25f);
    setLevels(source, {255, 2, 2});
    auto crop = cropCopy(source, 10, 20, 5, 3);
    ASSERT_TRUE(crop);
    EXPECT_TRUE(crop->width == 5 && crop->height == 3);
    EXPECT_EQ(rgb(*crop, 0, 0), (RGB{10, 20, 200}));
    EXPECT_EQ(crop->getPixel(0, 0).a, 0.25f);
    EXPECT_EQ(rgb(*crop, 4, 2), (RGB{14, 22, 14 * 22}));
    EXPECT_EQ(levels(*crop), (Levels{255, 2, 2}));
    // Reaching past the right edge: the outside part is black with alpha 0.
    auto edge = cropCopy(source, 38, 0, 4, 1);
    EXPECT_EQ(edge->getPixel(1, 0).r, 39.0f);
    EXPECT_EQ(edge->getPixel(2, 0).r, 0.0f);
    EXPECT_EQ(edge->getPixel(2, 0).a, 0.0f);
    EXPECT_FALSE(cropCopy(source, 10, 20, 0, 3));
    EXPECT_FALSE(cropCopy(source, 10, 20, 5, -1));
}
