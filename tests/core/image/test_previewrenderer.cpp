#include "image/imagebuffer.h"
#include "image/previewrenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>
#include <vector>

namespace {
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::unique_ptr<ImageBuffer> greyRow(const std::vector<float> &values, float whiteLevel = 1.0f)
{
    auto buffer = std::make_unique<ImageBuffer>(static_cast<int>(values.size()), 1);
    for (std::size_t x = 0; x < values.size(); ++x) {
        float *p = buffer->pixel(static_cast<int>(x), 0);
        p[0] = p[1] = p[2] = values[x];
    }
    buffer->whiteLevel = whiteLevel;
    return buffer;
}

PreviewParams correction(float black, float gamma, float white)
{
    PreviewParams params;
    std::fill_n(params.vcBlack, 3, black);
    std::fill_n(params.vcGamma, 3, gamma);
    std::fill_n(params.vcWhite, 3, white);
    return params;
}

// The level shown for each pixel of a grey row, under a correction that treats the channels
// alike: each channel is computed in its own vector lane, and all three must agree.
std::vector<int> shown(const std::vector<float> &values, const PreviewParams &params, float whiteLevel = 1.0f)
{
    std::vector<std::uint32_t> pixels;
    EXPECT_TRUE(renderPreview(*greyRow(values, whiteLevel), params, pixels, 1));
    std::vector<int> levels;
    for (std::uint32_t pixel : pixels) {
        const int red = static_cast<int>((pixel >> 16) & 0xFF);
        EXPECT_EQ(pixel & 0xFFFFu, red * 0x101u) << "green and blue";
        levels.push_back(red);
    }
    return levels;
}
} // namespace

TEST(PreviewRenderer, LevelsFollowTheBufferScaleViewCorrectionWithFastPowAndPreviewGamma)
{
    using Levels = std::vector<int>;
    EXPECT_EQ(shown({0.0f, 0.5f, 1.0f, 3.0f, -0.5f}, PreviewParams{}), (Levels{0, 127, 255, 255, 0}));
    EXPECT_EQ(shown({65535.0f}, PreviewParams{}, 65535.0f), Levels{255}); // 16-bit RAW
    EXPECT_EQ(shown({1e6f}, correction(0.0f, 1.0f, 0.0001f)), Levels{255});
    EXPECT_EQ(shown({0.3f}, correction(0.1f, 1.0f, 0.5f)), Levels{127});
    EXPECT_EQ(shown({kNaN, -kInf, kInf}, PreviewParams{}), (Levels{0, 0, 255}));
    EXPECT_EQ(shown({kNaN, -kInf, kInf}, correction(0.0f, 2.0f, 1.0f), 65535.0f), (Levels{0, 0, 255}));
    // The preview gamma lifts each level in double precision; 64.5 / 255 is level 64 before it.
    PreviewParams lifted;
    std::tie(lifted.usePreviewGamma, lifted.previewGamma) = std::pair(true, 2.2f);
    EXPECT_EQ(shown({64.5f / 255.0f, 0.0f, 7.0f, kNaN}, lifted),
              (Levels{static_cast<int>(std::pow(64.0 / 255.0, 1.0 / 2.2) * 255.0), 0, 255, 0}));
    // Channels are corrected apart and packed opaque as 0xFFRRGGBB.
    PreviewParams perChannel;
    perChannel.vcWhite[0] = perChannel.vcBlack[2] = 0.5f;
    std::vector<std::uint32_t> pixels;
    ASSERT_TRUE(renderPreview(*greyRow({0.25f}), perChannel, pixels, 1));
    EXPECT_EQ(pixels, std::vector<std::uint32_t>{0xFF7F3F00u});
    // The view correction's gamma uses fastPow, which rewrites the exponent word: 4.0 (0x40100000)
    // to the power 0.5 becomes 0x3FFF893F.
    double expected = 0.0;
    const std::uint64_t bits = 0x3FFF893F00000000u;
    std::memcpy(&expected, &bits, sizeof expected);
    EXPECT_EQ(fastPow(4.0, 0.5), expected);
    EXPECT_NEAR(fastPow(0.3, 2.5) / std::pow(0.3, 2.5), 1.0, 0.1);
    EXPECT_EQ(shown({0.25f}, correction(0.0f, 0.5f, 1.0f)), Levels{125}); // 127 with the exact root
    // Across the range: nothing below 0 or NaN shows, nothing past 255; fastPow's error is visible
    // even at 1.0 for a small gamma.
    const std::vector<float> values{1e-30f, 3e38f, kNaN, -kInf, kInf, -0.25f, 0.1f, 0.5f, 0.9f, 1.0f, 1.5f};
    EXPECT_EQ(shown(values, correction(0.0f, 0.3f, 1.0f)), (Levels{0, 255, 0, 0, 255, 0, 123, 211, 242, 249, 255}));
}

TEST(PreviewRenderer, AnyThreadCountGivesTheSingleThreadedImageBitForBit)
{
    ImageBuffer buffer(97, 61);
    for (int y = 0; y < buffer.height; ++y)
        for (int x = 0; x < buffer.width; ++x) {
            float *p = buffer.pixel(x, y);
            p[0] = static_cast<float>((x * 7 + y * 13) % 300) * 4.0f;
            p[1] = static_cast<float>((x * y) % 1000);
            p[2] = (x + y) % 17 == 0 ? kNaN : static_cast<float>(x) * 11.0f - 50.0f;
        }
    std::tie(buffer.whiteLevel, buffer.blackLevel) = std::pair(1000.0f, 20.0f);
    PreviewParams params = correction(0.05f, 0.7f, 0.9f);
    params.vcGamma[1] = 1.0f;
    params.usePreviewGamma = true;
    std::vector<std::uint32_t> single;
    ASSERT_TRUE(renderPreview(buffer, params, single, 1));
    // More threads than rows, and 0 for the machine's count.
    for (int threads : {3, 200, 0}) {
        std::vector<std::uint32_t> threaded;
        ASSERT_TRUE(renderPreview(buffer, params, threaded, threads));
        EXPECT_EQ(threaded, single) << threads << " threads";
    }
    // Rows of a wider target keep their padding; a buffer without pixels renders nothing.
    std::vector<std::uint32_t> padded(2 * 4, 7u);
    ASSERT_TRUE(renderPreview(*greyRow({1.0f, 1.0f}), PreviewParams{}, padded.data(), 4, 2));
    EXPECT_EQ(padded, (std::vector<std::uint32_t>{0xFFFFFFFFu, 0xFFFFFFFFu, 7u, 7u, 7u, 7u, 7u, 7u}));
    EXPECT_FALSE(renderPreview(ImageBuffer(0, 0), PreviewParams{}, padded, 2));
}
