#include "grayimage.h"

#include "image/imagebuffer.h"
#include "process/regionstats.h"
#include "platform/hugepages.h"

#include <cmath>

namespace {

float nanToZero(float v)
{
    return std::isnan(v) ? 0.0f : v;
}

} // namespace

GrayImage makeGrayImage(const ImageBuffer &image)
{
    GrayImage gray;
    if (!image.hasPixels())
        return gray;
    const std::int64_t count = static_cast<std::int64_t>(image.width) * image.height;
    gray.values.reset(new float[static_cast<std::size_t>(count)]);
    preferHugePages(gray.values.get(), static_cast<std::size_t>(count) * sizeof(float));
    gray.width = image.width;
    gray.height = image.height;
    const float *p = image.data.get();
    float *out = gray.values.get();
    if (image.channels >= 3) {
        for (std::int64_t i = 0; i < count; ++i, p += ImageBuffer::kFloatsPerPixel)
            out[i] = grayOf(nanToZero(p[0]), nanToZero(p[1]), nanToZero(p[2]));
    } else {
        for (std::int64_t i = 0; i < count; ++i, p += ImageBuffer::kFloatsPerPixel)
            out[i] = nanToZero(p[0]);
    }
    return gray;
}

float starBackgroundLevel(const ImageBuffer &image)
{
    const PixelRegion whole = wholeImageRegion(image);
    std::optional<FloatRGB> colour = regionClippedMean(image, 1.0f, whole);
    if (!colour)
        colour = regionMean(image, whole);
    if (!colour)
        return 0.0f;
    return static_cast<float>(0.299 * colour->r + 0.587 * colour->g + 0.144 * colour->b);
}
