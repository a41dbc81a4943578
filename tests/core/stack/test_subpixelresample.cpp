// Bilinear and Lanczos-3 resampling of registered frames: known answers on ramps, constants and
// steps, the edges and the outside as Nearest gives them, and whole stacks that do not depend on
// the band size or the thread count.
#include "image/imagebuffer.h"
#include "stack/bandcalibration.h"
#include "stack/multifb.h"
#include "stack/registeredgeometry.h"
#include "stack/sourcewindow.h"
#include "stack/subpixelkernels.h"
#include "stack/subpixelresample.h"
#include "stackfixtures.h"
#include "support/capturinglog.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

using namespace stacktest;

namespace {

using Mode = StackInterpolation;

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

// One frame resampled whole into its own output frame, as a loader would do it band by band.
struct Resampled {
    std::unique_ptr<ImageBuffer> band;
    OutputBounds bounds;
    // The frame position an output pixel samples.
    void position(const FramePlacement &placement, int width, int height, int u, int v, float &x, float &y) const
    {
        FrameRotation(placement, width, height).inverse(std::trunc(bounds.minX) + u, v + bounds.minY, x, y);
    }
};

Resampled resample(const ImageBuffer &frame, const FramePlacement &placement, Mode mode,
                   const BandMasters &masters = {})
{
    Resampled result;
    widenBounds(result.bounds, placement, frame.width, frame.height);
    const int width = outputWidth(result.bounds, frame.width);
    const int height = outputHeight(result.bounds, frame.height);
    auto rows = frame.clone();
    if (mode != Mode::Nearest)
        prepareInterpolationRows(*rows, 0, masters);
    SourceRowTable table;
    table.width = frame.width;
    for (int y = 0; y < frame.height; ++y)
        table.rows.push_back(rows->pixel(0, y));
    result.band = ImageBuffer::createUnfilled(width, height);
    const FrameRotation rotation(placement, frame.width, frame.height);
    const bool done = mode == Mode::Nearest
                          ? resampleRows(table, *result.band, 0, height, 0, rotation, result.bounds, masters, nullptr)
                          : resampleRowsInterpolated(table, *result.band, 0, height, 0, rotation, result.bounds,
                                                     masters, mode, nullptr);
    EXPECT_TRUE(done);
    return result;
}

bool insideFrame(float x, float y, int width, int height)
{
    return x > -1.0f && y > -1.0f && static_cast<int>(x) < width && static_cast<int>(y) < height;
}

} // namespace

TEST(SubpixelResample, LanczosWeightsAreNormalisedAndSymmetric)
{
    const struct {
        float t;
        float expected[6];
    } cases[] = {
        {0.0f, {0, 0, 1, 0, 0, 0}},
        {1.0f, {0, 0, 0, 1, 0, 0}},
        // Lanczos-3 at 2.5, 1.5, 0.5 (0.02431, -0.13509, 0.60793), normalised by their sum x 2.
        {0.5f, {0.024317f / 0.99432f, -0.135095f / 0.99432f, 0.607927f / 0.99432f, 0.607927f / 0.99432f,
                -0.135095f / 0.99432f, 0.024317f / 0.99432f}},
    };
    for (const auto &c : cases) {
        float w[6];
        lanczos3Weights(c.t, w);
        for (int k = 0; k < 6; ++k)
            EXPECT_NEAR(w[k], c.expected[k], 2e-5) << "t " << c.t << ", tap " << k;
    }
    for (float t : {0.1f, 0.333f, 0.77f, 0.999f}) {
        float w[6];
        lanczos3Weights(t, w);
        EXPECT_NEAR(w[0] + w[1] + w[2] + w[3] + w[4] + w[5], 1.0f, 1e-6f) << t;
    }
}

TEST(SubpixelResample, AShiftedRampGivesItsValuesAtTheExactPositions)
{
    const int width = 24;
    const int height = 18;
    const auto ramp = [](float x, float y, int c) { return 0.1f + 0.02f * x + 0.03f * y + 0.001f * c; };
    const auto plain = filled(width, height, [&](int x, int y, int c) { return ramp(x, y, c); });
    // Raw = bias + flat x ramp with a checkered flat: only a source calibrated pixel by pixel
    // before interpolating gives the ramp back.
    const auto bias = filled(width, height, [](int x, int y, int) { return 0.01f * ((x + 2 * y) % 3); });
    const auto flat = filled(width, height, [](int x, int y, int) { return (x + y) % 2 ? 0.5f : 1.0f; });
    const auto raw = filled(width, height, [&](int x, int y, int c) {
        return bias->pixel(x, y)[c] + flat->pixel(x, y)[c] * ramp(x, y, c);
    });
    const BandMasters masters{bias.get(), nullptr, flat.get(), nullptr};

    const struct {
        Mode mode;
        FramePlacement placement;
        bool calibrated;
    } cases[] = {
        // Lanczos-3 gives a ramp exactly at whole and half pixels only (by symmetry).
        {Mode::Bilinear, {0.5f, 0.0f, 0.0f}, false},  {Mode::Lanczos3, {0.5f, 0.0f, 0.0f}, false},
        {Mode::Bilinear, {-0.5f, 0.5f, 0.0f}, true},  {Mode::Lanczos3, {-0.5f, 1.5f, 0.0f}, true},
        {Mode::Lanczos3, {2.5f, -0.5f, 0.0f}, false}, {Mode::Bilinear, {1.3f, 0.6f, 4.0f}, true},
    };
    for (const auto &c : cases) {
        const ImageBuffer &frame = c.calibrated ? *raw : *plain;
        const BandMasters used = c.calibrated ? masters : BandMasters{};
        const Resampled result = resample(frame, c.placement, c.mode, used);
        const Resampled nearest = resample(frame, c.placement, Mode::Nearest, used);
        const int reach = c.mode == Mode::Lanczos3 ? 3 : 1;
        int interior = 0;
        for (int v = 0; v < result.band->height; ++v)
            for (int u = 0; u < result.band->width; ++u) {
                float x = 0, y = 0;
                result.position(c.placement, width, height, u, v, x, y);
                const float *p = result.band->pixel(u, v);
                if (!insideFrame(x, y, width, height)) {
                    // Outside the frame: Nearest's value, NaN from zero over zero included.
                    const float *q = nearest.band->pixel(u, v);
                    for (int k = 0; k < 4; ++k)
                        ASSERT_TRUE(sameBits(p[k], q[k])) << u << "," << v << ": " << p[k] << " against " << q[k];
                    continue;
                }
                ASSERT_EQ(p[3], 1.0f);
                // Where the whole kernel lies in the frame the ramp is exact.
                if (x < reach - 1 || y < reach - 1 || x >= width - reach || y >= height - reach)
                    continue;
                ++interior;
                for (int k = 0; k < 3; ++k)
                    ASSERT_NEAR(p[k], ramp(x, y, k), 2e-5f) << "mode " << static_cast<int>(c.mode) << " at " << x
                                                            << "," << y << " colour " << k;
            }
        EXPECT_GT(interior, 100);
    }
}

TEST(SubpixelResample, AConstantStaysConstantUpToTheFrameEdgeAndAStepDoesNotOvershoot)
{
    const int width = 31;
    const int height = 22;
    // A saturated block on a dark sky: Lanczos-3 alone would ring below the sky and above 1.
    const auto step =
        filled(width, height, [](int x, int y, int) { return x >= 12 || (y == 5 && x == 4) ? 1.0f : 0.1f; });
    const auto constant = filled(width, height, [](int, int, int) { return 0.37f; });
    for (const FramePlacement placement :
         {FramePlacement{0.3f, -0.45f, 0.0f}, FramePlacement{-2.6f, 1.7f, 7.0f}, FramePlacement{0.5f, 0.5f, -91.0f}}) {
        for (Mode mode : {Mode::Bilinear, Mode::Lanczos3}) {
            const Resampled flat = resample(*constant, placement, mode);
            const Resampled stepped = resample(*step, placement, mode);
            int between = 0;
            for (int v = 0; v < flat.band->height; ++v)
                for (int u = 0; u < flat.band->width; ++u) {
                    float x = 0, y = 0;
                    flat.position(placement, width, height, u, v, x, y);
                    const bool inside = insideFrame(x, y, width, height);
                    ASSERT_EQ(flat.band->pixel(u, v)[1], inside ? 0.37f : 0.0f)
                        << "angle " << placement.angle << " at " << x << "," << y;
                    const float s = stepped.band->pixel(u, v)[0];
                    if (!inside)
                        continue;
                    ASSERT_TRUE(s >= 0.1f && s <= 1.0f) << s << " at " << x << "," << y;
                    between += s > 0.11f && s < 0.99f;
                }
            EXPECT_GT(between, 10) << "the step is resampled, not copied";
        }
    }
}

TEST(SubpixelResample, TheWideLanczosKernelsEqualThePortableOne)
{
    using namespace subpixel;
    if (fastestLanczosRun() != &lanczosRunWide)
        GTEST_SKIP() << "this processor has no AVX2 and FMA";
    const int width = 40;
    const int height = 12;
    std::mt19937 random(5);
    std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
    const int count = 500;
    RowSamples samples;
    samples.resize(count);
    for (int i = 0; i < count; ++i) {
        // Whole pixels and the phase ends included.
        const float x = i < 3 ? 2.0f + i : 2.0f + uniform(random) * (width - 6.01f);
        const float y = i == 3 ? -0.999f : i == 4 ? height - 1.0f : -0.9f + uniform(random) * (height - 0.2f);
        samples.x[i] = x;
        samples.y[i] = y;
        samples.column[i] = floorAboveMinusOne(x);
        samples.row[i] = floorAboveMinusOne(y);
        samples.phaseX[i] = lanczosPhase(x - samples.column[i], samples.toNextX[i]);
        samples.phaseY[i] = lanczosPhase(y - samples.row[i], samples.toNextY[i]);
    }
    // Kernel output for an image; rows beyond the frame read its edge rows, as in a loader.
    const auto runKernel = [&](LanczosRunKernel kernel, const ImageBuffer &image, const float *grey) {
        std::vector<const float *> tapRows;
        std::vector<const float *> greyRows;
        for (int r = -kTapPad; r < height + kTapPad; ++r) {
            const int y = std::min(std::max(r, 0), height - 1);
            tapRows.push_back(image.pixel(0, y));
            greyRows.push_back(grey ? grey + y * width : nullptr);
        }
        auto out = std::make_unique<ImageBuffer>(count, 1);
        LanczosRun run;
        run.samples = &samples;
        run.count = count;
        run.tapRows = tapRows.data();
        run.greyTapRows = greyRows.data();
        run.out = out->pixel(0, 0);
        kernel(run);
        return out;
    };
    const auto colour = filled(width, height,
                               [&](int, int, int) { return uniform(random) < 0.05f ? 1.0f : 0.1f * uniform(random); });
    const auto portable = runKernel(lanczosRunPortable, *colour, nullptr);
    const auto wide = runKernel(lanczosRunWide, *colour, nullptr);
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < 4; ++c)
            ASSERT_NEAR(wide->pixel(i, 0)[c], portable->pixel(i, 0)[c], 2e-6f)
                << "at " << samples.x[i] << "," << samples.y[i] << " colour " << c;

    // On grey rows the grey kernel gives the wide kernel's bits, signed zeros included.
    std::vector<float> grey(static_cast<std::size_t>(width * height + 8), 0.0f);
    for (float &v : grey)
        v = uniform(random) < 0.2f ? -0.0f : uniform(random) < 0.1f ? 0.0f : uniform(random) - 0.3f;
    const auto greyImage = filled(width, height, [&](int x, int y, int) { return grey[y * width + x]; });
    EXPECT_TRUE(sameBits(*runKernel(lanczosRunGreyWide, *greyImage, grey.data()),
                         *runKernel(lanczosRunWide, *greyImage, nullptr)));
}

TEST(SubpixelResample, ARegisteredStackIsTheSameForAnyBandSizeAndThreadCount)
{
    // Colour frames through colour masters, and grey frames (whose rows the grey kernel reads).
    const QString bias =
        writeFrame("interpolated-bias.fits", 70, 150, [](int x, int y, int) { return (x + y) * 0.001; });
    const QString flat =
        writeFrame("interpolated-flat.fits", 70, 150, [](int x, int, int c) { return 0.6 + x * 0.01 + c * 0.1; });
    std::mt19937 random(22);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    QStringList grey;
    for (int i = 0; i < 3; ++i)
        grey << writeFrame(QStringLiteral("interpolated-grey-%1.fits").arg(i), 70, 150,
                           [&](int, int, int) { return uniform(random) < 0.03 ? 1.0 : 0.2 * uniform(random); }, -32, 0);
    for (const QStringList &frames : {writeRandomFrames("interpolated", 3, 70, 150, 21), grey}) {
        const bool masters = frames != grey;
        const auto stack = [&](Mode mode, int threads, int rows) {
            testsupport::CapturingLog log;
            MultiFB fb(log, frames, preferences(threads), kPlentyOfMemory);
            EXPECT_TRUE(!masters || (fb.setBias(bias) && fb.setFlat(flat)));
            fb.setTransform(0, 0.0f, 0.0f, 0.0f);
            fb.setTransform(1, 4.5f, -2.25f, 3.0f);
            fb.setTransform(2, -6.3f, 5.1f, -1.5f);
            fb.setInterpolation(mode);
            if (rows > 0)
                fb.maxScanlines = rows;
            auto result = fb.stackAverage();
            EXPECT_TRUE(result) << "error " << fb.errorCode;
            return result;
        };
        const auto nearest = stack(Mode::Nearest, 1, 0);
        for (Mode mode : {Mode::Bilinear, Mode::Lanczos3}) {
            const auto reference = stack(mode, 1, 0);
            ASSERT_TRUE(reference && nearest);
            EXPECT_FALSE(sameBits(*reference, *nearest)) << "the interpolation reaches the loaders";
            EXPECT_EQ(reference->pixel(30, 40)[0] != reference->pixel(30, 40)[1], masters) << "colours kept apart";
            for (const auto &variant : {std::pair<int, int>{2, 13}, {3, 100}, {2, 1}}) {
                const auto result = stack(mode, variant.first, variant.second);
                ASSERT_TRUE(result);
                EXPECT_TRUE(sameBits(*reference, *result))
                    << (masters ? "colour" : "grey") << ", mode " << static_cast<int>(mode) << ", "
                    << variant.first << " threads, " << variant.second << " rows";
            }
        }
    }
}
