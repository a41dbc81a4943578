// Where registered frames land, the source rows a band needs, bands calibrated and resampled on their own, and
// Bilinear and Lanczos-3 resampling (whole registered stacks are in test_multifb.cpp).
#include "calib/calibarithmetic.h"
#include "stack/subpixelkernels.h"
#include "stack/subpixelresample.h"
#include "stackfixtures.h"

using namespace stacktest;
using Mode = StackInterpolation;

namespace {

OutputBounds boundsOf(std::initializer_list<FramePlacement> placements, int width, int height)
{
    OutputBounds bounds;
    for (const FramePlacement &placement : placements)
        widenBounds(bounds, placement, width, height);
    return bounds;
}

// One frame resampled whole into its own output frame, as a loader would do it band by band.
struct Resampled {
    std::unique_ptr<ImageBuffer> band;
    OutputBounds bounds;
};

Resampled resample(const ImageBuffer &frame, const FramePlacement &placement, Mode mode, const BandMasters &masters)
{
    Resampled result;
    widenBounds(result.bounds, placement, frame.width, frame.height);
    const int height = outputHeight(result.bounds, frame.height);
    auto rows = frame.clone();
    if (mode != Mode::Nearest)
        prepareInterpolationRows(*rows, 0, masters);
    const SourceRowTable table = rowTable(*rows);
    result.band = ImageBuffer::createUnfilled(outputWidth(result.bounds, frame.width), height);
    const FrameRotation rotation(placement, frame.width, frame.height);
    const OutputBounds &bounds = result.bounds;
    EXPECT_TRUE(
        mode == Mode::Nearest
            ? resampleRows(table, *result.band, 0, height, 0, rotation, bounds, masters, nullptr)
            : resampleRowsInterpolated(table, *result.band, 0, height, 0, rotation, bounds, masters, mode, nullptr));
    return result;
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
    const auto value = [](int x, int y, int c) { return x + 10.0 * y + 0.5 * c; };
    SourceWindow window(writeFrame("window.fits", 8, 40, value), 8, 40);
    const auto row = [&](int y) { return window.table().row(y); };
    ASSERT_TRUE(window.hold(5, 10) && !row(4) && row(7) && row(7)[4 * 3] == 73.0f);
    ASSERT_TRUE(window.hold(10, 10));
    EXPECT_EQ((std::array{row(10)[0], row(19)[4 * 2 + 2]}), (std::array{100.0f, 193.0f}));
    ASSERT_TRUE(window.hold(30, 20)) << "rows past the frame are left out";
    EXPECT_FALSE(row(10)) << "a piece wholly outside the range goes";
    EXPECT_EQ(row(39)[0], 390.0f);
    ASSERT_TRUE(window.hold(0, 3)) << "a range above the held one";
    EXPECT_EQ(row(2)[0], 20.0f);
    SourceWindow missing("window-missing.fits", 8, 40);
    EXPECT_TRUE(!missing.hold(0, 4) && missing.errorCode != 0);
}

TEST(SubpixelResample, LanczosWeightsAreNormalisedAndSymmetric)
{
    // Lanczos-3 at 2.5, 1.5, 0.5 (0.02431, -0.13509, 0.60793), normalised by their sum x 2.
    const float a = 0.024317f / 0.99432f, b = -0.135095f / 0.99432f, c = 0.607927f / 0.99432f;
    const std::pair<float, std::array<float, 6>> cases[] = {
        {0.0f, {0, 0, 1, 0, 0, 0}}, {1.0f, {0, 0, 0, 1, 0, 0}}, {0.5f, {a, b, c, c, b, a}}};
    float w[6];
    for (const auto &[t, expected] : cases) {
        lanczos3Weights(t, w);
        for (int k = 0; k < 6; ++k)
            EXPECT_NEAR(w[k], expected[k], 2e-5) << "t " << t << ", tap " << k;
    }
}

TEST(SubpixelResample, RampsAreExactConstantsStayToTheEdgeStepsDoNotOvershootAndTheOutsideIsNearests)
{
    const int width = 24, height = 18;
    const auto ramp = [](float x, float y, int c) { return 0.1f + 0.02f * x + 0.03f * y + 0.001f * c; };
    // Raw = bias + flat x ramp with a checkered flat: only a source calibrated pixel by pixel
    // before interpolating gives the ramp back.
    const auto bias = filled(width, height, [](int x, int y, int) { return 0.01f * ((x + 2 * y) % 3); });
    const auto flat = filled(width, height, [](int x, int y, int) { return (x + y) % 2 ? 0.5f : 1.0f; });
    enum Kind { Ramp, Calibrated, Constant, Step };
    const std::unique_ptr<ImageBuffer> frames[] = {
        filled(width, height, [&](int x, int y, int c) { return ramp(x, y, c); }),
        filled(width, height,
               [&](int x, int y, int c) { return bias->pixel(x, y)[c] + flat->pixel(x, y)[c] * ramp(x, y, c); }),
        filled(width, height, [](int, int, int) { return 0.37f; }),
        // A saturated block on a dark sky: Lanczos-3 alone would ring below the sky and above 1.
        filled(width, height, [](int x, int y, int) { return x >= 12 || (y == 5 && x == 4) ? 1.0f : 0.1f; })};
    const struct {
        Kind kind;
        Mode mode;
        FramePlacement placement;
    } cases[] = {
        // Lanczos-3 gives a ramp exactly at whole and half pixels only (by symmetry).
        {Ramp, Mode::Bilinear, {0.5f, 0.0f, 0.0f}},       {Ramp, Mode::Lanczos3, {2.5f, -0.5f, 0.0f}},
        {Calibrated, Mode::Bilinear, {1.3f, 0.6f, 4.0f}}, {Calibrated, Mode::Lanczos3, {-0.5f, 1.5f, 0.0f}},
        {Constant, Mode::Bilinear, {0.3f, -0.45f, 0.0f}}, {Constant, Mode::Lanczos3, {0.5f, 0.5f, -91.0f}},
        {Step, Mode::Bilinear, {-2.6f, 1.7f, 7.0f}},      {Step, Mode::Lanczos3, {0.5f, 0.5f, -91.0f}},
    };
    for (const auto &c : cases) {
        const std::string what = "kind " + std::to_string(c.kind) + ", mode " + std::to_string(int(c.mode)) + ", angle "
                                 + std::to_string(c.placement.angle);
        const BandMasters masters =
            c.kind == Calibrated ? BandMasters{bias.get(), nullptr, flat.get(), nullptr} : BandMasters{};
        const Resampled result = resample(*frames[c.kind], c.placement, c.mode, masters);
        const Resampled nearest = resample(*frames[c.kind], c.placement, Mode::Nearest, masters);
        const FrameRotation rotation(c.placement, width, height);
        const int reach = c.mode == Mode::Lanczos3 ? 3 : 1;
        int counted = 0;
        for (int v = 0; v < result.band->height; ++v)
            for (int u = 0; u < result.band->width; ++u) {
                float x = 0, y = 0;
                rotation.inverse(std::trunc(result.bounds.minX) + u, v + result.bounds.minY, x, y);
                const float *p = result.band->pixel(u, v), *q = nearest.band->pixel(u, v);
                const std::string at = what + " at " + std::to_string(x) + "," + std::to_string(y);
                if (!insideFrame(x, y, width, height)) {
                    // Outside the frame: Nearest's value, NaN from zero over zero included.
                    ASSERT_TRUE(std::memcmp(p, q, 4 * sizeof(float)) == 0) << at;
                    continue;
                }
                ASSERT_EQ(p[3], 1.0f) << at;
                if (c.kind == Constant) {
                    ASSERT_EQ(p[1], 0.37f) << at;
                    ++counted;
                } else if (c.kind == Step) {
                    ASSERT_TRUE(p[0] >= 0.1f && p[0] <= 1.0f) << at << ": " << p[0];
                    counted += p[0] > 0.11f && p[0] < 0.99f; // the step is resampled, not copied
                } else if (x >= reach - 1 && y >= reach - 1 && x < width - reach && y < height - reach) {
                    // Where the whole kernel lies in the frame the ramp is exact.
                    ++counted;
                    for (int k = 0; k < 3; ++k)
                        ASSERT_NEAR(p[k], ramp(x, y, k), 2e-5f) << at << " colour " << k;
                }
            }
        EXPECT_GT(counted, c.kind == Step ? 10 : 100) << what;
    }
}

TEST(SubpixelResample, TheWideLanczosKernelsEqualThePortableOne)
{
    using namespace subpixel;
    if (fastestLanczosRun() != &lanczosRunWide)
        GTEST_SKIP() << "this processor has no AVX2 and FMA";
    const int width = 24, height = 8, count = 120;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    RowSamples s;
    s.resize(count);
    for (int i = 0; i < count; ++i) {
        // Whole pixels and the phase ends included.
        s.x[i] = i < 3 ? 2.0f + i : 2.0f + uniform(random) * (width - 6.01f);
        s.y[i] = i == 3 ? -0.999f : i == 4 ? height - 1.0f : -0.9f + uniform(random) * (height - 0.2f);
        s.column[i] = floorAboveMinusOne(s.x[i]);
        s.row[i] = floorAboveMinusOne(s.y[i]);
        s.phaseX[i] = lanczosPhase(s.x[i] - s.column[i], s.toNextX[i]);
        s.phaseY[i] = lanczosPhase(s.y[i] - s.row[i], s.toNextY[i]);
    }
    // Kernel output for an image; rows beyond the frame read its edge rows, as in a loader.
    const auto runKernel = [&](LanczosRunKernel kernel, const ImageBuffer &image, const float *grey) {
        std::vector<const float *> tapRows, greyRows;
        for (int r = -kTapPad; r < height + kTapPad; ++r) {
            const int y = std::min(std::max(r, 0), height - 1);
            tapRows.push_back(image.pixel(0, y));
            greyRows.push_back(grey ? grey + y * width : nullptr);
        }
        auto out = std::make_unique<ImageBuffer>(count, 1);
        kernel(LanczosRun{&s, 0, count, tapRows.data(), greyRows.data(), out->pixel(0, 0)});
        return out;
    };
    const auto colour =
        filled(width, height, [&](int, int, int) { return uniform(random) < 0.05f ? 1.0f : 0.1f * uniform(random); });
    const auto portable = runKernel(lanczosRunPortable, *colour, nullptr),
               wide = runKernel(lanczosRunWide, *colour, nullptr);
    for (int i = 0; i < count * 4; ++i)
        ASSERT_NEAR(wide->data[i], portable->data[i], 2e-6f) << "at " << s.x[i / 4] << "," << s.y[i / 4];
    // On grey rows the grey kernel gives the wide kernel's bits, signed zeros included.
    std::vector<float> grey(static_cast<std::size_t>(width * height + 8), 0.0f);
    for (float &v : grey)
        v = uniform(random) < 0.2f ? -0.0f : uniform(random) < 0.1f ? 0.0f : uniform(random) - 0.3f;
    const auto greyImage = filled(width, height, [&](int x, int y, int) { return grey[y * width + x]; });
    EXPECT_TRUE(sameBits(*runKernel(lanczosRunGreyWide, *greyImage, grey.data()),
                         *runKernel(lanczosRunWide, *greyImage, nullptr)));
}
