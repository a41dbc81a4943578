#include "starmarks.h"

#include "image/imagebuffer.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kRingPerFwhm = 1.5f;
constexpr float kMinRingRadius = 3.0f;
constexpr float kMaxRingRadius = 50.0f;
// The ring is the set of pixel centres within this distance of the circle: about one pixel
// wide, closed at every radius.
constexpr float kRingHalfWidth = 0.5f;

} // namespace

float starRingRadius(const StarRecord &star)
{
    const float radius = kRingPerFwhm * star.fwhm;
    if (!(radius > kMinRingRadius))
        return kMinRingRadius;
    return std::min(radius, kMaxRingRadius);
}

std::unique_ptr<ImageBuffer> markedStarImage(const ImageBuffer &image, const std::vector<StarRecord> &stars)
{
    std::unique_ptr<ImageBuffer> marked = image.clone();
    marked->channels = 3;
    if (!marked->hasPixels())
        return marked;
    for (const StarRecord &star : stars) {
        if (!std::isfinite(star.x) || !std::isfinite(star.y))
            continue;
        const float radius = starRingRadius(star);
        const float outer = radius + kRingHalfWidth;
        const int x1 = std::max(0, static_cast<int>(std::floor(star.x - outer)));
        const int x2 = std::min(marked->width - 1, static_cast<int>(std::ceil(star.x + outer)));
        const int y1 = std::max(0, static_cast<int>(std::floor(star.y - outer)));
        const int y2 = std::min(marked->height - 1, static_cast<int>(std::ceil(star.y + outer)));
        for (int y = y1; y <= y2; ++y) {
            for (int x = x1; x <= x2; ++x) {
                const float d = std::hypot(static_cast<float>(x) - star.x, static_cast<float>(y) - star.y);
                if (std::fabs(d - radius) > kRingHalfWidth)
                    continue;
                float *p = marked->pixel(x, y);
                p[0] = marked->whiteLevel;
                p[1] = marked->blackLevel;
                p[2] = marked->blackLevel;
                p[3] = 1.0f;
            }
        }
    }
    return marked;
}
