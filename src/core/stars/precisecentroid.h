#pragma once
// Star positions measured precisely enough to refine a registration: the star finder's
// centroid (an intensity-weighted mean over its pixels above a threshold) shifts with noise
// and with the threshold, by a few hundredths of a pixel; here each star's centre is found
// again on the background-subtracted image with an iterated Gaussian-weighted centroid, whose
// error shrinks with the star's signal-to-noise ratio instead.
//
// Units: pixels, origin top-left, y down, pixel index units (5.0 is the centre of column 5),
// as StarRecord. Pure functions; any thread may call them on images nobody writes meanwhile.
#include "stars/grayimage.h"
#include "stars/starrecord.h"

#include <vector>

struct PreciseStar {
    double x = 0.0;
    double y = 0.0;
    float flux = 0.0f; // sum above the local sky inside the measuring window
};

// Stars measured at most per frame: the brightest, which carry the most weight anyway.
constexpr int kMaxPreciseStars = 1000;
// A refinement candidate peaks at least this many sky noises above the sky.
constexpr float kCandidateSigmas = 5.0f;

// Robust sky level (median) and noise (1.4826 x the median absolute deviation) of a gray image,
// from an even sample of at most about 65536 pixels. Noise 0 for a constant image.
struct SkyStatistics {
    float level = 0.0f;
    float noise = 0.0f;
};
SkyStatistics graySkyStatistics(const GrayImage &gray);

// Stars to refine a registration with, found independently of the star finder's threshold so
// that faint stars take part too: pixels that are the largest of their 3 x 3 neighbourhood and
// kCandidateSigmas sky noises above the sky, brightest first, at most 2 x kMaxPreciseStars.
std::vector<StarRecord> refinementCandidates(const GrayImage &gray);

// The Gaussian width (sigma, pixels) of the frame's stars from the second moments of its
// brightest stars (median of up to 100), clamped to 0.5 ... 6; 1.5 when none can be measured.
float estimateStarSigma(const GrayImage &gray, const std::vector<StarRecord> &stars);

// The stars (brightest first) measured again, up to kMaxPreciseStars of them; a star whose window leaves the image, whose centre wanders off by more than
// two pixels, or whose weighted signal is not positive is left out. The result keeps the
// stars' order, except that a star that ends up within a pixel of a brighter one (a second peak
// of the same star) is left out.
std::vector<PreciseStar> measurePreciseStars(const GrayImage &gray, const std::vector<StarRecord> &stars);
