#pragma once
// The one-step operations of the image menu that produce a new image: cut above the average
// colour, remove the background colour, normalise, crop. Each returns a new buffer and leaves
// the source's pixels alone; the caller opens the result in a new window.
//
// A null result means that the operation has nothing to work on (no region, no measurable
// colour, no level range); the caller reports it. Allocation failures throw
// AllocationFailure, which the caller catches with guardMemory.
#include "image/floatrgb.h"
#include "process/regionstats.h"

#include <memory>

class ImageBuffer;

// A clone in which every pixel whose luminance (rounded to float) is strictly above that of
// `mean` gets mean's r, g, b; alpha stays. Pixels with a NaN component are never above.
std::unique_ptr<ImageBuffer> cutAboveColour(const ImageBuffer &source, const FloatRGB &mean);
// The same with the mean colour of `region`; null when the region is empty.
std::unique_ptr<ImageBuffer> cutAboveAverage(const ImageBuffer &source, const PixelRegion &region);

// A clone with `colour` subtracted from every pixel's r, g, b (alpha stays). Results may be
// negative and stay so.
std::unique_ptr<ImageBuffer> subtractColour(const ImageBuffer &source, const FloatRGB &colour);
// The same with the background colour of estimateBackgroundColor; null when the source has no
// measurable background (no pixels, or a sample that is not finite).
std::unique_ptr<ImageBuffer> removeBackgroundColour(const ImageBuffer &source);

// A copy mapped to 0 ... 1: each r, g, b becomes (v - blackLevel) * (1 / (whiteLevel -
// blackLevel)), alpha 1.0; whiteLevel 1.0, blackLevel 0.0, the source's channels. The walk
// runs on the source's readCursor (the only member of the source it changes; it ends at
// floatCount). Null when whiteLevel equals blackLevel, which has no scale to map by.
std::unique_ptr<ImageBuffer> normalizedCopy(ImageBuffer &source);

// The w x h rectangle whose top-left pixel is (x, y), all four components copied as stored,
// with the source's whiteLevel, blackLevel and channels. Pixels of the rectangle outside the
// source stay all 0. Null when w <= 0 or h <= 0 (no selection).
std::unique_ptr<ImageBuffer> cropCopy(const ImageBuffer &source, int x, int y, int w, int h);
