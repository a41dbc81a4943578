#pragma once
// Colour statistics over rectangles of an image: mean, standard deviation, sigma-clipped mean
// and the iterated background colour. Shared by the background tools and the star finder.
//
// Coordinates are pixels, origin top-left, y down; a region names its corners inclusively.
// Pixels are read as the bounds-checked getPixel reads them: a NaN component counts as 0 and
// a pixel outside the buffer as black. Results fill r, g and b; alpha stays 0.
//
// Pure functions: any thread may call them on a buffer that nobody writes meanwhile. A
// statistic that has no pixel to work on (an empty region, no pixel within the clipping
// bounds, a mean that is not finite where iteration needs one) returns std::nullopt instead
// of the non-finite numbers that a division by zero would give; the caller turns that into
// its message ("Please focus a valid image window first." or its own).
#include "image/floatrgb.h"

#include <cstdint>
#include <optional>

class ImageBuffer;

struct PixelRegion {
    int x1 = 0;
    int y1 = 0;
    int x2 = -1; // inclusive; x2 < x1 or y2 < y1 means no pixel
    int y2 = -1;

    bool isEmpty() const { return x2 < x1 || y2 < y1; }
    std::int64_t pixelCount() const
    {
        return isEmpty() ? 0 : (static_cast<std::int64_t>(x2) - x1 + 1) * (static_cast<std::int64_t>(y2) - y1 + 1);
    }
};

// The whole buffer: (0, 0) to (width - 1, height - 1); empty for a buffer without pixels.
PixelRegion wholeImageRegion(const ImageBuffer &buffer);

// An image window's selection (x, y, width w, height h) as a region: (x, y) to
// (x + w - 1, y + h - 1) when w > 0, otherwise the whole buffer. A selection with w > 0 but
// h <= 0 is an empty region.
PixelRegion selectionRegion(const ImageBuffer &buffer, int x, int y, int w, int h);

// Luminance with this program's weights 0.299, 0.586 and 0.144 (not the broadcast 0.587 and
// 0.114). Every stored brightness threshold and log figure of the program was made with
// them, so they stay. Computed in double from the float components.
double colourLuminance(const FloatRGB &colour);
// The same, rounded to float: the form in which luminances are compared with thresholds.
inline float colourLuminanceF(const FloatRGB &colour)
{
    return static_cast<float>(colourLuminance(colour));
}

// Mean colour over the region (rows outer, columns inner).
std::optional<FloatRGB> regionMean(const ImageBuffer &buffer, const PixelRegion &region);

// Per-channel population standard deviation over the region.
std::optional<FloatRGB> regionSigma(const ImageBuffer &buffer, const PixelRegion &region);

// Mean over the pixels whose three channels all lie within k standard deviations of the
// region's mean (bounds inclusive). std::nullopt also when no pixel lies within them.
std::optional<FloatRGB> regionClippedMean(const ImageBuffer &buffer, float k, const PixelRegion &region);

// Everything the image-statistics window shows for one region, per channel: the extremes,
// the median (of an even count, the mean of the two middle samples), and the mean, standard
// deviation and sigma-clipped mean of regionMean, regionSigma and regionClippedMean.
struct RegionStatistics {
    FloatRGB minimum;
    FloatRGB maximum;
    FloatRGB mean;
    FloatRGB median;
    FloatRGB sigma;
    std::optional<FloatRGB> clippedMean; // none when no pixel lies within the bounds
};
// std::nullopt for an empty region. Copies one channel of the region at a time for the median.
std::optional<RegionStatistics> regionStatistics(const ImageBuffer &buffer, const PixelRegion &region, float k);

// At most this many clipping passes. A well-behaved image settles in a handful; the limit
// only stops a mean that keeps moving by more than the tolerance from cycling for ever.
constexpr int kBackgroundIterationLimit = 1000;
// The iteration stops once the luminance moves by at most this much, in data units whatever
// the buffer's scale (so a normalised image stops after the first pass).
constexpr double kBackgroundLuminanceTolerance = 1.0;

// Background colour of the whole buffer: start from the mean, then repeatedly replace every
// pixel brighter than the current estimate by the estimate and average again. std::nullopt
// for a buffer without pixels or when the mean is not finite (an infinite sample: such a
// mean never settles). After kBackgroundIterationLimit passes the last estimate is returned.
std::optional<FloatRGB> estimateBackgroundColor(const ImageBuffer &buffer);
