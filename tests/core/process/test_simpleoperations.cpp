// The one-step image operations: each gives a new buffer and leaves the source as it was.
#include "process/simpleoperations.h"
#include "processfixtures.h"

using namespace processtest;

TEST(SimpleOperations, CutAboveReplacesOnlyBrighterPixelsByTheMeanAndRemoveBackgroundKeepsNegatives)
{
    auto source = pixelsOf(3, 1, {1, 1, 1, 1, 1, 1, 1, 1, 4, 4, 4, 0.5f});
    auto before = source->clone();
    auto cut = cutAboveAverage(*source, wholeImageRegion(*source));
    ASSERT_TRUE(cut);
    // Mean 2: the pixels at 1 stay, the one at 4 becomes 2 and keeps its alpha.
    EXPECT_EQ(floatsOf(*cut), (Floats{1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 0.5f}));
    EXPECT_TRUE(samePixels(*source, *before));
    // All of one luminance: nothing is strictly above the mean.
    auto even = filledImage(3, 3, 0.3f, 0.6f, 0.9f);
    EXPECT_TRUE(samePixels(*cutAboveAverage(*even, wholeImageRegion(*even)), *even));
    EXPECT_FALSE(cutAboveAverage(*source, PixelRegion{}));

    auto sky = filledImage(8, 8, 10.0f, 20.0f, 30.0f);
    setPixel(*sky, 0, 0, 4.0f, 20.0f, 30.0f);
    auto removed = removeBackgroundColour(*sky);
    ASSERT_TRUE(removed);
    EXPECT_TRUE(sky->getPixel(0, 0).r == 4.0f && removed->getPixel(0, 0).r < 0.0f);
    EXPECT_NEAR(removed->getPixel(5, 5).g, 0.0f, 1e-4f);
    EXPECT_FALSE(removeBackgroundColour(ImageBuffer(0, 0)));
}

TEST(SimpleOperations, NormalizedCopyMapsLevelsToZeroAndOne)
{
    auto source = pixelsOf(3, 1, {0, 65535, 0, 0, 65535, 0, 0, 0, 0, 0, 0, 0});
    setLevels(*source, {65535, 0, 2});
    EXPECT_EQ(floatsOf(*normalizedCopy(*source)), (Floats{0, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1}));
    // The walk ran over the source's cursor.
    EXPECT_EQ(source->readCursor, source->floatCount);
    // With a black level: (v - black) / (white - black).
    setLevels(*source, {3000, 1000, 2});
    setPixel(*source, 2, 0, 2000.0f, 1000.0f, 3000.0f);
    auto shifted = normalizedCopy(*source);
    EXPECT_EQ(rgba(*shifted, 2, 0), (RGBA{0.5f, 0, 1, 1}));
    EXPECT_EQ(levels(*shifted), (Levels{1, 0, 2}));
    source->whiteLevel = source->blackLevel;
    EXPECT_FALSE(normalizedCopy(*source));
}

TEST(SimpleOperations, CropCopiesTheSelectionWithLevels)
{
    auto source = imageOf(40, 30, [](int x, int y) { return RGB{float(x), float(y), float(x * y)}; });
    setLevels(*source, {255, 2, 2});
    setPixel(*source, 10, 20, 10, 20, 200, 0.25f);
    auto crop = cropCopy(*source, 10, 20, 5, 3);
    ASSERT_TRUE(crop);
    EXPECT_TRUE(crop->width == 5 && crop->height == 3);
    EXPECT_EQ(rgba(*crop, 0, 0), (RGBA{10, 20, 200, 0.25f}));
    EXPECT_EQ(rgba(*crop, 4, 2), (RGBA{14, 22, 14 * 22, 1}));
    EXPECT_EQ(levels(*crop), (Levels{255, 2, 2}));
    // Reaching past the right edge: the outside part is black with alpha 0.
    EXPECT_EQ(floatsOf(*cropCopy(*source, 38, 0, 3, 1)), (Floats{38, 0, 0, 1, 39, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(cropCopy(*source, 10, 20, 0, 3) || cropCopy(*source, 10, 20, 5, -1));
}
