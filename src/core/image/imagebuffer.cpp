#include "imagebuffer.h"

#include "platform/hugepages.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {
float nanToZero(float v)
{
    return std::isnan(v) ? 0.0f : v;
}
} // namespace

std::uint64_t ImageBuffer::bytesFor(int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), &bytes)
        || __builtin_mul_overflow(bytes, static_cast<std::uint64_t>(kBytesPerPixel), &bytes))
        return std::numeric_limits<std::uint64_t>::max();
    return bytes;
}

ImageBuffer::ImageBuffer(int w, int h)
{
    if (w <= 0 || h <= 0)
        return;
    const std::uint64_t bytes = bytesFor(w, h);
    if (bytes == std::numeric_limits<std::uint64_t>::max()
        || bytes > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()))
        throw AllocationFailure(bytes);
    const std::size_t floats = static_cast<std::size_t>(bytes / sizeof(float));
    data.reset(new (std::nothrow) float[floats]());
    if (!data)
        throw AllocationFailure(bytes);
    width = w;
    height = h;
    floatCount = static_cast<std::int64_t>(floats);
}

FloatRGB ImageBuffer::getPixel(int x, int y) const
{
    if (floatCount == 0 || !contains(x, y))
        return FloatRGB{};
    const float *p = pixel(x, y);
    return FloatRGB{nanToZero(p[0]), nanToZero(p[1]), nanToZero(p[2]), p[3]};
}

std::unique_ptr<ImageBuffer> ImageBuffer::clone() const
{
    auto copy = std::make_unique<ImageBuffer>(width, height);
    if (floatCount > 0)
        std::memcpy(copy->data.get(), data.get(), static_cast<std::size_t>(floatCount) * sizeof(float));
    copy->whiteLevel = whiteLevel;
    copy->blackLevel = blackLevel;
    copy->channels = channels;
    copy->maxValue = maxValue;
    return copy;
}

float ImageBuffer::scanRange()
{
    if (floatCount <= 0)
        return 0.0f;
    float highest = nanToZero(data[0]);
    float lowest = highest;
    const float *p = data.get();
    const float *end = p + floatCount;
    for (; p < end; p += kFloatsPerPixel) {
        for (int c = 0; c < 3; ++c) {
            const float v = nanToZero(p[c]);
            if (v > highest)
                highest = v;
            if (v < lowest)
                lowest = v;
        }
    }
    maxValue = highest;
    minValue = lowest;
    return maxValue;
}

std::unique_ptr<ImageBuffer> ImageBuffer::createUnfilled(int width, int height)
{
    auto image = std::make_unique<ImageBuffer>(0, 0);
    if (width <= 0 || height <= 0)
        return image;
    const std::uint64_t bytes = ImageBuffer::bytesFor(width, height);
    if (bytes == std::numeric_limits<std::uint64_t>::max()
        || bytes > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()))
        throw AllocationFailure(bytes);
    const auto floats = static_cast<std::size_t>(bytes / sizeof(float));
    image->data.reset(new (std::nothrow) float[floats]);
    if (!image->data)
        throw AllocationFailure(bytes);
    preferHugePages(image->data.get(), static_cast<std::size_t>(bytes));
    image->width = width;
    image->height = height;
    image->floatCount = static_cast<std::int64_t>(floats);
    return image;
}

void ImageBuffer::keepFirstRows(int rows)
{
    if (rows < 1 || rows > height)
        return;
    height = rows;
    floatCount = static_cast<std::int64_t>(width) * rows * kFloatsPerPixel;
}
