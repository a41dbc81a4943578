// Where registered frames land in the common output frame and which source rows a band needs;
// a band calibrated and resampled on its own: the same bits as the whole frame, the truncated
// inverse position of every output pixel, and the source rows a window holds.
#include "calib/calibarithmetic.h"
#include "stackfixtures.h"

using namespace stacktest;

namespace {

OutputBounds boundsOf(std::initializer_list<FramePlacement> placements, int width, int height)
{
    OutputBounds bounds;
    for (const FramePlacement &placement : placements)
        widenBounds(bounds, placement, width, height);
    return bounds;
}

} // namespace

TEST(RegisteredGeometry, OutputSizeOfShiftedAndTurnedFrames)
{
    const struct {
        const char *what;
        std::initializer_list<FramePlacement> placements;
        int width, height, outputWidth, outputHeight;
    } cases[] = {
        {"identity", {{0, 0, 0}, {0, 0, 0}}, 1000, 800, 1000, 800},
        {"tx 10.5: the float overhang 9.5 is truncated", {{0, 0, 0}, {10.5f, 0, 0}}, 1000, 800, 1009, 800},
        {"ty -7.25: eight rows on top", {{0, 0, 0}, {0, -7.25f, 0}}, 1000, 800, 1000, 808},
        {"both frames widen one box", {{10.5f, 0, 0}, {0, -7.25f, 0}}, 1000, 800, 1009, 808},
        {"tx -3.5 on the left counts whole columns", {{-3.5f, 0, 0}}, 100, 50, 104, 50},
        {"turned 90 degrees", {{0, 0, 90.0f}}, 400, 200, 400, 399},
    };
    for (const auto &c : cases) {
        const OutputBounds bounds = boundsOf(c.placements, c.width, c.height);
        EXPECT_EQ(outputWidth(bounds, c.width), c.outputWidth) << c.what;
        EXPECT_EQ(outputHeight(bounds, c.height), c.outputHeight) << c.what;
    }
}

TEST(RegisteredGeometry, TheInverseTakesALandedPointBackToItsSourcePixel)
{
    // Where the corners of a turned frame land is in the output size of the frame turned 90 degrees.
    const FrameRotation placed(FramePlacement{12.25f, -3.5f, 1.7f}, 640, 480);
    float X = 0, Y = 0, x = 0, y = 0;
    for (const auto &[px, py] : {std::pair{0.0f, 0.0f}, {639.0f, 0.0f}, {320.0f, 240.0f}, {17.0f, 463.0f}}) {
        placed.forward(px, py, X, Y);
        placed.inverse(X, Y, x, y);
        EXPECT_TRUE(std::fabs(x - px) < 1e-3f && std::fabs(y - py) < 1e-3f) << px << "," << py;
    }
}

TEST(RegisteredGeometry, BandsReadOnlyTheSourceRowsTheyNeed)
{
    // Frame 0 stays, frame 1 lies 300 rows higher: the stack is 500 rows tall.
    const OutputBounds bounds = boundsOf({{0, 0, 0}, {0, -300.0f, 0}}, 100, 200);
    ASSERT_EQ(outputHeight(bounds, 200), 500);
    const auto rows = [&](float ty, int firstBandRow) {
        const SourceRows r = bandSourceRows({0, ty, 0}, bounds, 100, 100, 200, firstBandRow, 100);
        return std::pair{r.firstRow, r.rowCount};
    };
    EXPECT_EQ(rows(-300.0f, 0), std::pair(0, 101)) << "one row more below, against rounding";
    EXPECT_EQ(rows(0.0f, 400), std::pair(99, 101));
    EXPECT_EQ(rows(-300.0f, 400).second, 0) << "the shifted frame ends 300 rows above this band";
    EXPECT_LE(rows(0.0f, 0).second, 2) << "only the rows a position just above the frame truncates to";
}

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
    const int width = 13, height = 11;
    const auto source = filled(width, height, [](int x, int y, int c) { return 0.001f * (x * 31 + y * 7 + c); });
    const auto bias = filled(width, height, [](int x, int, int) { return 0.0001f * x; });
    const auto flat = filled(width, height, [](int, int y, int) { return 0.9f + 0.01f * y; });
    const auto divide = [](float v, float d) { return std::isinf(v / d) ? 1.0f : v / d; };
    for (const FramePlacement placement : {FramePlacement{2.5f, -1.25f, 0}, FramePlacement{1.0f, 1.0f, -95.0f}}) {
        OutputBounds bounds;
        widenBounds(bounds, placement, width, height);
        const FrameRotation rotation(placement, width, height);
        for (bool withMasters : {false, true}) {
            const BandMasters masters =
                withMasters ? BandMasters{bias.get(), nullptr, flat.get(), nullptr} : BandMasters{};
            // A band width off the four-column steps and the whole width, resampled in two pieces.
            for (int bandWidth : {7, outputWidth(bounds, width)}) {
                auto band = ImageBuffer::createUnfilled(bandWidth, 6);
                ASSERT_TRUE(resampleRows(rowTable(*source), *band, 0, 3, 3, rotation, bounds, masters, nullptr));
                ASSERT_TRUE(resampleRows(rowTable(*source), *band, 3, 3, 3, rotation, bounds, masters, nullptr));
                for (int j = 0; j < 6; ++j)
                    for (int u = 0; u < bandWidth; ++u) {
                        float x = 0, y = 0;
                        rotation.inverse(std::trunc(bounds.minX) + u, 3 + j + bounds.minY, x, y);
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
