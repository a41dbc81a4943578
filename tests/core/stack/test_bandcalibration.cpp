#include "calib/calibarithmetic.h"
#include "image/imagebuffer.h"
#include "stack/bandcalibration.h"
#include "stack/registeredgeometry.h"
#include "stack/sourcewindow.h"
#include "stackfixtures.h"

#include <gtest/gtest.h>

#include <cmath>
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

    // The last four rows calibrated as a band equal them in the whole frame calibrated; a frame
    // wider and taller than the masters reads them as zero beyond them.
    for (const auto &size : {std::pair<int, int>{9, 12}, {12, 14}}) {
        auto whole = filled(size.first, size.second, frame);
        subtractImage(*whole, *bias);
        subtractImage(*whole, *dark);
        divideImage(*whole, *flat);
        const int first = size.second - 4;
        auto band = filled(size.first, 4, [&](int x, int y, int c) { return frame(x, y + first, c); });
        calibrateBand(*band, first, masters);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < size.first; ++x)
                for (int c = 0; c < 4; ++c)
                    EXPECT_TRUE(sameBits(band->pixel(x, y)[c], whole->pixel(x, y + first)[c]))
                        << x << "," << y << "," << c;
    }
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
