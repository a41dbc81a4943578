#include "calib/calibarithmetic.h"
#include "image/imagebuffer.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A one-row image of the given pixels (r, g, b, alpha).
std::unique_ptr<ImageBuffer> row(std::initializer_list<std::array<float, 4>> pixels)
{
    auto image = std::make_unique<ImageBuffer>(static_cast<int>(pixels.size()), 1);
    float *p = image->data.get();
    for (const auto &pixel : pixels)
        p = std::copy(pixel.begin(), pixel.end(), p);
    return image;
}

// Row 0 as "r g b a|r g b a ...", six significant digits, any NaN as "nan".
std::string text(const ImageBuffer &image)
{
    QStringList pixels;
    for (int x = 0; x < image.width; ++x) {
        QStringList samples;
        for (int c = 0; c < 4; ++c) {
            const float v = image.pixel(x, 0)[c];
            samples << (std::isnan(v) ? QStringLiteral("nan") : QString::asprintf("%g", v));
        }
        pixels << samples.join(' ');
    }
    return pixels.join('|').toStdString();
}

std::unique_ptr<ImageBuffer> filled(int width, int height, float value)
{
    auto image = std::make_unique<ImageBuffer>(width, height);
    for (std::int64_t i = 0; i < image->floatCount; ++i)
        image->data[i] = i % 4 == 3 ? 0.0f : value;
    return image;
}

} // namespace

TEST(NormalizeImage, MapsRawScaleToZeroOneOrRefusesAFrameWithoutValueRange)
{
    auto raw = row({{65535.0f / 2.0f, 65535.0f, 0.0f, 0.0f}, {kNaN, -655.35f, 131070.0f, 0.0f}});
    raw->whiteLevel = 65535.0f;
    ASSERT_TRUE(normalizeImage(*raw));
    // A NaN sample stays NaN, nothing is clamped, alpha becomes 1.
    EXPECT_EQ(text(*raw), "0.5 1 0 1|nan -0.01 2 1");
    EXPECT_EQ(raw->whiteLevel, 1.0f) << "callers skip a second normalisation";
    EXPECT_EQ(raw->blackLevel, 0.0f);
    EXPECT_EQ(raw->readCursor, raw->floatCount) << "the walk runs on the read cursor";
    auto offset = row({{600.0f, 200.0f, 1000.0f, 0.0f}});
    offset->whiteLevel = 1000.0f;
    offset->blackLevel = 200.0f;
    ASSERT_TRUE(normalizeImage(*offset));
    EXPECT_EQ(text(*offset), "0.5 0 1 1");
    // No value range: refused, and the frame is left alone.
    auto flat = row({{7.0f, 7.0f, 7.0f, 0.0f}});
    flat->whiteLevel = flat->blackLevel = 5.0f;
    EXPECT_FALSE(normalizeImage(*flat));
    EXPECT_EQ(text(*flat), "7 7 7 0");
    EXPECT_EQ(flat->whiteLevel, 5.0f);
    EXPECT_EQ(flat->blackLevel, 5.0f);
}

TEST(SubtractAndDivideImage, KnownPixelsIncludingNaNsInfinitiesAndZeroFlats)
{
    // A master brighter than the frame leaves a negative sample; a NaN on either side reads as 0.
    auto frame = row({{0.2f, 0.5f, kNaN, 0.0f}, {0.9f, kInf, 0.4f, 0.0f}});
    subtractImage(*frame, *row({{0.3f, 0.1f, 0.25f, 1.0f}, {kNaN, 0.1f, 0.1f, 1.0f}}));
    EXPECT_EQ(text(*frame), "-0.1 0.4 -0.25 1|0.9 inf 0.3 1");
    // A zero flat gives 1.0 for a non-zero sample and NaN for 0, never an infinity; outside
    // the flat it reads as zero.
    frame = row({{0.3f, 0.0f, -0.2f, 0.0f}, {0.6f, 0.25f, kNaN, 0.0f}, {0.7f, 0.0f, 0.1f, 0.0f}});
    divideImage(*frame, *row({{0.0f, 0.0f, 0.0f, 1.0f}, {0.5f, 0.5f, 0.5f, 1.0f}}));
    EXPECT_EQ(text(*frame), "1 nan 1 1|1.2 0.5 0 1|1 nan 1 1");
}

TEST(MasterArithmetic, AMasterOfAnotherSizeChangesOnlyTheBlockItCovers)
{
    // Frame 13 x 9 at 0.5: a dark of 0.125 leaves 0.375 where it reaches, a flat of 0.25 gives
    // 2.0 there and 1.0 beyond it (a non-zero sample over nothing); alpha is 1 everywhere.
    const int shapes[][2] = {{5, 4}, {20, 3}, {4, 20}, {30, 30}, {0, 0}};
    for (const auto &shape : shapes) {
        for (bool divide : {false, true}) {
            auto frame = filled(13, 9, 0.5f);
            if (divide)
                divideImage(*frame, *filled(shape[0], shape[1], 0.25f));
            else
                subtractImage(*frame, *filled(shape[0], shape[1], 0.125f));
            for (int y = 0; y < 9; ++y)
                for (int x = 0; x < 13; ++x) {
                    const bool covered = x < shape[0] && y < shape[1];
                    const float expected = divide ? (covered ? 2.0f : 1.0f) : (covered ? 0.375f : 0.5f);
                    const float *p = frame->pixel(x, y);
                    ASSERT_EQ((std::array<float, 4>{p[0], p[1], p[2], p[3]}),
                              (std::array<float, 4>{expected, expected, expected, 1.0f}))
                        << shape[0] << " x " << shape[1] << (divide ? " flat " : " dark ") << x << "," << y;
                }
        }
    }
}
