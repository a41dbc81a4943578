// A band of rows calibrated and resampled on its own: the same bits as the whole frame, the
// truncated inverse position of every output pixel, and the source rows a window holds.
#include "calib/calibarithmetic.h"
#include "stackfixtures.h"

using namespace stacktest;

TEST(BandCalibration, ABandMeetsTheMastersAtItsOwnRows)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto frame = [nan](int x, int y, int c) { return (x + y) % 7 == 0 ? nan : 0.05f * (x + 2 * y + c); };
    const auto bias = filled(9, 12, [](int x, int y, int) { return 0.01f * (x + y); });
    const auto dark = filled(9, 12, [](int, int y, int c) { return 0.002f * y * c; });
    // Zero flat samples: a non-zero quotient over zero becomes 1.0, zero over zero stays NaN.
    const auto flat = filled(9, 12, [](int x, int y, int) { return x == 4 ? 0.0f : 0.5f + 0.03f * y; });
    // The last four rows calibrated as a band equal them in the whole frame calibrated; a frame
    // wider and taller than the masters reads them as zero beyond them.
    for (const auto &[width, height] : {std::pair{9, 12}, {12, 14}}) {
        auto whole = filled(width, height, frame);
        subtractImage(*whole, *bias);
        subtractImage(*whole, *dark);
        divideImage(*whole, *flat);
        const int first = height - 4;
        auto band = filled(width, 4, [&](int x, int y, int c) { return frame(x, y + first, c); });
        calibrateBand(*band, first, BandMasters{bias.get(), dark.get(), flat.get(), nullptr});
        EXPECT_EQ(std::memcmp(band->pixel(0, 0), whole->pixel(0, first), band->floatCount * sizeof(float)), 0)
            << width << " x " << height;
    }
}

TEST(BandCalibration, ResamplingTakesTheTruncatedInversePositionOfEveryPixel)
{
    const int width = 23, height = 17;
    const auto source = filled(width, height, [](int x, int y, int c) { return 0.001f * (x * 31 + y * 7 + c); });
    const SourceRowTable rows = rowTable(*source);
    const auto bias = filled(width, height, [](int x, int, int) { return 0.0001f * x; });
    const auto flat = filled(width, height, [](int, int y, int) { return 0.9f + 0.01f * y; });
    const auto divide = [](float v, float d) { return std::isinf(v / d) ? 1.0f : v / d; };
    for (const FramePlacement placement : {FramePlacement{0, 0, 0}, FramePlacement{2.5f, -1.25f, 0},
                                           FramePlacement{-3.0f, 4.0f, 12.5f}, FramePlacement{1.0f, 1.0f, -95.0f}}) {
        OutputBounds bounds;
        widenBounds(bounds, placement, width, height);
        const FrameRotation rotation(placement, width, height);
        for (bool withMasters : {false, true}) {
            const BandMasters masters =
                withMasters ? BandMasters{bias.get(), nullptr, flat.get(), nullptr} : BandMasters{};
            // Band widths on both sides of the four-column steps, resampled in two pieces.
            for (int bandWidth : {1, 4, 7, outputWidth(bounds, width)}) {
                auto band = ImageBuffer::createUnfilled(bandWidth, 6);
                ASSERT_TRUE(resampleRows(rows, *band, 0, 3, 5, rotation, bounds, masters, nullptr));
                ASSERT_TRUE(resampleRows(rows, *band, 3, 3, 5, rotation, bounds, masters, nullptr));
                for (int j = 0; j < 6; ++j)
                    for (int u = 0; u < bandWidth; ++u) {
                        float x = 0, y = 0;
                        rotation.inverse(std::trunc(bounds.minX) + u, 5 + j + bounds.minY, x, y);
                        const bool inside = x > -1.0f && y > -1.0f;
                        const int sx = inside ? static_cast<int>(x) : -1, sy = inside ? static_cast<int>(y) : -1;
                        FloatRGB e = source->getPixel(sx, sy);
                        const FloatRGB b = bias->getPixel(sx, sy), f = flat->getPixel(sx, sy);
                        if (withMasters)
                            e = {divide(e.r - b.r, f.r), divide(e.g - b.g, f.g), divide(e.b - b.b, f.b), 1.0f};
                        const float *p = band->pixel(u, j);
                        ASSERT_TRUE(sameBits(p[0], e.r) && sameBits(p[2], e.b) && p[3] == 1.0f)
                            << "angle " << placement.angle << ", column " << u << ", row " << j << ": " << p[0];
                    }
            }
        }
    }
}

TEST(BandCalibration, ASourceWindowReadsEachRowOnceAndLetsGoOfOldOnes)
{
    SourceWindow window(writeFrame("window.fits", 8, 40, [](int x, int y, int c) { return x + 10.0 * y + 0.5 * c; }), 8,
                        40);
    const auto row = [&](int y) { return window.table().row(y); };
    ASSERT_TRUE(window.hold(5, 10) && row(7));
    EXPECT_EQ(row(7)[4 * 3], 73.0f);
    EXPECT_FALSE(row(4));
    ASSERT_TRUE(window.hold(10, 10));
    EXPECT_EQ(row(10)[0], 100.0f);
    EXPECT_EQ(row(19)[4 * 2 + 2], 193.0f);
    ASSERT_TRUE(window.hold(30, 20)) << "rows past the frame are left out";
    EXPECT_FALSE(row(10)) << "a piece wholly outside the range goes";
    EXPECT_EQ(row(39)[0], 390.0f);
    ASSERT_TRUE(window.hold(0, 3)) << "a range above the held one";
    EXPECT_EQ(row(2)[0], 20.0f);
    SourceWindow missing("window-missing.fits", 8, 40);
    EXPECT_FALSE(missing.hold(0, 4));
    EXPECT_NE(missing.errorCode, 0);
}
