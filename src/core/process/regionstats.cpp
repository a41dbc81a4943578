#include "regionstats.h"

#include "image/imagebuffer.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

float nanToZero(float v)
{
    return std::isnan(v) ? 0.0f : v;
}

// Calls visit(r, g, b) for every pixel of the region in reading order, rows outer, with the
// values getPixel would return; the inside of each row is read straight from the array.
template <typename Visit>
void forEachPixel(const ImageBuffer &buffer, const PixelRegion &region, Visit &&visit)
{
    if (region.isEmpty())
        return;
    const std::int64_t x1 = region.x1;
    const std::int64_t x2 = region.x2;
    // The part of every row that lies inside the buffer (empty when none does).
    const std::int64_t insideFirst = std::max<std::int64_t>(x1, 0);
    const std::int64_t insideLast = std::min<std::int64_t>(x2, static_cast<std::int64_t>(buffer.width) - 1);
    for (std::int64_t y = region.y1; y <= region.y2; ++y) {
        const bool rowInside = buffer.hasPixels() && y >= 0 && y < buffer.height;
        if (!rowInside || insideFirst > insideLast) {
            for (std::int64_t x = x1; x <= x2; ++x)
                visit(0.0f, 0.0f, 0.0f);
            continue;
        }
        for (std::int64_t x = x1; x < insideFirst; ++x)
            visit(0.0f, 0.0f, 0.0f);
        const float *p = buffer.pixel(static_cast<int>(insideFirst), static_cast<int>(y));
        for (std::int64_t x = insideFirst; x <= insideLast; ++x, p += ImageBuffer::kFloatsPerPixel)
            visit(nanToZero(p[0]), nanToZero(p[1]), nanToZero(p[2]));
        for (std::int64_t x = insideLast + 1; x <= x2; ++x)
            visit(0.0f, 0.0f, 0.0f);
    }
}

// Sums are kept in double: a float sum stops growing once it is 2^24 times the samples,
// which a camera frame reaches easily. The reciprocal of the count is taken in float, as
// every statistic of the program always has, so that means and thresholds keep their values.
struct ColourSum {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;

    void add(float vr, float vg, float vb)
    {
        r += vr;
        g += vg;
        b += vb;
    }
    FloatRGB times(float reciprocal) const
    {
        return FloatRGB{static_cast<float>(r * reciprocal), static_cast<float>(g * reciprocal),
                        static_cast<float>(b * reciprocal), 0.0f};
    }
};

float reciprocalOf(std::int64_t count)
{
    return 1.0f / static_cast<float>(count);
}

bool isFinite(const FloatRGB &c)
{
    return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b);
}

} // namespace

PixelRegion wholeImageRegion(const ImageBuffer &buffer)
{
    if (!buffer.hasPixels())
        return PixelRegion{};
    return PixelRegion{0, 0, buffer.width - 1, buffer.height - 1};
}

PixelRegion selectionRegion(const ImageBuffer &buffer, int x, int y, int w, int h)
{
    if (w <= 0)
        return wholeImageRegion(buffer);
    if (h <= 0)
        return PixelRegion{};
    // Computed wide so that a selection reaching past the int range cannot wrap around.
    const auto last = [](int start, int size) {
        return static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(start) + size - 1, INT32_MAX));
    };
    return PixelRegion{x, y, last(x, w), last(y, h)};
}

double colourLuminance(const FloatRGB &colour)
{
    return 0.299 * colour.r + 0.586 * colour.g + 0.144 * colour.b;
}

std::optional<FloatRGB> regionMean(const ImageBuffer &buffer, const PixelRegion &region)
{
    if (region.isEmpty())
        return std::nullopt;
    ColourSum sum;
    forEachPixel(buffer, region, [&](float r, float g, float b) { sum.add(r, g, b); });
    return sum.times(reciprocalOf(region.pixelCount()));
}

std::optional<FloatRGB> regionSigma(const ImageBuffer &buffer, const PixelRegion &region)
{
    const std::optional<FloatRGB> mean = regionMean(buffer, region);
    if (!mean)
        return std::nullopt;
    const FloatRGB m = *mean;
    ColourSum squares;
    forEachPixel(buffer, region, [&](float r, float g, float b) {
        const double dr = r - m.r;
        const double dg = g - m.g;
        const double db = b - m.b;
        squares.r += dr * dr;
        squares.g += dg * dg;
        squares.b += db * db;
    });
    const FloatRGB variance = squares.times(reciprocalOf(region.pixelCount()));
    return FloatRGB{std::sqrt(variance.r), std::sqrt(variance.g), std::sqrt(variance.b), 0.0f};
}

std::optional<FloatRGB> regionClippedMean(const ImageBuffer &buffer, float k, const PixelRegion &region)
{
    const std::optional<FloatRGB> mean = regionMean(buffer, region);
    const std::optional<FloatRGB> sigma = regionSigma(buffer, region);
    if (!mean || !sigma)
        return std::nullopt;
    const FloatRGB lo{mean->r - k * sigma->r, mean->g - k * sigma->g, mean->b - k * sigma->b, 0.0f};
    const FloatRGB hi{mean->r + k * sigma->r, mean->g + k * sigma->g, mean->b + k * sigma->b, 0.0f};
    ColourSum sum;
    std::int64_t accepted = 0;
    forEachPixel(buffer, region, [&](float r, float g, float b) {
        if (r >= lo.r && r <= hi.r && g >= lo.g && g <= hi.g && b >= lo.b && b <= hi.b) {
            sum.add(r, g, b);
            ++accepted;
        }
    });
    if (accepted == 0)
        return std::nullopt;
    return sum.times(reciprocalOf(accepted));
}

namespace {

// The median of the samples, reordering them.
float medianOf(std::vector<float> &samples)
{
    const std::size_t middle = samples.size() / 2;
    std::nth_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(middle), samples.end());
    const float upper = samples[middle];
    if (samples.size() % 2 == 1)
        return upper;
    const float lower = *std::max_element(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(middle));
    return static_cast<float>((static_cast<double>(lower) + upper) / 2.0);
}

} // namespace

std::optional<RegionStatistics> regionStatistics(const ImageBuffer &buffer, const PixelRegion &region, float k)
{
    const std::optional<FloatRGB> mean = regionMean(buffer, region);
    const std::optional<FloatRGB> sigma = regionSigma(buffer, region);
    if (!mean || !sigma)
        return std::nullopt;
    RegionStatistics statistics;
    statistics.mean = *mean;
    statistics.sigma = *sigma;
    statistics.clippedMean = regionClippedMean(buffer, k, region);

    float *extremes[2][3] = {{&statistics.minimum.r, &statistics.minimum.g, &statistics.minimum.b},
                             {&statistics.maximum.r, &statistics.maximum.g, &statistics.maximum.b}};
    float *medians[3] = {&statistics.median.r, &statistics.median.g, &statistics.median.b};
    std::vector<float> samples;
    samples.reserve(static_cast<std::size_t>(region.pixelCount()));
    for (int c = 0; c < 3; ++c) {
        samples.clear();
        forEachPixel(buffer, region,
                     [&](float r, float g, float b) { samples.push_back(c == 0 ? r : c == 1 ? g : b); });
        const auto [low, high] = std::minmax_element(samples.begin(), samples.end());
        *extremes[0][c] = *low;
        *extremes[1][c] = *high;
        *medians[c] = medianOf(samples);
    }
    return statistics;
}

std::optional<FloatRGB> estimateBackgroundColor(const ImageBuffer &buffer)
{
    const PixelRegion whole = wholeImageRegion(buffer);
    std::optional<FloatRGB> first = regionMean(buffer, whole);
    if (!first || !isFinite(*first))
        return std::nullopt;
    const float reciprocal = reciprocalOf(whole.pixelCount());
    FloatRGB mean = *first;
    for (int pass = 0; pass < kBackgroundIterationLimit; ++pass) {
        const FloatRGB previous = mean;
        const float threshold = colourLuminanceF(previous);
        ColourSum sum;
        forEachPixel(buffer, whole, [&](float r, float g, float b) {
            if (colourLuminanceF(FloatRGB{r, g, b, 0.0f}) > threshold)
                sum.add(previous.r, previous.g, previous.b);
            else
                sum.add(r, g, b);
        });
        mean = sum.times(reciprocal);
        if (!isFinite(mean))
            return std::nullopt;
        if (std::fabs(threshold - colourLuminance(mean)) <= kBackgroundLuminanceTolerance)
            break;
    }
    return mean;
}
