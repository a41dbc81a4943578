// Background neutralization and colour gain.
#include "process/colourbalance.h"

#include "processfixtures.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace processtest;

namespace {

void expectFactors(const NeutralizationFactors &f, ReferenceChannel reference, float r, float g, float b)
{
    EXPECT_EQ(f.reference, reference);
    EXPECT_FLOAT_EQ(f.red, r);
    EXPECT_FLOAT_EQ(f.green, g);
    EXPECT_FLOAT_EQ(f.blue, b);
    EXPECT_TRUE(f.allFinite);
}

} // namespace

TEST(Neutralization, ReferenceChannelAndFactorsOfTheWorkedExamples)
{
    expectFactors(neutralizationFactors(FloatRGB{2, 4, 8, 0}), ReferenceChannel::Blue, 4.0f, 2.0f, 1.0f);
    // Blue is not above green: red, the larger of red and green.
    expectFactors(neutralizationFactors(FloatRGB{8, 4, 2, 0}), ReferenceChannel::Red, 1.0f, 2.0f, 4.0f);
    // Blue above green wins although red is the largest.
    expectFactors(neutralizationFactors(FloatRGB{8, 4, 6, 0}), ReferenceChannel::Blue, 0.75f, 1.5f, 1.0f);
    // A tie of red and green, blue lower: green.
    expectFactors(neutralizationFactors(FloatRGB{5, 5, 1, 0}), ReferenceChannel::Green, 1.0f, 1.0f, 5.0f);

    const NeutralizationFactors scaled = neutralizationFactors(FloatRGB{2, 4, 8, 0});
    EXPECT_FLOAT_EQ(scaled.scaledBackground.r, 0.25f);
    EXPECT_FLOAT_EQ(scaled.scaledBackground.b, 1.0f);
}

TEST(Neutralization, ZeroBackgroundComponentIsReportedNotHidden)
{
    const NeutralizationFactors zeroRed = neutralizationFactors(FloatRGB{0, 4, 2, 0});
    EXPECT_FALSE(zeroRed.allFinite);
    EXPECT_TRUE(std::isinf(zeroRed.red));
    EXPECT_FLOAT_EQ(zeroRed.blue, 2.0f);
    EXPECT_FALSE(neutralizationFactors(FloatRGB{0, 0, 0, 0}).allFinite);
}

TEST(Neutralization, CopyGreysTheClippedBackgroundOfTheRegion)
{
    auto source = filledImage(6, 6, 2.0f, 4.0f, 8.0f);
    setPixel(*source, 5, 5, 50.0f, 0.0f, 9.0f); // a hot pixel, clipped away
    NeutralizedImage result = neutralizedCopy(*source, wholeImageRegion(*source));
    ASSERT_TRUE(result.image);
    EXPECT_EQ(result.factors.reference, ReferenceChannel::Blue);
    const FloatRGB sky = result.image->getPixel(0, 0);
    EXPECT_FLOAT_EQ(sky.r, 8.0f);
    EXPECT_FLOAT_EQ(sky.g, 8.0f);
    EXPECT_FLOAT_EQ(sky.b, 8.0f);
    EXPECT_EQ(source->getPixel(0, 0).r, 2.0f);

    // A selection measures only its own pixels: here a sky of (8, 4, 2), red reference.
    for (int x = 0; x < 2; ++x)
        setPixel(*source, x, 0, 8.0f, 4.0f, 2.0f);
    result = neutralizedCopy(*source, selectionRegion(*source, 0, 0, 2, 1));
    EXPECT_EQ(result.factors.reference, ReferenceChannel::Red);
    EXPECT_FLOAT_EQ(result.image->getPixel(3, 3).g, 8.0f);

    EXPECT_FALSE(neutralizedCopy(*source, PixelRegion{}).image);
}

TEST(ColourGain, UnitGainCopiesTheImageWithNanReadAsZero)
{
    auto source = filledImage(3, 2, 0.5f, 0.25f, 0.125f);
    setPixel(*source, 1, 1, std::nanf(""), 0.75f, std::nanf(""), 0.5f);
    auto copy = source->clone();
    applyGain(*copy, 1.0f, 1.0f, 1.0f);
    const FloatRGB nan = copy->getPixel(1, 1);
    EXPECT_EQ(nan.r, 0.0f);
    EXPECT_EQ(nan.g, 0.75f);
    EXPECT_EQ(nan.b, 0.0f);
    EXPECT_EQ(nan.a, 0.5f);
    EXPECT_FALSE(std::isnan(copy->data[(1 * 3 + 1) * 4]));
    EXPECT_EQ(copy->getPixel(0, 0).r, 0.5f);

    applyGain(*copy, 2.0f, 4.0f, 0.0f);
    EXPECT_EQ(copy->getPixel(2, 0).r, 1.0f);
    EXPECT_EQ(copy->getPixel(2, 0).g, 1.0f);
    EXPECT_EQ(copy->getPixel(2, 0).b, 0.0f);
    EXPECT_EQ(copy->getPixel(2, 0).a, 1.0f);
}
