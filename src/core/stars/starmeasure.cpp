#include "starmeasure.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Histogram steps of the sky median: 65536 bins over 0 ... 1, so the median is j / 65535.
constexpr float kSkyBinsPerUnit = 65535.0f;
constexpr int kSkyLastBin = 65535;
// 3 / 65535: three times the median as j times this.
constexpr float kThreeMediansPerBin = 4.5777066e-5f;
// Turns the spread of a normalised profile times its lit length into the width figure.
constexpr float kProfileWidthFactor = 0.588705f;
// A candidate is measured only when its peak is above this times its local sky.
constexpr float kMinPeakOverSky = 1.1f;

int roundHalfAway(float v)
{
    return static_cast<int>(std::lround(v));
}

} // namespace

float fastSquareRoot(float value)
{
    // One Newton step on the bit-level estimate of 1 / sqrt(value), times value.
    std::int32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    bits = 0x5F3759DF - (bits >> 1);
    float y = 0.0f;
    std::memcpy(&y, &bits, sizeof y);
    return (value * y) * (1.5f - 0.5f * value * y * y);
}

float localBackground(const GrayImage &gray, int left, int top, int boxWidth, int boxHeight)
{
    const double pixels = static_cast<double>(boxWidth) * boxHeight;
    double sum = 0.0;
    for (int y = top; y < top + boxHeight; ++y) {
        const float *row = gray.row(y);
        for (int x = left; x < left + boxWidth; ++x)
            sum += row[x];
    }
    const float mean = static_cast<float>(sum / pixels);
    double squares = 0.0;
    for (int y = top; y < top + boxHeight; ++y) {
        const float *row = gray.row(y);
        for (int x = left; x < left + boxWidth; ++x) {
            const double d = row[x] - mean;
            squares += d * d;
        }
    }
    const float sigma = fastSquareRoot(static_cast<float>(squares / pixels));
    const float upper = mean + sigma;
    const float lower = mean - sigma;
    // Both tests, not either: a pixel within one sigma is counted twice, which leans the
    // level towards the quiet sky without throwing the rest away.
    double weighted = 0.0;
    std::int64_t count = 0;
    for (int y = top; y < top + boxHeight; ++y) {
        const float *row = gray.row(y);
        for (int x = left; x < left + boxWidth; ++x) {
            const float v = row[x];
            if (v <= upper) {
                weighted += v;
                ++count;
            }
            if (v >= lower) {
                weighted += v;
                ++count;
            }
        }
    }
    return static_cast<float>(weighted / static_cast<double>(count));
}

float aperturePhotometry(const float *cutout, int width, int height, float innerRadius, float outerRadius)
{
    const int cx = width / 2;
    const int cy = height / 2;
    const float inner2 = innerRadius * innerRadius;
    const float outer2 = outerRadius * outerRadius;
    float sumIn = 0.0f;
    int countIn = 0;
    float sumSky = 0.0f;
    std::vector<int> skyBins;
    skyBins.reserve(static_cast<std::size_t>(width) * height);
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            const float v = cutout[j * width + i];
            const float di = static_cast<float>(cx - i);
            const float dj = static_cast<float>(cy - j);
            const float d2 = di * di + dj * dj;
            if (d2 <= inner2) {
                sumIn += std::max(v, 0.0f);
                ++countIn;
            } else if (d2 <= outer2) {
                sumSky += v;
                const float scaled = std::floor(v * kSkyBinsPerUnit);
                // NaN (from infinities in the image) falls into the first bin.
                const int bin = scaled >= static_cast<float>(kSkyLastBin) ? kSkyLastBin
                                : scaled >= 0.0f                            ? static_cast<int>(scaled)
                                                                            : 0;
                skyBins.push_back(bin);
            }
        }
    }
    const int countSky = static_cast<int>(skyBins.size());
    // Walking a 65536-bin histogram upwards until half the annulus is counted stops in the bin
    // of the half-th smallest sample; j is that bin plus one. Selecting that sample directly
    // gives the same j without the histogram.
    const int half = countSky / 2;
    int j = 0;
    if (half > 0) {
        std::nth_element(skyBins.begin(), skyBins.begin() + (half - 1), skyBins.end());
        j = skyBins[half - 1] + 1;
    }
    // 3 x median - 2 x mean: an estimate of the sky's mode that a star's wing in the
    // annulus pulls less than the mean.
    const float sky = static_cast<float>(j) * kThreeMediansPerBin - 2.0f * (sumSky / static_cast<float>(countSky));
    return (sumIn - static_cast<float>(countIn) * sky) / static_cast<float>(countIn);
}

ProfileEdges profileEdges(const float *samples, int count, int firstPosition, float centre, float level)
{
    ProfileEdges edges;
    edges.right = count;
    bool leftFound = false;
    for (int k = 0; k < count; ++k) {
        const bool lit = samples[k] > level;
        if (!leftFound) {
            if (lit) {
                edges.left = k;
                leftFound = true;
            }
        } else if (!lit && static_cast<float>(firstPosition + k) > centre) {
            edges.right = k - 1;
            break;
        }
    }
    return edges;
}

float profileWidth(const float *samples, int s, const ProfileEdges &edges)
{
    const int n = 2 * s;
    double sum = 0.0;
    for (int k = 0; k < n; ++k)
        sum += samples[k];
    const double mean = sum / n;
    double squares = 0.0;
    for (int k = 0; k < n; ++k)
        squares += (samples[k] - mean) * (samples[k] - mean);
    const float sigma = static_cast<float>(std::sqrt(squares / (n - 1)));
    return kProfileWidthFactor * sigma * static_cast<float>(edges.right - edges.left);
}

double edgeAsymmetry(const ProfileEdges &horizontal, const ProfileEdges &vertical, int s)
{
    const int leftX = s - horizontal.left;
    const int rightX = horizontal.right - s;
    const int leftY = s - vertical.left;
    const int rightY = vertical.right - s;
    const int nearest = std::min({std::abs(leftX), std::abs(rightX), std::abs(leftY), std::abs(rightY)});
    // The signed distances minus the nearest one: an edge that lies on the wrong side of the
    // centre counts as far off.
    const int spread = std::abs(rightX - nearest) + std::abs(leftX - nearest) + std::abs(leftY - nearest)
                       + std::abs(rightY - nearest);
    return spread * 0.3333333333333333;
}

std::optional<StarMeasurement> measureCandidate(const GrayImage &gray, const StarRecord &candidate, int s)
{
    const float x = candidate.x;
    const float y = candidate.y;
    // Written so that a position that is not a number (a blob holding an infinity) fails too.
    if (!(x < static_cast<float>(gray.width - 2 * s) && y < static_cast<float>(gray.height - 2 * s)
          && x > static_cast<float>(2 * s) && y > static_cast<float>(2 * s)))
        return std::nullopt;

    StarMeasurement m;
    m.sky = localBackground(gray, static_cast<int>(x - 2 * s), static_cast<int>(y - 2 * s), 4 * s, 4 * s);
    if (!(candidate.brightness > kMinPeakOverSky * m.sky))
        return std::nullopt;
    const float sky = m.sky;

    const int firstColumn = static_cast<int>(x - s);
    const int firstRow = static_cast<int>(y - s);
    const float columnEnd = x + s;
    const float rowEnd = y + s;
    for (int r = firstRow; static_cast<float>(r) < rowEnd; ++r)
        for (int q = firstColumn; static_cast<float>(q) < columnEnd; ++q)
            m.amplitude = std::max(m.amplitude, gray.at(q, r) - sky);

    // Profiles through the centroid's nearest row and column, scaled to the amplitude.
    const int centreRow = roundHalfAway(y);
    const int centreColumn = roundHalfAway(x);
    const float scale = 1.0f / m.amplitude;
    float horizontal[2 * kMaxStarSize + 2];
    float vertical[2 * kMaxStarSize + 2];
    std::vector<float> wideProfiles;
    float *h = horizontal;
    float *v = vertical;
    if (s > kMaxStarSize) {
        wideProfiles.resize(2 * (2 * static_cast<std::size_t>(s) + 2));
        h = wideProfiles.data();
        v = h + 2 * s + 2;
    }
    int countX = 0;
    int countY = 0;
    for (int q = firstColumn; static_cast<float>(q) < columnEnd && countX < 2 * s + 1; ++q)
        h[countX++] = (gray.at(q, centreRow) - sky) * scale;
    for (int r = firstRow; static_cast<float>(r) < rowEnd && countY < 2 * s + 1; ++r)
        v[countY++] = (gray.at(centreColumn, r) - sky) * scale;

    // A sample counts as lit when its scaled value exceeds the sky level itself: the edges of
    // a star on a bright sky lie further up its profile than on a dark one.
    m.edgesX = profileEdges(h, countX, firstColumn, x, sky);
    m.edgesY = profileEdges(v, countY, firstRow, y, sky);
    m.widthX = profileWidth(h, s, m.edgesX);
    m.widthY = profileWidth(v, s, m.edgesY);

    // The (2s + 1)-square cutout around the centroid for the photometry.
    const int side = 2 * s + 1;
    std::vector<float> cutout(static_cast<std::size_t>(side) * side, 0.0f);
    for (int j = 0; j < side && static_cast<float>(firstRow + j) <= rowEnd; ++j)
        for (int i = 0; i < side && static_cast<float>(firstColumn + i) <= columnEnd; ++i)
            cutout[static_cast<std::size_t>(j) * side + i] = gray.at(firstColumn + i, firstRow + j);
    m.brightness = aperturePhotometry(cutout.data(), side, side, 0.5f * s, static_cast<float>(s));
    if (std::isnan(m.brightness))
        m.brightness = 0.0f;

    m.roundness = m.widthX > m.widthY ? m.widthY / m.widthX : m.widthX / m.widthY;
    m.asymmetry = edgeAsymmetry(m.edgesX, m.edgesY, s);
    return m;
}

bool looksLikeStar(const StarMeasurement &m)
{
    return m.roundness >= kMinRoundness && m.asymmetry <= kMaxAsymmetry && m.brightness > 0.0f;
}

std::optional<StarRecord> measureStar(const GrayImage &gray, const StarRecord &candidate, int s)
{
    const std::optional<StarMeasurement> m = measureCandidate(gray, candidate, s);
    if (!m || !looksLikeStar(*m))
        return std::nullopt;
    StarRecord star;
    star.x = candidate.x;
    star.y = candidate.y;
    // The sum of the two widths, not their mean: every FWHM the program shows is on this scale.
    star.fwhm = m->widthX + m->widthY;
    star.brightness = m->brightness;
    star.accepted = true;
    return star;
}

std::vector<StarRecord> measureStars(const GrayImage &gray, const std::vector<StarRecord> &candidates, int s)
{
    std::vector<StarRecord> accepted;
    for (const StarRecord &candidate : candidates)
        if (std::optional<StarRecord> star = measureStar(gray, candidate, s))
            accepted.push_back(*star);
    return accepted;
}
