#include "combination.h"

#include "image/imagebuffer.h"

#include <cmath>

namespace {

float nanToZero(float v)
{
    return std::isnan(v) ? 0.0f : v;
}

// Runs op(a, b, f) on r, g and b of every pixel pair. The arithmetic is single precision in
// the order of the formulas, the same for the combine tool and the registration run's
// calibration, so that both give the same frame for the same input.
template <typename Op>
std::unique_ptr<ImageBuffer> combine(const ImageBuffer &a, const ImageBuffer &b, float f, Op op)
{
    if (a.width != b.width || a.height != b.height)
        return nullptr;
    auto result = std::make_unique<ImageBuffer>(a.width, a.height);
    result->channels = a.channels;
    if (!result->hasPixels())
        return result;
    // A buffer of the right size without a pixel array reads as black everywhere.
    const bool aPixels = a.hasPixels();
    const bool bPixels = b.hasPixels();
    float *out = result->data.get();
    for (std::int64_t i = 0; i < result->floatCount; i += ImageBuffer::kFloatsPerPixel) {
        for (int c = 0; c < 3; ++c) {
            const float va = aPixels ? nanToZero(a.data[i + c]) : 0.0f;
            const float vb = bPixels ? nanToZero(b.data[i + c]) : 0.0f;
            out[i + c] = op(va, vb, f);
        }
        out[i + 3] = 1.0f;
    }
    return result;
}

} // namespace

std::unique_ptr<ImageBuffer> combineAdd(const ImageBuffer &a, const ImageBuffer &b, float f)
{
    return combine(a, b, f, [](float va, float vb, float w) { return vb * w + va; });
}

std::unique_ptr<ImageBuffer> combineSubtract(const ImageBuffer &a, const ImageBuffer &b, float f)
{
    return combine(a, b, f, [](float va, float vb, float w) { return va - vb * w; });
}

std::unique_ptr<ImageBuffer> combineMultiply(const ImageBuffer &a, const ImageBuffer &b, float f)
{
    return combine(a, b, f, [](float va, float vb, float w) { return vb * va * w + (1.0f - w) * va; });
}

std::unique_ptr<ImageBuffer> combineDivide(const ImageBuffer &a, const ImageBuffer &b, float f)
{
    return combine(a, b, f, [](float va, float vb, float w) {
        const float v = va / vb * w + (1.0f - w) * va;
        // A zero in B (a dead pixel of a master flat) would leave an infinite spot that ruins
        // every later statistic; it becomes full scale of a normalised frame instead. 0/0 has
        // no sensible value and stays NaN.
        return std::isinf(v) ? 1.0f : v;
    });
}

std::unique_ptr<ImageBuffer> combineNegativeMultiply(const ImageBuffer &a, const ImageBuffer &b, float f)
{
    return combine(
        a, b, f, [](float va, float vb, float w) { return (1.0f - (1.0f - vb) * (1.0f - va)) * w + (1.0f - w) * va; });
}

std::unique_ptr<ImageBuffer> combineImages(CombineOperator op, const ImageBuffer &a, const ImageBuffer &b, float f)
{
    std::unique_ptr<ImageBuffer> result;
    switch (op) {
    case CombineOperator::Add:
        result = combineAdd(a, b, f);
        break;
    case CombineOperator::Subtract:
        result = combineSubtract(a, b, f);
        break;
    case CombineOperator::Multiply:
        result = combineMultiply(a, b, f);
        break;
    case CombineOperator::Divide:
        result = combineDivide(a, b, f);
        break;
    case CombineOperator::NegativeMultiply:
        result = combineNegativeMultiply(a, b, f);
        break;
    }
    if (result) {
        result->whiteLevel = a.whiteLevel;
        result->blackLevel = a.blackLevel;
    }
    return result;
}

QString combineLogLine(CombineOperator op)
{
    switch (op) {
    case CombineOperator::Add:
        return QStringLiteral("Image addition...");
    case CombineOperator::Subtract:
        return QStringLiteral("Image substraction...");
    case CombineOperator::Multiply:
        return QStringLiteral("Image multiplication...");
    case CombineOperator::Divide:
        return QStringLiteral("Image division...");
    case CombineOperator::NegativeMultiply:
        return QStringLiteral("Image negative multiplication...");
    }
    return QString();
}
