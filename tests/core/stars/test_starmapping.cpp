// The mapping phase: which bright spots become star candidates, and the marks they leave.
#include "stars/starmapping.h"
#include "testdata/starfield.h"

#include <numeric>

#include <gtest/gtest.h>

using testsupport::addCountedBlob;
using testsupport::flatImage;

namespace {

struct Mapped {
    std::vector<StarRecord> candidates;
    int marks = 0;
};

// Maps the image with background 0, threshold 0.1.
Mapped mapImage(const ImageBuffer &image, int s = 10, float maxBrightness = 0.98f)
{
    std::vector<std::uint8_t> marks;
    Mapped result;
    result.candidates = mapStars(makeGrayImage(image), 0.0f, StarSearchParameters{s, 0.1f, maxBrightness}, marks);
    result.marks = std::accumulate(marks.begin(), marks.end(), 0);
    return result;
}

} // namespace

TEST(StarMapping, ABlobNeedsSixteenPixelsAboveItsFirstPixelPlusTheThreshold)
{
    auto sixteen = flatImage(60, 60, 0.0f);
    addCountedBlob(*sixteen, 30, 30, 16);
    const Mapped kept = mapImage(*sixteen);
    ASSERT_EQ(kept.candidates.size(), 1u);
    // The centroid of the 4 x 4 core (columns 29 ... 32, rows 31 ... 34); the rim pixel is
    // below rim + threshold and takes no part. Brightness is the peak.
    EXPECT_FLOAT_EQ(kept.candidates[0].x, 30.5f);
    EXPECT_FLOAT_EQ(kept.candidates[0].y, 32.5f);
    EXPECT_FLOAT_EQ(kept.candidates[0].brightness, 0.5f);
    EXPECT_EQ(kept.marks, 16);

    auto fifteen = flatImage(60, 60, 0.0f);
    addCountedBlob(*fifteen, 30, 30, 15);
    const Mapped dropped = mapImage(*fifteen);
    EXPECT_TRUE(dropped.candidates.empty());
    EXPECT_EQ(dropped.marks, 0) << "a dropped blob gives its marks back";
}

TEST(StarMapping, ASaturatedBlobOrOneCutByTheWindowBorderIsNoCandidate)
{
    auto image = flatImage(60, 60, 0.0f);
    addCountedBlob(*image, 30, 30, 20);
    testsupport::setGray(*image, 31, 33, 0.99f);
    const Mapped saturated = mapImage(*image, 10, 0.98f);
    EXPECT_TRUE(saturated.candidates.empty());
    EXPECT_EQ(saturated.marks, 0);
    EXPECT_EQ(mapImage(*image, 10, 1.5f).candidates.size(), 1u) << "not saturated at a higher limit";

    // A pixel brighter than rim + threshold on the window's bottom row (30 + s) means the window
    // cuts through something larger; one row up it is part of the blob.
    auto border = flatImage(60, 60, 0.0f);
    addCountedBlob(*border, 30, 30, 16);
    testsupport::setGray(*border, 25, 40, 0.9f);
    EXPECT_TRUE(mapImage(*border).candidates.empty());
    testsupport::setGray(*border, 25, 40, 0.0f);
    testsupport::setGray(*border, 25, 39, 0.9f);
    EXPECT_EQ(mapImage(*border).marks, 17);
}

TEST(StarMapping, WindowCentresStayTwoStarSizesAwayFromEveryEdge)
{
    // With s = 10 on a 100 x 100 image windows open on rows and columns 20 ... 79 only; the
    // blob's rim pixel is the only pixel that can open its window.
    const auto candidatesFor = [](int width, int x, int y, int s = 10) {
        auto image = flatImage(width, 100, 0.0f);
        addCountedBlob(*image, x, y, 16);
        return mapImage(*image, s).candidates.size();
    };
    EXPECT_EQ(candidatesFor(100, 20, 50), 1u);
    EXPECT_EQ(candidatesFor(100, 19, 50), 0u);
    EXPECT_EQ(candidatesFor(100, 79, 50), 1u);
    EXPECT_EQ(candidatesFor(100, 80, 50), 0u);
    EXPECT_EQ(candidatesFor(100, 50, 20), 1u);
    EXPECT_EQ(candidatesFor(100, 50, 19), 0u);
    EXPECT_EQ(candidatesFor(100, 50, 79), 1u);
    EXPECT_EQ(candidatesFor(100, 50, 80), 0u);
    // Narrower than 4s + 1: nothing is scanned.
    EXPECT_EQ(candidatesFor(40, 20, 50), 0u);
    EXPECT_EQ(candidatesFor(40, 20, 50, 9), 1u);
}
