#pragma once
// The automatic star threshold: the step above the background that the star search uses,
// taken from the frame itself instead of from the user.
//
// Sky level and sky noise are robust figures of the gray image the search works on, taken over
// a fixed subsample of at most kSkyNoiseMaxSamples pixels, so the same frame always gives the
// same threshold. Values are in the gray image's units (fractions of full scale for the
// normalised frames the program searches). Pure functions: any thread may call them on a gray
// image that nobody writes meanwhile.
#include "grayimage.h"
#include "starrecord.h"

#include <cstdint>

constexpr std::int64_t kSkyNoiseMaxSamples = 1 << 20;

// The threshold of a frame without measurable noise (constant, fewer than a few hundred pixels,
// or no finite pixel): the dialogs' default.
constexpr float kFallbackStarThreshold = kDefaultStarThreshold;

struct SkyNoise {
    // Median gray value. The median is taken per site of the 2 x 2 pixel pattern of a colour
    // mosaic and the brightest site's is kept, since its pixels are the first to reach the
    // search's start level; on any other image the four agree.
    float sky = 0.0f;
    // Standard deviation of one pixel's noise, from the median absolute difference between
    // pixels two columns apart (same mosaic site; blind to gradients and to the mosaic's
    // pattern), clipped once at 3 sigma so that stars and hot pixels barely count. 0 when there
    // is none to measure.
    float noise = 0.0f;
    // Finite pixels sampled.
    std::int64_t samples = 0;
};

SkyNoise estimateSkyNoise(const GrayImage &gray);

// Where the automatic threshold puts a star's blob level (the first pixel of its window plus
// one threshold), in noise sigmas above the sky, for search half width maxStarSize: 2.2 at 6,
// 0.25 more for each pixel more (a larger window holds more noise pixels that could reach the
// level), at least 2.
double blobLevelSigmas(int maxStarSize);

struct AutomaticThreshold {
    float threshold = kFallbackStarThreshold; // positive and finite
    float sky = 0.0f;
    float noise = 0.0f;
};

// The threshold for a search with half width maxStarSize whose background level is
// `background` (starBackgroundLevel of the image): a star's window opens at a pixel above
// background + threshold and needs 16 pixels one threshold higher, so
// threshold = (blobLevelSigmas x noise - (background - sky)) / 2, and at least a quarter of
// the noise. kFallbackStarThreshold when the noise cannot be measured.
AutomaticThreshold automaticStarThreshold(const GrayImage &gray, float background, int maxStarSize);
