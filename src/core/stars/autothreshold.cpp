#include "autothreshold.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// 1 / Phi^-1(3/4): turns a median absolute deviation into a standard deviation for Gaussian
// noise.
constexpr double kMadToSigma = 1.4826;
// sqrt(pi / 2): turns a mean absolute deviation into a standard deviation, for noise so
// coarsely quantised that the median absolute deviation is 0.
constexpr double kMeanAbsToSigma = 1.2533141373155001;
// The difference of two independent pixels spreads sqrt(2) times as wide as one pixel.
constexpr double kSqrt2 = 1.4142135623730951;
// The second pass keeps the differences within this many first-pass sigmas.
constexpr double kClipSigmas = 3.0;
// A figure needs at least this many samples.
constexpr std::size_t kMinSamples = 64;
// Quantised noise is measured from the mean absolute difference only when at least one
// difference in this many is not zero.
constexpr std::size_t kMinNonZeroShare = 4;

// The blob level (start level plus one threshold step, where the 16 pixels of a star must
// reach) in noise sigmas above the sky, for a search window of half width 6; each pixel more of
// half width raises it by kBlobSigmasPerSize, because a larger window holds more noise pixels
// that can reach the level and drag the centroid off the star. Measured on synthetic frames of
// known stars and on real raw frames (bench/RESULTS.md, "Automatic star threshold").
constexpr double kBlobSigmasAtSize6 = 2.2;
constexpr double kBlobSigmasPerSize = 0.25;
constexpr double kMinBlobSigmas = 2.0;
// The threshold is at least this many sigmas: it is also the step by which a star's pixels
// must stand above the first pixel of its window.
constexpr double kMinStepSigmas = 0.25;

// Median of v (reordered); v not empty. The lower middle element for an even count, so that
// the figure is one of the samples.
float medianOf(std::vector<float> &v)
{
    const auto middle = v.begin() + static_cast<std::ptrdiff_t>((v.size() - 1) / 2);
    std::nth_element(v.begin(), middle, v.end());
    return *middle;
}

// Robust standard deviation of differences d (reordered): 1.4826 x their median absolute
// deviation, once more over the differences within kClipSigmas of that, and the mean absolute
// deviation when quantisation leaves the median deviation at 0.
double differenceSigma(std::vector<float> &d)
{
    if (d.size() < kMinSamples)
        return 0.0;
    std::vector<float> deviations(d.size());
    double centre = medianOf(d);
    for (std::size_t i = 0; i < d.size(); ++i)
        deviations[i] = static_cast<float>(std::fabs(d[i] - centre));
    double sigma = kMadToSigma * medianOf(deviations);
    if (sigma > 0.0) {
        const double limit = kClipSigmas * sigma;
        d.erase(std::remove_if(d.begin(), d.end(), [&](float v) { return !(std::fabs(v - centre) <= limit); }),
                d.end());
        if (d.size() >= kMinSamples) {
            centre = medianOf(d);
            deviations.resize(d.size());
            for (std::size_t i = 0; i < d.size(); ++i)
                deviations[i] = static_cast<float>(std::fabs(d[i] - centre));
            sigma = kMadToSigma * medianOf(deviations);
        }
    }
    if (sigma == 0.0) {
        // Noise finer than the quantisation still leaves many differences non-zero; a flat
        // frame with a few outliers does not, and shows no noise.
        double sum = 0.0;
        std::size_t nonZero = 0;
        for (float v : d) {
            sum += std::fabs(v - centre);
            nonZero += v != centre;
        }
        if (nonZero * kMinNonZeroShare >= d.size())
            sigma = kMeanAbsToSigma * sum / static_cast<double>(d.size());
    }
    return sigma;
}

} // namespace

SkyNoise estimateSkyNoise(const GrayImage &gray)
{
    SkyNoise result;
    const int width = gray.width;
    const int height = gray.height;
    if (width <= 0 || height <= 0 || !gray.values)
        return result;
    // The same odd step along rows and columns: sampled pixels fall on both parities of each,
    // so all four sites of a colour mosaic take part, and about kSkyNoiseMaxSamples of them.
    const double pixels = static_cast<double>(width) * height;
    int step = static_cast<int>(std::ceil(std::sqrt(pixels / static_cast<double>(kSkyNoiseMaxSamples))));
    step = std::max(1, step);
    if (step % 2 == 0)
        ++step;

    // Values per site (column parity + 2 x row parity), and differences between a pixel and
    // the next but one in its row: that pixel lies on the same site of a mosaic, so the
    // difference holds the noise but neither the mosaic's pattern nor the sky's gradient.
    std::array<std::vector<float>, 4> sites;
    std::vector<float> differences;
    const std::size_t expected = static_cast<std::size_t>(pixels / (static_cast<double>(step) * step)) + 1;
    for (auto &site : sites)
        site.reserve(expected / 4 + 1);
    differences.reserve(expected);
    for (int y = 0; y < height; y += step) {
        const float *row = gray.row(y);
        for (int x = 0; x < width; x += step) {
            const float v = row[x];
            if (!std::isfinite(v))
                continue;
            sites[static_cast<std::size_t>((x & 1) + 2 * (y & 1))].push_back(v);
            if (x + 2 < width && std::isfinite(row[x + 2]))
                differences.push_back(v - row[x + 2]);
        }
    }

    // The brightest site sets the sky: on a mosaic its pixels are the ones the search's start
    // level must clear. On other images the four medians agree.
    bool haveSky = false;
    for (auto &site : sites) {
        result.samples += static_cast<std::int64_t>(site.size());
        if (site.size() < kMinSamples)
            continue;
        const float median = medianOf(site);
        result.sky = haveSky ? std::max(result.sky, median) : median;
        haveSky = true;
    }
    if (!haveSky) {
        // Too few pixels for four sites: the median of all of them.
        std::vector<float> all;
        for (const auto &site : sites)
            all.insert(all.end(), site.begin(), site.end());
        if (!all.empty())
            result.sky = medianOf(all);
    }
    result.noise = static_cast<float>(differenceSigma(differences) / kSqrt2);
    return result;
}

double blobLevelSigmas(int maxStarSize)
{
    return std::max(kMinBlobSigmas, kBlobSigmasAtSize6 + kBlobSigmasPerSize * (maxStarSize - 6));
}

AutomaticThreshold automaticStarThreshold(const GrayImage &gray, float background, int maxStarSize)
{
    const SkyNoise measured = estimateSkyNoise(gray);
    AutomaticThreshold result;
    result.sky = measured.sky;
    result.noise = measured.noise;
    const double noise = measured.noise;
    if (!(noise > 0.0) || !std::isfinite(noise) || !std::isfinite(background)) {
        result.threshold = kFallbackStarThreshold;
        return result;
    }
    // A star opens its window at a pixel above background + threshold and must then have 16
    // pixels one threshold higher: put that blob level blobLevelSigmas above the sky. The
    // search's background may lie above the sky (it is 1.03 x the level of a grey image) or
    // below it (a mosaic's brightest site), which the threshold makes up for.
    const double offset = static_cast<double>(background) - measured.sky;
    const double threshold = std::max((blobLevelSigmas(maxStarSize) * noise - offset) / 2.0, kMinStepSigmas * noise);
    result.threshold = static_cast<float>(threshold);
    if (!(result.threshold > 0.0f) || !std::isfinite(result.threshold))
        result.threshold = kFallbackStarThreshold;
    return result;
}
