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
// Every fourth pixel of the blocks: some 100 000 samples of a 3000 x 2000 frame put the median
// within half a percent of the noise, and a stack of many frames does not wait for them.
constexpr int kSampleStep = 4;

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
    // A grey frame holds the same value in every channel: measure one.
    int channels = 3;
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
        if (block->channels < 3 && !masters.any())
            channels = 1;
        for (int y = 0; y < block->height; ++y) {
            const float *p = block->pixel(0, y);
            for (int x = 0; x < block->width; x += kSampleStep, p += kSampleStep * ImageBuffer::kFloatsPerPixel)
                for (int c = 0; c < channels; ++c)
                    if (std::isfinite(p[c]))
                        samples[c].push_back(p[c]);
        }
        loader.reusableBuffer = std::move(block);
    }
    for (int c = 0; c < 3; ++c) {
        if (c >= channels) {
            sky.level[c] = sky.level[0];
            sky.noise[c] = sky.noise[0];
            continue;
        }
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
    const std::int64_t floats = static_cast<std::int64_t>(band.width) * band.height * ImageBuffer::kFloatsPerPixel;
    float *p = band.data.get();
    // Alpha is multiplied by 1 and shifted by 0, so every pixel goes through the same two
    // operations and the loop needs no test; the combination skips pixels without a sample
    // whatever their colours.
    const float scale[4] = {factors.scale[0], factors.scale[1], factors.scale[2], 1.0f};
    const float offset[4] = {factors.offset[0], factors.offset[1], factors.offset[2], 0.0f};
    for (std::int64_t i = 0; i < floats; i += ImageBuffer::kFloatsPerPixel)
        for (int c = 0; c < 4; ++c)
            p[i + c] = p[i + c] * scale[c] + offset[c];
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
