#include "framenormalization.h"

#include "calib/calibarithmetic.h"
#include "calib/calibrationthread.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/messagelog.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr float kMadToSigma = 1.4826f;
constexpr int kSampleStep = 2;

float median(std::vector<float> &values)
{
    if (values.empty())
        return 0.0f;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

bool usable(float v)
{
    return std::isfinite(v) && v != 0.0f;
}

} // namespace

bool NormalizationFactors::identity() const
{
    for (int c = 0; c < 3; ++c)
        if (scale[c] != 1.0f || offset[c] != 0.0f)
            return false;
    return true;
}

int measureFrameSky(const QString &path, int frameWidth, int frameHeight, const BandMasters &masters, FrameSky &sky)
{
    sky = FrameSky();
    std::vector<float> samples[3];
    ImageLoader loader;
    const int blocks = std::max(1, std::min(kSkyBlocks, frameHeight / kSkyBlockRows));
    for (int b = 0; b < blocks; ++b) {
        const int rows = std::min(kSkyBlockRows, frameHeight);
        const int first = static_cast<int>(static_cast<std::int64_t>(frameHeight - rows) * b / std::max(blocks - 1, 1));
        std::unique_ptr<ImageBuffer> block = loader.loadRows(path, first, frameWidth, rows);
        if (!block)
            return loader.errorCode != 0 ? loader.errorCode : kNotEnoughMemory;
        if (block->whiteLevel != 1.0f && !normalizeImage(*block))
            return kFrameNotNormalizable;
        calibrateBand(*block, first, masters);
        for (int y = 0; y < block->height; ++y) {
            const float *p = block->pixel(0, y);
            for (int x = 0; x < block->width; x += kSampleStep, p += kSampleStep * ImageBuffer::kFloatsPerPixel)
                for (int c = 0; c < 3; ++c)
                    if (std::isfinite(p[c]))
                        samples[c].push_back(p[c]);
        }
        loader.reusableBuffer = std::move(block);
    }
    for (int c = 0; c < 3; ++c) {
        sky.level[c] = median(samples[c]);
        for (float &v : samples[c])
            v = std::abs(v - sky.level[c]);
        sky.noise[c] = kMadToSigma * median(samples[c]);
    }
    return 0;
}

NormalizationFactors normalizationFactors(StackNormalization mode, const FrameSky &reference, const FrameSky &frame)
{
    NormalizationFactors f;
    for (int c = 0; c < 3; ++c) {
        const float level = frame.level[c];
        const float referenceLevel = reference.level[c];
        switch (mode) {
        case StackNormalization::None:
            break;
        case StackNormalization::Additive:
            if (std::isfinite(level) && std::isfinite(referenceLevel))
                f.offset[c] = referenceLevel - level;
            break;
        case StackNormalization::Multiplicative:
            if (usable(level) && usable(referenceLevel))
                f.scale[c] = referenceLevel / level;
            break;
        case StackNormalization::AdditiveScaling:
            if (usable(frame.noise[c]) && usable(reference.noise[c]) && std::isfinite(level)
                && std::isfinite(referenceLevel)) {
                f.scale[c] = reference.noise[c] / frame.noise[c];
                f.offset[c] = referenceLevel - f.scale[c] * level;
            }
            break;
        }
    }
    return f;
}

void applyNormalization(ImageBuffer &band, const NormalizationFactors &factors)
{
    if (!band.hasPixels() || factors.identity())
        return;
    const std::int64_t pixels = static_cast<std::int64_t>(band.width) * band.height;
    float *p = band.data.get();
    for (std::int64_t i = 0; i < pixels; ++i, p += ImageBuffer::kFloatsPerPixel) {
        if (!(p[3] > 0.0f))
            continue;
        for (int c = 0; c < 3; ++c)
            p[c] = p[c] * factors.scale[c] + factors.offset[c];
    }
}

QString normalizationName(StackNormalization mode)
{
    switch (mode) {
    case StackNormalization::Additive:
        return QStringLiteral("Additive");
    case StackNormalization::Multiplicative:
        return QStringLiteral("Multiplicative");
    case StackNormalization::AdditiveScaling:
        return QStringLiteral("Additive with scaling");
    case StackNormalization::None:
        break;
    }
    return QStringLiteral("None");
}

QString normalizationLine(const QString &path, const NormalizationFactors &f)
{
    return QStringLiteral("Normalization of %1: scale %2, %3, %4; offset %5, %6, %7")
        .arg(path, logNumber(f.scale[0]), logNumber(f.scale[1]), logNumber(f.scale[2]), logNumber(f.offset[0]),
             logNumber(f.offset[1]), logNumber(f.offset[2]));
}
