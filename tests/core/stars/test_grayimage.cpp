// The gray image and the background level the star search starts from.
#include "stars/grayimage.h"
#include "testdata/starfield.h"

#include <gtest/gtest.h>

TEST(GrayImage, ColourIsWeightedGreyUsesRedAndTheBackgroundIsOnePointZeroThreeTimesTheSky)
{
    auto colour = testsupport::flatImage(40, 40, 0.1f, true);
    float *p = colour->pixel(1, 1);
    p[0] = 0.5f;
    p[1] = 0.25f;
    p[2] = 0.125f;
    // Float arithmetic in the order red, green, blue, with 0.587 for green and 0.144 for blue.
    EXPECT_EQ(makeGrayImage(*colour).at(1, 1), 0.5f * 0.299f + 0.25f * 0.587f + 0.125f * 0.144f);
    auto grey = colour->clone();
    grey->channels = 2;
    EXPECT_EQ(makeGrayImage(*grey).at(1, 1), 0.5f);

    // The sigma-clipped sky, unmoved by a few bright pixels, weighted to 1.03 times its level
    // whether the image is grey or not.
    for (int i = 0; i < 5; ++i)
        testsupport::setGray(*grey, 5 + 6 * i, 7, 0.9f);
    EXPECT_NEAR(starBackgroundLevel(*grey), 0.1 * 1.03, 1e-6);
    EXPECT_EQ(starBackgroundLevel(ImageBuffer(0, 0)), 0.0f);
}
