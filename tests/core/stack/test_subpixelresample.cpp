// Bilinear and Lanczos-3 resampling of registered frames: known answers on ramps, constants and
// steps, the edges and the outside as Nearest gives them, and the wide kernels against the
// portable one (whole registered stacks are in test_multifb.cpp).
#include "stack/subpixelkernels.h"
#include "stack/subpixelresample.h"
#include "stackfixtures.h"

using namespace stacktest;
using Mode = StackInterpolation;

namespace {

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
        {Ramp, Mode::Bilinear, {0.5f, 0.0f, 0.0f}},        {Ramp, Mode::Lanczos3, {2.5f, -0.5f, 0.0f}},
        {Calibrated, Mode::Bilinear, {1.3f, 0.6f, 4.0f}},  {Calibrated, Mode::Lanczos3, {-0.5f, 1.5f, 0.0f}},
        {Constant, Mode::Bilinear, {0.3f, -0.45f, 0.0f}},  {Constant, Mode::Lanczos3, {0.5f, 0.5f, -91.0f}},
        {Step, Mode::Bilinear, {-2.6f, 1.7f, 7.0f}},       {Step, Mode::Lanczos3, {0.5f, 0.5f, -91.0f}},
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
