// Where registered frames land in the common output frame, and which source rows a band needs.
#include "stackfixtures.h"

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

TEST(RegisteredGeometry, CornersOfATurnedFrameLandWhereExpected)
{
    const FrameRotation turned(FramePlacement{0, 0, 90.0f}, 400, 200);
    const FrameRotation placed(FramePlacement{12.25f, -3.5f, 1.7f}, 640, 480);
    float X = 0, Y = 0, x = 0, y = 0;
    for (const auto &[px, py, ex, ey] : {std::array{0.0f, 0.0f, 100.0f, 300.0f}, {399.0f, 199.0f, 299.0f, -99.0f}}) {
        turned.forward(px, py, X, Y);
        EXPECT_TRUE(std::fabs(X - ex) < 1e-4f && std::fabs(Y - ey) < 1e-4f) << X << "," << Y;
    }
    // The inverse takes a landed point back to its source pixel.
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
