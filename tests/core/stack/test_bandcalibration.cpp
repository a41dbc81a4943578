#include "calib/calibarithmetic.h"
#include "image/imagebuffer.h"
#include "stack/bandcalibration.h"
#include "stack/registeredgeometry.h"
#include "stack/sourcewindow.h"
#include "stackfixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace stacktest;

namespace {

std::unique_ptr<ImageBuffer> filled(int width, int height, const std::function<float(int, int, int)> &value)
{
    auto image = std::make_unique<ImageBuffer>(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float *p = image->pixel(x, y);
            for (int c = 0; c < 3; ++c)
                p[c] = value(x, y, c);
            p[3] = 1.0f;
        }
    return image;
}

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof(float)) == 0;
}

} // namespace

TEST(BandCalibration, ABandMeetsTheMastersAtItsOwnRows)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto frame = [nan](int x, int y, int c) { return (x + y) % 7 == 0 ? nan : 0.05f * (x + 2 * y + c); };
    const auto bias = filled(9, 12, [](int x, int y, int) { return 0.01f * (x + y); });
    const auto dark = filled(9, 12, [](int, int y, int c) { return 0.002f * y * c; });
    // Zero flat samples: a non-zero quotient over zero becomes 1.0, zero over zero stays NaN.
    const auto flat = filled(9, 12, [](int x, int y, int) { return x == 4 ? 0.0f : 0.5f + 0.03f * y; });
    const BandMasters masters{bias.get(), dark.get(), flat.get(), nullptr};

    auto whole = filled(9, 12, frame);
    subtractImage(*whole, *bias);
    subtractImage(*whole, *dark);
    divideImage(*whole, *flat);

    auto band = filled(9, 5, [&](int x, int y, int c) { return frame(x, y + 6, c); });
    calibrateBand(*band, 6, masters);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x)
            for (int c = 0; c < 4; ++c)
                EXPECT_TRUE(sameBits(band->pixel(x, y)[c], whole->pixel(x, y + 6)[c])) << x << "," << y << "," << c;

    // A frame wider and taller than the masters: beyond them they read as zero.
    auto wide = filled(12, 14, frame);
    subtractImage(*wide, *bias);
    subtractImage(*wide, *dark);
    divideImage(*wide, *flat);
    auto wideBand = filled(12, 4, [&](int x, int y, int c) { return frame(x, y + 10, c); });
    calibrateBand(*wideBand, 10, masters);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 12; ++x)
            for (int c = 0; c < 4; ++c)
                EXPECT_TRUE(sameBits(wideBand->pixel(x, y)[c], wide->pixel(x, y + 10)[c])) << x << "," << y << "," << c;
}

TEST(BandCalibration, ABandOfAnotherSizeIsPaddedWithoutSamples)
{
    auto narrow = filled(3, 2, [](int x, int y, int) { return 1.0f + x + y; });
    narrow->whiteLevel = 1.0f;
    const auto fitted = fitBand(std::move(narrow), 5, 4);
    ASSERT_EQ(fitted->width, 5);
    ASSERT_EQ(fitted->height, 4);
    EXPECT_EQ(fitted->pixel(2, 1)[0], 4.0f);
    EXPECT_EQ(fitted->pixel(2, 1)[3], 1.0f);
    EXPECT_EQ(fitted->pixel(3, 1)[3], 0.0f) << "right of the frame: no sample";
    EXPECT_EQ(fitted->pixel(0, 2)[3], 0.0f) << "below the frame: no sample";
    EXPECT_EQ(fitBand(nullptr, 2, 2)->pixel(1, 1)[3], 0.0f);
}

TEST(BandCalibration, ResamplingTakesTheTruncatedInversePositionOfEveryPixel)
{
    const int width = 23;
    const int height = 17;
    const auto source = filled(width, height, [](int x, int y, int c) { return 0.001f * (x * 31 + y * 7 + c); });
    SourceRowTable rows;
    rows.width = width;
    for (int y = 0; y < height; ++y)
        rows.rows.push_back(source->pixel(0, y));
    const auto bias = filled(width, height, [](int x, int, int) { return 0.0001f * x; });
    const auto flat = filled(width, height, [](int, int y, int) { return 0.9f + 0.01f * y; });

    for (const FramePlacement placement :
         {FramePlacement{0, 0, 0}, FramePlacement{2.5f, -1.25f, 0}, FramePlacement{-3.0f, 4.0f, 12.5f},
          FramePlacement{1.0f, 1.0f, -95.0f}}) {
        OutputBounds bounds;
        widenBounds(bounds, placement, width, height);
        const FrameRotation rotation(placement, width, height);
        for (bool withMasters : {false, true}) {
            const BandMasters masters = withMasters ? BandMasters{bias.get(), nullptr, flat.get(), nullptr}
                                                    : BandMasters{};
            // Band widths on both sides of the four-column steps.
            for (int bandWidth : {1, 4, 7, outputWidth(bounds, width)}) {
                auto band = ImageBuffer::createUnfilled(bandWidth, 6);
                ASSERT_TRUE(resampleRows(rows, *band, 0, 3, 5, rotation, bounds, masters, nullptr));
                ASSERT_TRUE(resampleRows(rows, *band, 3, 3, 5, rotation, bounds, masters, nullptr));
                for (int j = 0; j < 6; ++j)
                    for (int u = 0; u < bandWidth; ++u) {
                        float x = 0, y = 0;
                        rotation.inverse(std::trunc(bounds.minX) + u, 5 + j + bounds.minY, x, y);
                        const bool inside = x > -1.0f && y > -1.0f;
                        const int sx = inside ? static_cast<int>(x) : -1;
                        const int sy = inside ? static_cast<int>(y) : -1;
                        FloatRGB expected = source->getPixel(sx, sy);
                        if (withMasters) {
                            const FloatRGB b = bias->getPixel(sx, sy);
                            const FloatRGB f = flat->getPixel(sx, sy);
                            const auto divide = [](float v, float d) {
                                const float q = v / d;
                                return std::isinf(q) ? 1.0f : q;
                            };
                            expected = {divide(expected.r - b.r, f.r), divide(expected.g - b.g, f.g),
                                        divide(expected.b - b.b, f.b), 1.0f};
                        }
                        const float *p = band->pixel(u, j);
                        ASSERT_TRUE(sameBits(p[0], expected.r) && sameBits(p[2], expected.b) && p[3] == 1.0f)
                            << "angle " << placement.angle << ", column " << u << ", row " << j << ": " << p[0]
                            << " against " << expected.r;
                    }
            }
        }
    }
}

TEST(BandCalibration, ASourceWindowReadsEachRowOnceAndLetsGoOfOldOnes)
{
    const QString path = writeFrame("window.fits", 8, 40, [](int x, int y, int c) { return x + 10.0 * y + 0.5 * c; });
    SourceWindow window(path, 8, 40);
    ASSERT_TRUE(window.hold(5, 10));
    const float *row7 = window.table().row(7);
    ASSERT_TRUE(row7);
    EXPECT_EQ(row7[4 * 3], 73.0f);
    EXPECT_FALSE(window.table().row(4));
    ASSERT_TRUE(window.hold(10, 10));
    EXPECT_EQ(window.table().row(10)[0], 100.0f);
    EXPECT_EQ(window.table().row(19)[4 * 2 + 2], 193.0f);
    ASSERT_TRUE(window.hold(30, 20)) << "rows past the frame are left out";
    EXPECT_FALSE(window.table().row(10)) << "a piece wholly outside the range goes";
    EXPECT_EQ(window.table().row(39)[0], 390.0f);
    ASSERT_TRUE(window.hold(0, 3)) << "a range above the held one";
    EXPECT_EQ(window.table().row(2)[0], 20.0f);

    SourceWindow missing("window-missing.fits", 8, 40);
    EXPECT_FALSE(missing.hold(0, 4));
    EXPECT_NE(missing.errorCode, 0);
}
