#pragma once
// Small images for the processing tests, made in code, and comparisons of whole pixels.
#include "image/imagebuffer.h"
#include "support/capturinglog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

namespace processtest {

using testsupport::CapturingLog;
using RGB = std::array<float, 3>;
using RGBA = std::array<float, 4>;
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

inline void setPixel(ImageBuffer &image, int x, int y, float r, float g, float b, float a = 1.0f)
{
    const float v[4] = {r, g, b, a};
    std::memcpy(image.pixel(x, y), v, sizeof v);
}

// A w x h image of the given floats, four per pixel (r, g, b, a), row by row.
using Floats = std::vector<float>;
inline std::unique_ptr<ImageBuffer> pixelsOf(int w, int h, const Floats &floats)
{
    auto image = std::make_unique<ImageBuffer>(w, h);
    std::copy(floats.begin(), floats.end(), image->data.get());
    return image;
}

// Every stored float of a small image, to compare it whole in one expectation.
inline Floats floatsOf(const ImageBuffer &image)
{
    return Floats(image.data.get(), image.data.get() + image.floatCount);
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
inline std::unique_ptr<ImageBuffer> greyRow(const std::vector<float> &v)
{
    return imageOf(static_cast<int>(v.size()), 1, [&](int x, int) { return RGB{v[x], v[x], v[x]}; });
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
inline RGBA rgba(const ImageBuffer &image, int x, int y)
{
    const float *p = image.pixel(x, y);
    return {p[0], p[1], p[2], p[3]};
}

// White level, black level and channel count, set or compared in one line.
using Levels = std::array<float, 3>;
inline Levels levels(const ImageBuffer &image)
{
    return {image.whiteLevel, image.blackLevel, static_cast<float>(image.channels)};
}

inline void setLevels(ImageBuffer &image, const Levels &levels)
{
    image.whiteLevel = levels[0], image.blackLevel = levels[1], image.channels = static_cast<int>(levels[2]);
}

} // namespace processtest
