#include "colourbalance.h"

#include "image/imagebuffer.h"

#include <cmath>

namespace {

float nanToZero(float v)
{
    return std::isnan(v) ? 0.0f : v;
}

} // namespace

NeutralizationFactors neutralizationFactors(const FloatRGB &background)
{
    NeutralizationFactors f;
    float reference = background.g;
    if (background.b > background.g) {
        f.reference = ReferenceChannel::Blue;
        reference = background.b;
    } else if (background.r > background.g) {
        f.reference = ReferenceChannel::Red;
        reference = background.r;
    }
    // Divide by the reference first and take reciprocals after, both in float: factors that
    // come out of this order are the ones users have compared their results against.
    f.scaledBackground = FloatRGB{background.r / reference, background.g / reference, background.b / reference, 0.0f};
    f.red = 1.0f / f.scaledBackground.r;
    f.green = 1.0f / f.scaledBackground.g;
    f.blue = 1.0f / f.scaledBackground.b;
    f.allFinite = std::isfinite(f.red) && std::isfinite(f.green) && std::isfinite(f.blue);
    return f;
}

ImageBuffer &applyGain(ImageBuffer &buffer, float red, float green, float blue)
{
    for (int y = 0; y < buffer.height && buffer.hasPixels(); ++y) {
        float *p = buffer.pixel(0, y);
        for (int x = 0; x < buffer.width; ++x, p += ImageBuffer::kFloatsPerPixel) {
            p[0] = nanToZero(p[0]) * red;
            p[1] = nanToZero(p[1]) * green;
            p[2] = nanToZero(p[2]) * blue;
        }
    }
    return buffer;
}

NeutralizedImage neutralizedCopy(const ImageBuffer &source, const PixelRegion &region)
{
    NeutralizedImage result;
    const std::optional<FloatRGB> background = regionClippedMean(source, kNeutralizationClipSigma, region);
    if (!background)
        return result;
    result.background = *background;
    result.factors = neutralizationFactors(*background);
    result.image = source.clone();
    applyGain(*result.image, result.factors.red, result.factors.green, result.factors.blue);
    return result;
}
