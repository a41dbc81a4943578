#pragma once
// Small images for the processing tests, made in code.
#include "image/imagebuffer.h"
#include "support/capturinglog.h"

#include <cstring>
#include <initializer_list>
#include <memory>

namespace processtest {

using testsupport::CapturingLog;

inline void setPixel(ImageBuffer &image, int x, int y, float r, float g, float b, float a = 1.0f)
{
    float *p = image.pixel(x, y);
    p[0] = r;
    p[1] = g;
    p[2] = b;
    p[3] = a;
}

// A w x h image filled with one colour, alpha 1.
inline std::unique_ptr<ImageBuffer> filledImage(int w, int h, float r, float g, float b)
{
    auto image = std::make_unique<ImageBuffer>(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            setPixel(*image, x, y, r, g, b);
    return image;
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

} // namespace processtest
