#pragma once
// Small images for the processing tests, made in code, and comparisons of whole pixels.
#include "image/imagebuffer.h"
#include "support/capturinglog.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>

namespace processtest {

using testsupport::CapturingLog;
using RGB = std::array<float, 3>;
constexpr float kInf = std::numeric_limits<float>::infinity();

inline void setPixel(ImageBuffer &image, int x, int y, float r, float g, float b, float a = 1.0f)
{
    float *p = image.pixel(x, y);
    p[0] = r;
    p[1] = g;
    p[2] = b;
    p[3] = a;
}

// A w x h image whose colour at (x, y) is value(x, y), alpha 1.
inline std::unique_ptr<ImageBuffer> imageOf(int w, int h, const std::function<RGB(int, int)> &value)
{
    auto image = std::make_unique<ImageBuffer>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const RGB c = value(x, y);
            setPixel(*image, x, y, c[0], c[1], c[2]);
        }
    return image;
}

inline std::unique_ptr<ImageBuffer> filledImage(int w, int h, float r, float g, float b)
{
    return imageOf(w, h, [=](int, int) { return RGB{r, g, b}; });
}

// One row of grey pixels with the given values.
inline std::unique_ptr<ImageBuffer> greyRow(std::initializer_list<float> values)
{
    auto image = std::make_unique<ImageBuffer>(static_cast<int>(values.size()), 1);
    int x = 0;
    for (float v : values)
        setPixel(*image, x++, 0, v, v, v);
    return image;
}

inline bool samePixels(const ImageBuffer &a, const ImageBuffer &b)
{
    return a.width == b.width && a.height == b.height && a.floatCount == b.floatCount
           && std::memcmp(a.data.get(), b.data.get(), static_cast<std::size_t>(a.floatCount) * sizeof(float)) == 0;
}

// Red, green and blue, for comparing a whole pixel in one expectation.
inline RGB rgbOf(const FloatRGB &p)
{
    return {p.r, p.g, p.b};
}

// The stored values, a NaN included (getPixel would read it as 0).
inline RGB rgb(const ImageBuffer &image, int x, int y)
{
    const float *p = image.pixel(x, y);
    return {p[0], p[1], p[2]};
}

// White level, black level and channel count, set or compared in one line.
using Levels = std::array<float, 3>;
inline Levels levels(const ImageBuffer &image)
{
    return {image.whiteLevel, image.blackLevel, static_cast<float>(image.channels)};
}

inline void setLevels(ImageBuffer &image, const Levels &levels)
{
    image.whiteLevel = levels[0];
    image.blackLevel = levels[1];
    image.channels = static_cast<int>(levels[2]);
}

} // namespace processtest
