// Calibration arithmetic on known pixels: normalisation to 0 .. 1, subtraction and division by
// masters, NaNs, infinities, zero flats and masters of another size.
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

// A one-row image of the given pixels (r, g, b, alpha) with the given levels.
std::unique_ptr<ImageBuffer> row(std::initializer_list<std::array<float, 4>> pixels, float white = 1.0f,
                                 float black = 0.0f)
{
    auto image = std::make_unique<ImageBuffer>(static_cast<int>(pixels.size()), 1);
    float *p = image->data.get();
    for (const auto &pixel : pixels)
        p = std::copy(pixel.begin(), pixel.end(), p);
    image->whiteLevel = white;
    image->blackLevel = black;
    return image;
}

// Row 0 as "r g b a|r g b a ...", six significant digits, any NaN as "nan".
std::string text(const ImageBuffer &image)
{
    QStringList samples;
    for (int i = 0; i < image.width * 4; ++i)
        samples << (std::isnan(image.data[i]) ? QStringLiteral("nan") : QString::asprintf("%g", image.data[i]))
                       + (i % 4 < 3 ? " " : "|");
    return samples.join("").chopped(1).toStdString();
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
    auto raw = row({{65535.0f / 2.0f, 65535.0f, 0.0f, 0.0f}, {kNaN, -655.35f, 131070.0f, 0.0f}}, 65535.0f);
    ASSERT_TRUE(normalizeImage(*raw));
    // A NaN sample stays NaN, nothing is clamped, alpha becomes 1.
    EXPECT_EQ(text(*raw), "0.5 1 0 1|nan -0.01 2 1");
    EXPECT_EQ((std::array{raw->whiteLevel, raw->blackLevel}), (std::array{1.0f, 0.0f})) << "no second normalisation";
    EXPECT_EQ(raw->readCursor, raw->floatCount) << "the walk runs on the read cursor";
    auto offset = row({{600.0f, 200.0f, 1000.0f, 0.0f}}, 1000.0f, 200.0f);
    ASSERT_TRUE(normalizeImage(*offset));
    EXPECT_EQ(text(*offset), "0.5 0 1 1");
    // No value range: refused, and the frame is left alone.
    auto flat = row({{7.0f, 7.0f, 7.0f, 0.0f}}, 5.0f, 5.0f);
    EXPECT_FALSE(normalizeImage(*flat));
    EXPECT_EQ(text(*flat), "7 7 7 0");
    EXPECT_EQ((std::array{flat->whiteLevel, flat->blackLevel}), (std::array{5.0f, 5.0f}));
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
    for (const auto &[width, height] : {std::pair{5, 4}, {20, 3}, {4, 20}, {30, 30}, {0, 0}})
        for (bool divide : {false, true}) {
            auto frame = filled(13, 9, 0.5f);
            divide ? divideImage(*frame, *filled(width, height, 0.25f))
                   : subtractImage(*frame, *filled(width, height, 0.125f));
            for (int i = 0; i < 13 * 9 * 4; ++i) {
                const bool covered = i / 4 % 13 < width && i / 52 < height;
                const float expected = i % 4 == 3 ? 1.0f : divide ? (covered ? 2.0f : 1.0f) : (covered ? 0.375f : 0.5f);
                ASSERT_EQ(frame->data[i], expected)
                    << width << " x " << height << (divide ? " flat, " : " dark, ") << i;
            }
        }
}
