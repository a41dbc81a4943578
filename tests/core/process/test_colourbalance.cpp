// Background neutralization and colour gain.
#include "process/colourbalance.h"
#include "processfixtures.h"

using namespace processtest;

TEST(Neutralization, ReferenceChannelAndFactorsOfTheWorkedExamples)
{
    const struct {
        FloatRGB background;
        ReferenceChannel reference;
        RGB factors;
    } cases[] = {
        {{2, 4, 8, 0}, ReferenceChannel::Blue, {4.0f, 2.0f, 1.0f}},
        {{8, 4, 2, 0}, ReferenceChannel::Red, {1.0f, 2.0f, 4.0f}},   // blue not above green: red, the larger
        {{8, 4, 6, 0}, ReferenceChannel::Blue, {0.75f, 1.5f, 1.0f}}, // blue above green although red is larger
        {{5, 5, 1, 0}, ReferenceChannel::Green, {1.0f, 1.0f, 5.0f}}, // a tie of red and green
    };
    for (const auto &c : cases) {
        const NeutralizationFactors f = neutralizationFactors(c.background);
        EXPECT_TRUE(f.reference == c.reference && f.allFinite) << c.factors[0];
        EXPECT_EQ((RGB{f.red, f.green, f.blue}), c.factors);
    }
    EXPECT_EQ(rgbOf(neutralizationFactors(FloatRGB{2, 4, 8, 0}).scaledBackground), (RGB{0.25f, 0.5f, 1.0f}));
    // A zero background component is reported, not hidden.
    const NeutralizationFactors zeroRed = neutralizationFactors(FloatRGB{0, 4, 2, 0});
    EXPECT_TRUE(!zeroRed.allFinite && std::isinf(zeroRed.red) && zeroRed.blue == 2.0f);
}

TEST(Neutralization, CopyGreysTheClippedBackgroundOfTheRegionAndGainReadsNanAsZero)
{
    auto source = filledImage(6, 6, 2.0f, 4.0f, 8.0f);
    setPixel(*source, 5, 5, 50.0f, 0.0f, 9.0f); // a hot pixel, clipped away
    NeutralizedImage result = neutralizedCopy(*source, wholeImageRegion(*source));
    ASSERT_TRUE(result.image);
    EXPECT_EQ(result.factors.reference, ReferenceChannel::Blue);
    EXPECT_EQ(rgba(*result.image, 0, 0), (RGBA{8, 8, 8, 1}));
    EXPECT_EQ(source->getPixel(0, 0).r, 2.0f);
    // A selection measures only its own pixels: here a sky of (8, 4, 2), red reference.
    setPixel(*source, 0, 0, 8.0f, 4.0f, 2.0f);
    setPixel(*source, 1, 0, 8.0f, 4.0f, 2.0f);
    result = neutralizedCopy(*source, selectionRegion(*source, 0, 0, 2, 1));
    EXPECT_EQ(result.factors.reference, ReferenceChannel::Red);
    EXPECT_FLOAT_EQ(result.image->getPixel(3, 3).g, 8.0f);
    EXPECT_FALSE(neutralizedCopy(*source, PixelRegion{}).image);

    setPixel(*source, 1, 1, kNaN, 0.75f, kNaN, 0.5f);
    applyGain(*source, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(rgba(*source, 1, 1), (RGBA{0, 0.75f, 0, 0.5f}));
    applyGain(*source, 2.0f, 0.5f, 0.0f);
    EXPECT_EQ(rgba(*source, 2, 2), (RGBA{4, 2, 0, 1}));
}
