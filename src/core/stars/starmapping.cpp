#include "starmapping.h"

#include "platform/hugepages.h"

#include <algorithm>
#include <cmath>

namespace {

// What one window holds: whether it fits a single star and, if so, the blob in it.
struct WindowScan {
    bool fits = true;
    int count = 0;
    double sum = 0.0;
    double sumX = 0.0;
    double sumY = 0.0;
    float peak = 0.0f;
};

// One pass over the window around (x, y), in row order. The fit test fails at the first
// pixel already taken, the first saturated pixel, or the first border pixel brighter than the
// centre plus the threshold (a brighter border means the window cuts through something
// larger); the scan stops there. Otherwise it gathers the blob: every pixel at or above
// blobLevel, with its weighted coordinates and the peak. A saturated pixel anywhere in the
// window fails the fit, so a gathered blob is never saturated.
WindowScan scanWindow(const GrayImage &gray, const std::vector<std::uint8_t> &marks, int x, int y, int s,
                      float blobLevel, float maxBrightness)
{
    WindowScan scan;
    const int width = gray.width;
    for (int wy = y - s; wy <= y + s; ++wy) {
        const float *row = gray.row(wy);
        const std::uint8_t *rowMarks = marks.data() + static_cast<std::int64_t>(wy) * width;
        const bool borderRow = wy == y - s || wy == y + s;
        for (int wx = x - s; wx <= x + s; ++wx) {
            const float v = row[wx];
            if (rowMarks[wx] != 0 || v >= maxBrightness
                || ((borderRow || wx == x - s || wx == x + s) && v > blobLevel)) {
                scan.fits = false;
                return scan;
            }
            if (!(v >= blobLevel))
                continue;
            ++scan.count;
            scan.sum += v;
            scan.sumX += static_cast<double>(wx) * v;
            scan.sumY += static_cast<double>(wy) * v;
            scan.peak = std::max(scan.peak, v);
        }
    }
    return scan;
}

// Sets `value` on every window pixel at or above blobLevel for which keep(v) holds.
template <typename Keep>
void markBlob(const GrayImage &gray, std::vector<std::uint8_t> &marks, int x, int y, int s, float blobLevel,
              Keep &&keep)
{
    const int width = gray.width;
    for (int wy = y - s; wy <= y + s; ++wy) {
        const float *row = gray.row(wy);
        std::uint8_t *rowMarks = marks.data() + static_cast<std::int64_t>(wy) * width;
        for (int wx = x - s; wx <= x + s; ++wx)
            if (row[wx] >= blobLevel && keep(row[wx]))
                rowMarks[wx] = 1;
    }
}

} // namespace

std::vector<StarRecord> mapStars(const GrayImage &gray, float background, const StarSearchParameters &parameters,
                                 std::vector<std::uint8_t> &marks)
{
    const int width = gray.width;
    const int height = gray.height;
    const int s = parameters.maxStarSize;
    const float threshold = parameters.threshold;
    const float maxBrightness = parameters.maxBrightness;
    const std::size_t pixels = static_cast<std::size_t>(std::max(0, width)) * static_cast<std::size_t>(std::max(0, height));
    if (marks.capacity() < pixels) {
        marks = std::vector<std::uint8_t>();
        marks.reserve(pixels);
        preferHugePages(marks.data(), pixels);
    }
    marks.assign(pixels, 0);

    std::vector<StarRecord> candidates;
    if (s < 0 || 2 * s >= height - 2 * s || 2 * s >= width - 2 * s)
        return candidates;
    const float starLevel = background + threshold;
    for (int y = 2 * s; y < height - 2 * s; ++y) {
        const float *row = gray.row(y);
        for (int x = 2 * s; x < width - 2 * s; ++x) {
            const float c = row[x];
            if (!(c > starLevel) || marks[static_cast<std::int64_t>(y) * width + x] != 0)
                continue;
            const float blobLevel = c + threshold;
            const WindowScan scan = scanWindow(gray, marks, x, y, s, blobLevel, maxBrightness);
            if (!scan.fits)
                continue;
            if (scan.count >= kMinBlobPixels) {
                markBlob(gray, marks, x, y, s, blobLevel, [](float) { return true; });
                StarRecord candidate;
                candidate.x = static_cast<float>((1.0 / scan.sum) * scan.sumX);
                candidate.y = static_cast<float>((1.0 / scan.sum) * scan.sumY);
                candidate.brightness = std::isnan(scan.peak) ? 0.0f : scan.peak;
                candidates.push_back(candidate);
                continue;
            }
            // A blob that is too small gives its marks back: those above the bare
            // threshold (not offset by the background or c). A fitting window held no mark
            // before, so only pixels of this blob at or below the bare threshold would stay
            // marked, which happens only when c + threshold is not above the threshold (a
            // negative background). The blob is therefore marked only for that remainder.
            if (blobLevel <= threshold)
                markBlob(gray, marks, x, y, s, blobLevel, [threshold](float v) { return !(v > threshold); });
        }
    }
    return candidates;
}
