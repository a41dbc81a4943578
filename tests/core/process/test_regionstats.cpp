// Region statistics: known-answer vectors, the edges of the region and of the buffer, and the iterated background
// colour.
#include "process/regionstats.h"
#include "processfixtures.h"

using namespace processtest;

namespace {

void expectColour(const std::optional<FloatRGB> &c, float r, float g, float b)
{
    ASSERT_TRUE(c.has_value());
    EXPECT_FLOAT_EQ(c->r, r);
    EXPECT_FLOAT_EQ(c->g, g);
    EXPECT_FLOAT_EQ(c->b, b);
}

} // namespace

TEST(RegionStats, SelectionBecomesInclusiveCornersOrTheWholeImageAndLuminanceHasTheProgramsWeights)
{
    const ImageBuffer image(40, 30);
    using Corners = std::array<int, 4>;
    const auto corners = [&](int w, int h) {
        const PixelRegion r = selectionRegion(image, 10, 20, w, h);
        return Corners{r.x1, r.y1, r.x2, r.y2};
    };
    EXPECT_EQ(corners(5, 3), (Corners{10, 20, 14, 22}));
    EXPECT_TRUE(corners(0, 3) == (Corners{0, 0, 39, 29}) && corners(-1, 3) == (Corners{0, 0, 39, 29}));
    EXPECT_TRUE(selectionRegion(image, 10, 20, 5, 0).isEmpty() && wholeImageRegion(ImageBuffer(0, 0)).isEmpty());
    EXPECT_EQ((std::array<double, 3>{colourLuminance({1, 0, 0, 0}), colourLuminance({0, 1, 0, 0}),
                                     colourLuminance({0, 0, 1, 0})}),
              (std::array<double, 3>{0.299, 0.586, 0.144}));
}

TEST(RegionStats, OnePixelAndPixelsOutsideTheBufferWhichCountAsBlackAndNanAsZero)
{
    auto image = filledImage(3, 3, 6.0f, 3.0f, 9.0f);
    setPixel(*image, 1, 2, 0.25f, 7.0f, -3.0f);
    const PixelRegion one{1, 2, 1, 2};
    expectColour(regionSigma(*image, one), 0.0f, 0.0f, 0.0f);
    // Bounds inclusive: with k = 0 the single pixel stays.
    expectColour(regionClippedMean(*image, 0.0f, one), 0.25f, 7.0f, -3.0f);
    // (-1, -1) .. (0, 0): one pixel inside, with a NaN red, three outside.
    setPixel(*image, 0, 0, kNaN, 3.0f, 9.0f);
    expectColour(regionMean(*image, PixelRegion{-1, -1, 0, 0}), 0.0f, 0.75f, 2.25f);
    expectColour(regionMean(*image, PixelRegion{5, 5, 6, 6}), 0.0f, 0.0f, 0.0f);
}

// regionStatistics takes its mean, sigma and clipped mean from the single functions, so they are pinned here.
TEST(RegionStats, TextbookVectorGivesMeanSigmaClippedMeanRejectingPerPixelExtremesAndMedians)
{
    // Population standard deviation of 2, 4, 4, 4, 5, 5, 7, 9 is 2 around a mean of 5; a NaN counts as 0.
    auto image = greyRow({2, 4, 4, 4, 5, 5, 7, 9});
    setPixel(*image, 7, 0, 9.0f, 1.0f, kNaN);
    const auto all = regionStatistics(*image, wholeImageRegion(*image), 1.0f);
    ASSERT_TRUE(all.has_value());
    expectColour(all->minimum, 2.0f, 1.0f, 0.0f);
    expectColour(all->maximum, 9.0f, 7.0f, 7.0f);
    // An even count averages the two middle samples.
    expectColour(all->median, 4.5f, 4.0f, 4.0f);
    expectColour(all->mean, 5.0f, 4.0f, 31.0f / 8.0f);
    EXPECT_FLOAT_EQ(all->sigma.r, 2.0f);
    // Within one sigma in all three channels: the pixels 4, 4, 4, 5, 5.
    expectColour(all->clippedMean, 4.4f, 4.4f, 4.4f);
    expectColour(regionStatistics(*image, PixelRegion{0, 0, 2, 0}, 1.0f)->median, 4.0f, 4.0f, 4.0f);
    EXPECT_FALSE(regionStatistics(*image, PixelRegion{}, 1.0f).has_value());
    // A pixel outlying in one channel only is rejected in all three.
    auto star = pixelsOf(5, 1, {0, 1, 1, 1, 2, 1, 1, 1, 1, 1, 100, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    expectColour(regionClippedMean(*star, 1.0f, wholeImageRegion(*star)), 1.0f, 1.0f, 1.0f);
    // Nothing to average gives no result. Mean 0.5, sigma 0.5: with k = 0 only an exact 0.5 would be kept.
    auto pair = greyRow({0, 1});
    EXPECT_FALSE(regionMean(*pair, PixelRegion{1, 0, 0, 0}) || regionSigma(*pair, PixelRegion{})
                 || regionClippedMean(*pair, 1.0f, PixelRegion{})
                 || regionClippedMean(*pair, 0.0f, wholeImageRegion(*pair)));
}

TEST(RegionStats, BackgroundIgnoresBrightStarsAndRefusesEmptyOrInfiniteImages)
{
    expectColour(estimateBackgroundColor(*filledImage(16, 9, 1200.0f, 800.0f, 400.0f)), 1200.0f, 800.0f, 400.0f);
    // 96 sky pixels at 100 and four stars at 10000: the plain mean is about 500.
    auto image = filledImage(10, 10, 100.0f, 100.0f, 100.0f);
    for (int i = 0; i < 4; ++i)
        setPixel(*image, i, i, 10000.0f, 10000.0f, 10000.0f);
    // The iteration stops within one data unit of luminance (weights sum to 1.029).
    const std::optional<FloatRGB> bg = estimateBackgroundColor(*image);
    ASSERT_TRUE(bg.has_value());
    for (float v : rgbOf(*bg))
        EXPECT_NEAR(v, 100.0f, 1.5f);
    EXPECT_FALSE(estimateBackgroundColor(ImageBuffer(0, 0)).has_value());
    setPixel(*image, 2, 2, kInf, 1.0f, 1.0f);
    EXPECT_FALSE(estimateBackgroundColor(*image).has_value());
}
