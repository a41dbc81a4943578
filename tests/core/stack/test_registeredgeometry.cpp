#include "stack/registeredgeometry.h"

#include <gtest/gtest.h>

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
        int width, height;
        int outputWidth, outputHeight;
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

TEST(RegisteredGeometry, CornersOfATurnedFrameLandWhereExpected)
{
    const FrameRotation turned(FramePlacement{0, 0, 90.0f}, 400, 200);
    float X = 0, Y = 0;
    turned.forward(0, 0, X, Y);
    EXPECT_FLOAT_EQ(X, 100.0f);
    EXPECT_FLOAT_EQ(Y, 300.0f);
    turned.forward(399, 199, X, Y);
    EXPECT_FLOAT_EQ(X, 299.0f);
    EXPECT_FLOAT_EQ(Y, -99.0f);

    // The inverse takes a landed point back to its source pixel.
    const FrameRotation placed(FramePlacement{12.25f, -3.5f, 1.7f}, 640, 480);
    for (const auto &point : {std::pair<float, float>{0, 0}, {639, 0}, {320, 240}, {17, 463}}) {
        float x = 0, y = 0;
        placed.forward(point.first, point.second, X, Y);
        placed.inverse(X, Y, x, y);
        EXPECT_NEAR(x, point.first, 1e-3);
        EXPECT_NEAR(y, point.second, 1e-3);
    }
}

TEST(RegisteredGeometry, BandsReadOnlyTheSourceRowsTheyNeed)
{
    // Frame 0 stays, frame 1 lies 300 rows higher: the stack is 500 rows tall.
    const OutputBounds bounds = boundsOf({{0, 0, 0}, {0, -300.0f, 0}}, 100, 200);
    ASSERT_EQ(outputHeight(bounds, 200), 500);

    const SourceRows top = bandSourceRows({0, -300.0f, 0}, bounds, 100, 100, 200, 0, 100);
    EXPECT_EQ(top.firstRow, 0);
    EXPECT_EQ(top.rowCount, 101) << "one row more below, against rounding";
    const SourceRows reference = bandSourceRows({0, 0, 0}, bounds, 100, 100, 200, 400, 100);
    EXPECT_EQ(reference.firstRow, 99);
    EXPECT_EQ(reference.rowCount, 101);

    const SourceRows below = bandSourceRows({0, -300.0f, 0}, bounds, 100, 100, 200, 400, 100);
    EXPECT_EQ(below.rowCount, 0) << "the shifted frame ends 300 rows above this band";
    const SourceRows above = bandSourceRows({0, 0, 0}, bounds, 100, 100, 200, 0, 100);
    EXPECT_LE(above.rowCount, 2) << "only the rows a position just above the frame truncates to";
}
