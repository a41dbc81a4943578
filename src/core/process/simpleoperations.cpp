#include "simpleoperations.h"

#include "image/imagebuffer.h"

#include <algorithm>
#include <cstring>

std::unique_ptr<ImageBuffer> cutAboveColour(const ImageBuffer &source, const FloatRGB &mean)
{
    auto result = source.clone();
    const float threshold = colourLuminanceF(mean);
    float *p = result->data.get();
    for (std::int64_t i = 0; i < result->floatCount; i += ImageBuffer::kFloatsPerPixel) {
        // Read as stored: a NaN makes the luminance NaN, which is never above the threshold.
        if (colourLuminanceF(FloatRGB{p[i], p[i + 1], p[i + 2], 0.0f}) > threshold) {
            p[i] = mean.r;
            p[i + 1] = mean.g;
            p[i + 2] = mean.b;
        }
    }
    return result;
}

std::unique_ptr<ImageBuffer> cutAboveAverage(const ImageBuffer &source, const PixelRegion &region)
{
    const std::optional<FloatRGB> mean = regionMean(source, region);
    if (!mean)
        return nullptr;
    return cutAboveColour(source, *mean);
}

std::unique_ptr<ImageBuffer> subtractColour(const ImageBuffer &source, const FloatRGB &colour)
{
    auto result = source.clone();
    float *p = result->data.get();
    for (std::int64_t i = 0; i < result->floatCount; i += ImageBuffer::kFloatsPerPixel) {
        p[i] -= colour.r;
        p[i + 1] -= colour.g;
        p[i + 2] -= colour.b;
    }
    return result;
}

std::unique_ptr<ImageBuffer> removeBackgroundColour(const ImageBuffer &source)
{
    const std::optional<FloatRGB> background = estimateBackgroundColor(source);
    if (!background)
        return nullptr;
    return subtractColour(source, *background);
}

std::unique_ptr<ImageBuffer> normalizedCopy(ImageBuffer &source)
{
    if (source.whiteLevel == source.blackLevel)
        return nullptr;
    auto result = source.clone();
    // The reciprocal in float, as every normalisation of the program takes it, so a normalised
    // copy equals a frame normalised on loading.
    const float scale = 1.0f / (source.whiteLevel - source.blackLevel);
    const float black = source.blackLevel;
    const float *in = source.data.get();
    float *out = result->data.get();
    for (source.readCursor = 0; source.readCursor < source.floatCount;
         source.readCursor += ImageBuffer::kFloatsPerPixel) {
        const std::int64_t i = source.readCursor;
        out[i] = (in[i] - black) * scale;
        out[i + 1] = (in[i + 1] - black) * scale;
        out[i + 2] = (in[i + 2] - black) * scale;
        out[i + 3] = 1.0f;
    }
    result->whiteLevel = 1.0f;
    result->blackLevel = 0.0f;
    result->channels = source.channels;
    return result;
}

std::unique_ptr<ImageBuffer> cropCopy(const ImageBuffer &source, int x, int y, int w, int h)
{
    if (w <= 0 || h <= 0)
        return nullptr;
    auto result = std::make_unique<ImageBuffer>(w, h);
    result->whiteLevel = source.whiteLevel;
    result->blackLevel = source.blackLevel;
    result->channels = source.channels;
    if (!source.hasPixels())
        return result;
    // Copy the part of each row that lies inside the source; the rest keeps its zeros.
    const std::int64_t firstColumn = std::max<std::int64_t>(x, 0);
    const std::int64_t endColumn = std::min<std::int64_t>(static_cast<std::int64_t>(x) + w, source.width);
    if (firstColumn >= endColumn)
        return result;
    const std::size_t rowBytes = static_cast<std::size_t>(endColumn - firstColumn) * ImageBuffer::kBytesPerPixel;
    for (int j = 0; j < h; ++j) {
        const std::int64_t sourceRow = static_cast<std::int64_t>(y) + j;
        if (sourceRow < 0 || sourceRow >= source.height)
            continue;
        std::memcpy(result->pixel(static_cast<int>(firstColumn - x), j),
                    source.pixel(static_cast<int>(firstColumn), static_cast<int>(sourceRow)), rowBytes);
    }
    return result;
}
