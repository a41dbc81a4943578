#include "flattenpipeline.h"

#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "process/bgmodeller.h"
#include "process/regionstats.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace {

// Clipping factor of each marker's sample: one standard deviation drops stars in the box.
constexpr float kMarkerClipSigma = 1.0f;

PixelRegion boxAt(int x1, int y1, int size)
{
    return PixelRegion{x1, y1, x1 + size - 1, y1 + size - 1};
}

} // namespace

std::vector<GridMarker> gridMarkerPositions(const ImageBuffer &image, int size, int count, double sigma, float &step)
{
    std::vector<GridMarker> markers;
    step = 0.0f;
    if (!image.hasPixels())
        return markers;
    const float k = static_cast<float>(sigma);
    const PixelRegion whole = wholeImageRegion(image);
    const std::optional<FloatRGB> globalMean = regionClippedMean(image, k, whole);
    const std::optional<FloatRGB> globalSigma = regionSigma(image, whole);

    // In float and in this form, so that the grid lands where it always has.
    const float aspect = static_cast<float>(image.width) / static_cast<float>(image.height);
    step = static_cast<float>(image.height) / (std::sqrt(static_cast<float>(count) * aspect) * (1.0f / aspect));
    // A count <= 0 gives an infinite or NaN step; neither places anything.
    if (!globalMean || !globalSigma || !(step > 0.0f) || !std::isfinite(step))
        return markers;

    const FloatRGB gm = *globalMean;
    const FloatRGB gs = *globalSigma;
    const int half = size / 2;
    const auto advance = [&](float v) {
        // A step below the float spacing at v would never leave the loop.
        const float next = v + step;
        return next > v ? next : std::numeric_limits<float>::infinity();
    };
    for (float y = static_cast<float>(size); y < image.height; y = advance(y)) {
        for (float x = static_cast<float>(size); x < image.width; x = advance(x)) {
            const int x1 = static_cast<int>(x - half);
            const int y1 = static_cast<int>(y - half);
            const std::optional<FloatRGB> c = regionClippedMean(image, k, boxAt(x1, y1, size));
            if (!c)
                continue;
            if (c->r <= gs.r * sigma + gm.r && c->g <= gs.g * sigma + gm.g && c->b <= gs.b * sigma + gm.b)
                markers.push_back(GridMarker{static_cast<int>(x), static_cast<int>(y), x, y});
        }
    }
    return markers;
}

std::vector<std::optional<FloatRGB>> sampleMarkers(const ImageBuffer &image, const QVector<int> &xs,
                                                   const QVector<int> &ys, int boxSize)
{
    const int n = std::min(xs.size(), ys.size());
    std::vector<std::optional<FloatRGB>> samples;
    samples.reserve(static_cast<std::size_t>(n));
    const double half = std::floor(boxSize * 0.5);
    for (int i = 0; i < n; ++i) {
        const int x1 = static_cast<int>(xs[i] - half);
        const int y1 = static_cast<int>(ys[i] - half);
        samples.push_back(regionClippedMean(image, kMarkerClipSigma, boxAt(x1, y1, boxSize)));
    }
    return samples;
}

int modelOffset(float autoStep, int distance)
{
    const auto squared = [](std::int64_t v) { return static_cast<int>(std::min<std::int64_t>(v * v, INT_MAX)); };
    const std::int64_t t = static_cast<std::int64_t>(autoStep);
    if (t != 0)
        return squared(t);
    if (distance == kAutomaticOffset)
        return kAutomaticOffset;
    return squared(distance);
}

QStringList flattenRefusalLines(FlattenStatus status)
{
    switch (status) {
    case FlattenStatus::Done:
        break;
    case FlattenStatus::TooFewMarkers:
        return {QStringLiteral("This function requires at least two background probes!"), QStringLiteral("Aborting.")};
    case FlattenStatus::NoImage:
        return {QStringLiteral("Please focus a valid image window first.")};
    }
    return {};
}

FlattenResult flattenImage(const ImageBuffer &image, const QVector<int> &markerXs, const QVector<int> &markerYs,
                           const FlattenParams &params, MessageLog &log)
{
    FlattenResult result;
    if (!image.hasPixels()) {
        result.status = FlattenStatus::NoImage;
        return result;
    }
    const int n = std::min(markerXs.size(), markerYs.size());
    if (n < 2)
        return result;
    log.logMessage(QStringLiteral("Calculating background model from ") + QString::number(n)
                   + QStringLiteral(" markers..."));

    bgmodeller model;
    model.console = &log;
    const std::vector<std::optional<FloatRGB>> samples = sampleMarkers(image, markerXs, markerYs, params.boxSize);
    for (int i = 0; i < n; ++i) {
        const std::optional<FloatRGB> &colour = samples[static_cast<std::size_t>(i)];
        if (!colour)
            continue;
        model.markerX.append(markerXs[i]);
        model.markerY.append(markerYs[i]);
        model.markerR.append(colour->r);
        model.markerG.append(colour->g);
        model.markerB.append(colour->b);
    }
    // A box without a clipped mean (no pixel within one sigma, or an infinite sample) would
    // turn the whole model into NaN; it is left out instead.
    const int skipped = n - model.markerCount();
    if (skipped > 0)
        log.logMessage(QStringLiteral("Skipped ") + QString::number(skipped)
                       + QStringLiteral(" markers without a measurable background."), Severity::Warning);
    if (model.markerCount() < 2)
        return result;

    log.logMessage(QStringLiteral("Generating background..."));
    log.logMessage(QStringLiteral("Calculating smooth background..."));
    model.offset = modelOffset(params.autoStep, params.distance);
    model.exponent = params.exponent;
    model.multiplier = params.multiplier;
    model.threadCount = params.threadCount;

    std::unique_ptr<ImageBuffer> unshifted = model.getSmoothBg(image);
    result.background = subtractChannelMinimum(*unshifted);
    unshifted.reset();
    result.flat = subtractClamped(image, *result.background);
    result.status = FlattenStatus::Done;
    return result;
}
