#include "precisecentroid.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kDefaultSigma = 1.5f;
constexpr float kMinSigma = 0.5f;
constexpr float kMaxSigma = 6.0f;
constexpr int kSigmaStars = 100;
constexpr int kMomentRadius = 5;
// The sky ring lies this far outside the measuring window, this many pixels wide.
constexpr int kSkyGap = 1;
constexpr int kSkyWidth = 3;
constexpr int kMaxIterations = 30;
constexpr double kConverged = 1.0e-5;     // pixels
constexpr double kAcceptedShift = 1.0e-3; // pixels: good enough when the iterations run out
constexpr double kMaxWander = 2.0;        // pixels from the finder's centroid

bool inside(const GrayImage &gray, int cx, int cy, int reach)
{
    return cx - reach >= 0 && cy - reach >= 0 && cx + reach < gray.width && cy + reach < gray.height;
}

// Median of the square ring of pixels whose distance (the larger of |dx| and |dy|) from the
// centre lies in inner .. outer; the caller has checked that the ring lies inside the image.
float ringMedian(const GrayImage &gray, int cx, int cy, int inner, int outer, std::vector<float> &scratch)
{
    scratch.clear();
    for (int y = cy - outer; y <= cy + outer; ++y) {
        const float *row = gray.row(y);
        for (int x = cx - outer; x <= cx + outer; ++x)
            if (std::max(std::abs(x - cx), std::abs(y - cy)) >= inner)
                scratch.push_back(row[x]);
    }
    const auto middle = scratch.begin() + static_cast<std::ptrdiff_t>(scratch.size() / 2);
    std::nth_element(scratch.begin(), middle, scratch.end());
    return *middle;
}

int nearestPixel(double v)
{
    return static_cast<int>(std::lround(v));
}

float median(std::vector<float> &values)
{
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// The median and the spread of 65536 pixels are within half a percent of the noise of the
// whole image's, which is plenty for a detection floor, and cost a millisecond.
constexpr std::int64_t kMaxSkySamples = 1 << 16;
constexpr float kMadToSigma = 1.4826f;
// Stars closer than this (pixels) after centring are two peaks of one star.
constexpr double kSameStar = 1.0;

} // namespace

SkyStatistics graySkyStatistics(const GrayImage &gray)
{
    SkyStatistics sky;
    const std::int64_t count = static_cast<std::int64_t>(gray.width) * gray.height;
    if (count <= 0)
        return sky;
    // An odd stride, so that the sample does not line up with the columns of a Bayer pattern.
    const std::int64_t stride = (count / kMaxSkySamples) | 1;
    std::vector<float> samples;
    samples.reserve(static_cast<std::size_t>(count / stride + 1));
    for (std::int64_t i = 0; i < count; i += stride)
        if (std::isfinite(gray.values[i]))
            samples.push_back(gray.values[i]);
    if (samples.empty())
        return sky;
    sky.level = median(samples);
    for (float &v : samples)
        v = std::abs(v - sky.level);
    sky.noise = kMadToSigma * median(samples);
    return sky;
}

std::vector<StarRecord> refinementCandidates(const GrayImage &gray)
{
    const SkyStatistics sky = graySkyStatistics(gray);
    const float floor = sky.level + kCandidateSigmas * sky.noise;
    std::vector<StarRecord> candidates;
    for (int y = 1; y + 1 < gray.height; ++y) {
        const float *above = gray.row(y - 1);
        const float *row = gray.row(y);
        const float *below = gray.row(y + 1);
        for (int x = 1; x + 1 < gray.width; ++x) {
            const float v = row[x];
            // Strictly above the pixels before it and at least the pixels after it: a flat
            // top (a saturated star) gives one peak, not many.
            if (!(v > floor) || !(v > row[x - 1]) || !(v >= row[x + 1]) || !(v > above[x - 1]) || !(v > above[x])
                || !(v > above[x + 1]) || !(v >= below[x - 1]) || !(v >= below[x]) || !(v >= below[x + 1]))
                continue;
            candidates.push_back(StarRecord{static_cast<float>(x), static_cast<float>(y), 0.0f, v, false});
        }
    }
    const std::size_t keep = std::min(candidates.size(), static_cast<std::size_t>(2 * kMaxPreciseStars));
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(keep), candidates.end(),
                      [](const StarRecord &a, const StarRecord &b) { return a.brightness > b.brightness; });
    candidates.resize(keep);
    return candidates;
}

float estimateStarSigma(const GrayImage &gray, const std::vector<StarRecord> &stars)
{
    std::vector<float> sigmas;
    std::vector<float> scratch;
    const int skyOuter = kMomentRadius + kSkyGap + kSkyWidth;
    for (const StarRecord &star : stars) {
        if (static_cast<int>(sigmas.size()) >= kSigmaStars)
            break;
        const int cx = nearestPixel(star.x);
        const int cy = nearestPixel(star.y);
        if (!inside(gray, cx, cy, skyOuter))
            continue;
        const float sky = ringMedian(gray, cx, cy, kMomentRadius + kSkyGap, skyOuter, scratch);
        double sum = 0.0;
        double spread = 0.0;
        for (int y = cy - kMomentRadius; y <= cy + kMomentRadius; ++y)
            for (int x = cx - kMomentRadius; x <= cx + kMomentRadius; ++x) {
                const double v = static_cast<double>(gray.at(x, y)) - sky;
                if (v <= 0.0)
                    continue;
                sum += v;
                spread += v * ((x - star.x) * (x - star.x) + (y - star.y) * (y - star.y));
            }
        if (sum > 0.0)
            sigmas.push_back(static_cast<float>(std::sqrt(spread / (2.0 * sum))));
    }
    if (sigmas.empty())
        return kDefaultSigma;
    const auto middle = sigmas.begin() + static_cast<std::ptrdiff_t>(sigmas.size() / 2);
    std::nth_element(sigmas.begin(), middle, sigmas.end());
    return std::clamp(*middle, kMinSigma, kMaxSigma);
}

std::vector<PreciseStar> measurePreciseStars(const GrayImage &gray, const std::vector<StarRecord> &stars)
{
    const double sigma = estimateStarSigma(gray, stars);
    // Three sigmas hold all but a trace of the weight; the window only has to cover that.
    const int half = std::clamp(static_cast<int>(std::ceil(3.0 * sigma)), 3, 15);
    const int skyInner = half + kSkyGap;
    const int skyOuter = skyInner + kSkyWidth;
    const double inverseTwoVariance = 1.0 / (2.0 * sigma * sigma);
    const int side = 2 * half + 1;
    std::vector<double> weightX(static_cast<std::size_t>(side));
    std::vector<double> weightY(static_cast<std::size_t>(side));
    std::vector<float> scratch;
    std::vector<PreciseStar> measured;
    const std::size_t count = std::min(stars.size(), static_cast<std::size_t>(2 * kMaxPreciseStars));
    measured.reserve(count);
    for (std::size_t s = 0; s < count && static_cast<int>(measured.size()) < kMaxPreciseStars; ++s) {
        const StarRecord &star = stars[s];
        const int skyX = nearestPixel(star.x);
        const int skyY = nearestPixel(star.y);
        if (!std::isfinite(star.x) || !std::isfinite(star.y) || !inside(gray, skyX, skyY, skyOuter + 3))
            continue;
        const double sky = ringMedian(gray, skyX, skyY, skyInner, skyOuter, scratch);
        double cx = star.x;
        double cy = star.y;
        double shift = 1.0;
        double flux = 0.0;
        bool lost = false;
        for (int iteration = 0; iteration < kMaxIterations && shift > kConverged; ++iteration) {
            const int ix = nearestPixel(cx);
            const int iy = nearestPixel(cy);
            if (!inside(gray, ix, iy, half)) {
                lost = true;
                break;
            }
            for (int k = 0; k < side; ++k) {
                const double dx = ix - half + k - cx;
                const double dy = iy - half + k - cy;
                weightX[static_cast<std::size_t>(k)] = std::exp(-dx * dx * inverseTwoVariance);
                weightY[static_cast<std::size_t>(k)] = std::exp(-dy * dy * inverseTwoVariance);
            }
            double sum = 0.0;
            double sumX = 0.0;
            double sumY = 0.0;
            flux = 0.0;
            for (int j = 0; j < side; ++j) {
                const float *row = gray.row(iy - half + j) + (ix - half);
                const double wy = weightY[static_cast<std::size_t>(j)];
                double rowSum = 0.0;
                double rowSumX = 0.0;
                for (int i = 0; i < side; ++i) {
                    const double v = static_cast<double>(row[i]) - sky;
                    flux += v;
                    const double wv = weightX[static_cast<std::size_t>(i)] * v;
                    rowSum += wv;
                    rowSumX += wv * i;
                }
                sum += wy * rowSum;
                sumX += wy * rowSumX;
                sumY += wy * rowSum * j;
            }
            if (!(sum > 0.0)) {
                lost = true;
                break;
            }
            const double nx = ix - half + sumX / sum;
            const double ny = iy - half + sumY / sum;
            shift = std::hypot(nx - cx, ny - cy);
            cx = nx;
            cy = ny;
            if (std::hypot(cx - star.x, cy - star.y) > kMaxWander) {
                lost = true;
                break;
            }
        }
        if (lost || shift > kAcceptedShift)
            continue;
        const bool seen = std::any_of(measured.begin(), measured.end(), [cx, cy](const PreciseStar &brighter) {
            return std::abs(brighter.x - cx) < kSameStar && std::abs(brighter.y - cy) < kSameStar;
        });
        if (!seen)
            measured.push_back(PreciseStar{cx, cy, static_cast<float>(flux)});
    }
    return measured;
}
