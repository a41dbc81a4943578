#include "calib/calibarithmetic.h"
#include "image/imagebuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

void setPixel(ImageBuffer &image, int x, int y, float r, float g, float b, float a = 1.0f)
{
    float *p = image.pixel(x, y);
    p[0] = r;
    p[1] = g;
    p[2] = b;
    p[3] = a;
}

std::unique_ptr<ImageBuffer> filled(int width, int height, float value, float alpha = 0.0f)
{
    auto image = std::make_unique<ImageBuffer>(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            setPixel(*image, x, y, value, value, value, alpha);
    return image;
}

} // namespace

TEST(NormalizeImage, MapsRawScaleToZeroOneOrRefusesAFrameWithoutValueRange)
{
    ImageBuffer raw(2, 1);
    raw.whiteLevel = 65535.0f;
    raw.blackLevel = 0.0f;
    setPixel(raw, 0, 0, 65535.0f / 2.0f, 65535.0f, 0.0f, 0.0f);
    setPixel(raw, 1, 0, kNaN, -655.35f, 70000.0f, 0.0f);

    ASSERT_TRUE(normalizeImage(raw));
    EXPECT_FLOAT_EQ(raw.pixel(0, 0)[0], 0.5f);
    EXPECT_FLOAT_EQ(raw.pixel(0, 0)[1], 1.0f);
    EXPECT_EQ(raw.pixel(0, 0)[2], 0.0f);
    EXPECT_TRUE(std::isnan(raw.pixel(1, 0)[0])) << "a NaN sample stays NaN";
    EXPECT_FLOAT_EQ(raw.pixel(1, 0)[1], -0.01f) << "nothing is clamped";
    EXPECT_GT(raw.pixel(1, 0)[2], 1.0f);
    EXPECT_EQ(raw.pixel(0, 0)[3], 1.0f);
    EXPECT_EQ(raw.pixel(1, 0)[3], 1.0f);
    EXPECT_EQ(raw.whiteLevel, 1.0f) << "callers skip a second normalisation";
    EXPECT_EQ(raw.blackLevel, 0.0f);
    EXPECT_EQ(raw.readCursor, raw.floatCount) << "the walk runs on the read cursor";

    auto offset = filled(1, 1, 600.0f);
    offset->whiteLevel = 1000.0f;
    offset->blackLevel = 200.0f;
    ASSERT_TRUE(normalizeImage(*offset));
    EXPECT_FLOAT_EQ(offset->pixel(0, 0)[0], 0.5f);

    // No value range: refused, and the frame is left alone.
    auto flat = filled(3, 2, 7.0f, 0.0f);
    flat->whiteLevel = flat->blackLevel = 5.0f;
    EXPECT_FALSE(normalizeImage(*flat));
    EXPECT_EQ(flat->pixel(2, 1)[0], 7.0f);
    EXPECT_EQ(flat->pixel(2, 1)[3], 0.0f);
    EXPECT_EQ(flat->whiteLevel, 5.0f);
    EXPECT_EQ(flat->blackLevel, 5.0f);
}

TEST(SubtractImage, KeepsNegativeResultsReadsNaNAsZeroAndSetsAlpha)
{
    ImageBuffer frame(2, 1);
    setPixel(frame, 0, 0, 0.2f, 0.5f, kNaN, 0.0f);
    setPixel(frame, 1, 0, 0.9f, kInf, 0.4f, 0.0f);
    ImageBuffer master(2, 1);
    setPixel(master, 0, 0, 0.3f, 0.1f, 0.25f);
    setPixel(master, 1, 0, kNaN, 0.1f, 0.1f);

    subtractImage(frame, master);
    EXPECT_FLOAT_EQ(frame.pixel(0, 0)[0], 0.2f - 0.3f) << "a master brighter than the frame leaves a negative sample";
    EXPECT_FLOAT_EQ(frame.pixel(0, 0)[1], 0.4f);
    EXPECT_FLOAT_EQ(frame.pixel(0, 0)[2], -0.25f) << "a NaN frame sample reads as 0";
    EXPECT_FLOAT_EQ(frame.pixel(1, 0)[0], 0.9f) << "a NaN master sample reads as 0";
    EXPECT_EQ(frame.pixel(1, 0)[1], kInf);
    EXPECT_EQ(frame.pixel(0, 0)[3], 1.0f);
    EXPECT_EQ(frame.pixel(1, 0)[3], 1.0f);
}

TEST(DivideImage, ZeroFlatGivesOneOrNaNNeverAnInfinity)
{
    ImageBuffer frame(3, 1);
    setPixel(frame, 0, 0, 0.3f, 0.0f, -0.2f, 0.0f);
    setPixel(frame, 1, 0, 0.6f, 0.25f, kNaN, 0.0f);
    setPixel(frame, 2, 0, 0.7f, 0.0f, 0.1f, 0.0f);
    ImageBuffer flat(2, 1);
    setPixel(flat, 0, 0, 0.0f, 0.0f, 0.0f);
    setPixel(flat, 1, 0, 0.5f, 0.5f, 0.5f);

    divideImage(frame, flat);
    EXPECT_EQ(frame.pixel(0, 0)[0], 1.0f) << "0.3 / 0";
    EXPECT_TRUE(std::isnan(frame.pixel(0, 0)[1])) << "0 / 0";
    EXPECT_EQ(frame.getPixel(0, 0).g, 0.0f) << "and a later read sees 0";
    EXPECT_EQ(frame.pixel(0, 0)[2], 1.0f) << "-0.2 / 0";
    EXPECT_FLOAT_EQ(frame.pixel(1, 0)[0], 1.2f);
    EXPECT_FLOAT_EQ(frame.pixel(1, 0)[1], 0.5f);
    EXPECT_EQ(frame.pixel(1, 0)[2], 0.0f) << "a NaN frame sample reads as 0";
    EXPECT_EQ(frame.pixel(2, 0)[0], 1.0f) << "outside the flat a non-zero sample becomes 1.0";
    EXPECT_TRUE(std::isnan(frame.pixel(2, 0)[1])) << "outside the flat a zero sample becomes NaN";
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(frame.pixel(x, 0)[3], 1.0f);
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
                    const FloatRGB p = frame->getPixel(x, y);
                    ASSERT_EQ(p.r, expected) << shape[0] << " x " << shape[1] << (divide ? " flat " : " dark ") << x
                                             << "," << y;
                    ASSERT_EQ(p.b, expected);
                    ASSERT_EQ(p.a, 1.0f);
                }
        }
    }
}
