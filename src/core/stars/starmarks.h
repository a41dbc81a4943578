#pragma once
// A picture of what the star search found: a copy of the searched image with a ring around
// every accepted star, for the console's star search and the command line's --marked file.
//
// Pixels, origin top-left, y down. A pure function: any thread may call it on an image that
// nobody writes meanwhile; the caller owns the copy.
#include "starrecord.h"

#include <memory>
#include <vector>

class ImageBuffer;

// Ring radius: 1.5 x the star's fwhm figure, at least 3 and at most 50 pixels (a width that is
// not a number gives the smallest ring).
float starRingRadius(const StarRecord &star);

// A copy of `image` (made a colour image) in which every pixel within half a pixel of a star's
// ring is pure red at the image's own scale: red = whiteLevel, green = blue = blackLevel,
// alpha 1. Rings are clipped at the edges. Throws AllocationFailure when the copy cannot be had.
std::unique_ptr<ImageBuffer> markedStarImage(const ImageBuffer &image, const std::vector<StarRecord> &stars);
