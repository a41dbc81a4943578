#pragma once
// The first phase of the star search: finding bright spots that fit in the search window.
//
// Pixels, origin top-left, y down. A pure function of the gray image and the parameters; the
// mark map is the caller's working buffer and is handed in only so that tests can see it.
#include "grayimage.h"
#include "starrecord.h"

#include <cstdint>
#include <vector>

// A blob needs more than this many pixels to become a candidate.
constexpr int kMinBlobPixels = 16;

// Scans rows and columns 2s ... size - 2s - 1 (nothing when the image is smaller than 4s + 1
// in either direction). A pixel c that is brighter than background + threshold and not yet
// part of a star opens the (2s + 1)-square window around it; the window fits when it holds no
// marked pixel, no pixel at or above maxBrightness, and no border pixel brighter than
// c + threshold. The window's pixels at or above c + threshold are then marked as the blob;
// with at least kMinBlobPixels of them and none saturated the blob becomes a candidate at its
// intensity-weighted centroid (brightness = its peak), otherwise the marks are taken back.
//
// `marks` is resized to width x height and receives the map: 1 for pixels of a candidate.
// Throws std::bad_alloc when the mark map cannot be had.
std::vector<StarRecord> mapStars(const GrayImage &gray, float background, const StarSearchParameters &parameters,
                                 std::vector<std::uint8_t> &marks);
