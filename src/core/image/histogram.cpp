#include "histogram.h"

#include "imagebuffer.h"

#include <cmath>

namespace {

constexpr int kTopBin = Histogram::kBins - 1;
constexpr float kTopBinValue = static_cast<float>(kTopBin);

// A component as it is counted: NaN as 0, an infinity of either sign as 1.0 (a saturated
// sample, not a huge one), anything negative as 0.
float countedValue(float v)
{
    if (std::isnan(v))
        return 0.0f;
    if (std::isinf(v))
        return 1.0f;
    return v < 0.0f ? 0.0f : v;
}

// trunc(scaled), with everything past the top bin (values above maxValue, the 1.0 of an
// infinity) counted in the top bin.
int binIndex(float scaled)
{
    if (!(scaled > 0.0f)) // also NaN, which a zero scale times an overflowed one could give
        return 0;
    if (scaled >= kTopBinValue)
        return kTopBin;
    return static_cast<int>(scaled);
}

float clipPoint(const Histogram::Table &table, const ImageBuffer &buffer, float p)
{
    // Single precision on purpose: 1 - 0.999f is slightly below 0.001, so 10000 pixels give a
    // threshold of 9, not 10, and the points logged and used for stretching depend on that.
    const float total = static_cast<float>(static_cast<std::int64_t>(buffer.width) * buffer.height);
    const float thresholdValue = std::trunc(total * (1.0f - p));
    const std::uint64_t threshold = thresholdValue > 0.0f ? static_cast<std::uint64_t>(thresholdValue) : 0;

    int k = kTopBin;
    std::uint64_t sum = 0;
    for (; k >= 0; --k) {
        sum += static_cast<std::uint32_t>(table[k]); // the low 32 bits of each counter
        if (sum >= threshold)
            break;
    }
    // The point lies one bin below the bin at which the count was reached. Reached only at
    // bin 0 (or never) means that nearly every pixel is black: the point is 0, not one bin
    // below it.
    if (k <= 0)
        return 0.0f;
    constexpr float kBinWidth = 1.0f / 65535.0f;
    return buffer.maxValue * kBinWidth * static_cast<float>(k - 1);
}

} // namespace

std::unique_ptr<Histogram> buildHistogram(ImageBuffer &buffer)
{
    auto histogram = std::make_unique<Histogram>();
    if (!std::isfinite(buffer.maxValue))
        buffer.scanRange();

    // Without a positive, finite maximum there is no usable scale: every pixel counts in bin 0.
    const float maxValue = buffer.maxValue;
    const float scale = (maxValue > 0.0f && std::isfinite(maxValue)) ? 65535.0f / maxValue : 0.0f;

    if (!buffer.hasPixels())
        return histogram;
    const float *p = buffer.data.get();
    const float *end = p + buffer.floatCount;
    for (; p < end; p += ImageBuffer::kFloatsPerPixel) {
        const float r = countedValue(p[0]);
        const float g = countedValue(p[1]);
        const float b = countedValue(p[2]);
        const float lum = 0.299f * r + 0.587f * g + 0.114f * b;
        ++histogram->luminance[binIndex(scale * lum)];
        ++histogram->red[binIndex(scale * r)];
        ++histogram->green[binIndex(scale * g)];
        ++histogram->blue[binIndex(scale * b)];
    }
    return histogram;
}

float clipLuminance(const Histogram &histogram, const ImageBuffer &buffer, float p)
{
    return clipPoint(histogram.luminance, buffer, p);
}

float clipRed(const Histogram &histogram, const ImageBuffer &buffer, float p)
{
    return clipPoint(histogram.red, buffer, p);
}

float clipGreen(const Histogram &histogram, const ImageBuffer &buffer, float p)
{
    return clipPoint(histogram.green, buffer, p);
}

float clipBlue(const Histogram &histogram, const ImageBuffer &buffer, float p)
{
    return clipPoint(histogram.blue, buffer, p);
}
