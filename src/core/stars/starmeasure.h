#pragma once
// The second phase of the star search: measuring each candidate (local sky, profiles, width,
// aperture brightness) and keeping the ones that look like stars.
//
// Pixels, origin top-left, y down; values in the gray image's units. Pure functions: any
// thread may call them.
#include "grayimage.h"
#include "starrecord.h"

#include <optional>
#include <vector>

// Square root by one Newton step of the fast inverse square root (magic 0x5F3759DF). About
// 0.2 % low at most; the local sky levels of every measured star were made with it.
float fastSquareRoot(float value);

// Sky level of the box (left, top, boxWidth x boxHeight, all inside the image): mean m and
// fast-root deviation sigma over the box, then the mean of the pixels in which every pixel at
// most m + sigma counts once and every pixel at least m - sigma once more, so that pixels
// within one sigma weigh double and a star's bright core only once.
float localBackground(const GrayImage &gray, int left, int top, int boxWidth, int boxHeight);

// Mean value above the sky of a width x height cutout (row-major): pixels within innerRadius
// of the centre (width / 2, height / 2 in whole pixels) form the aperture, those within
// outerRadius the sky annulus; the sky is 3 x median - 2 x mean of the annulus, the median
// taken on a scale of 65536 steps from 0 to 1. Negative aperture values count as 0.
float aperturePhotometry(const float *cutout, int width, int height, float innerRadius, float outerRadius);

// Where a profile rises above `level` and falls below it again after the centre.
struct ProfileEdges {
    int left = 0;  // first lit sample (0 when none is lit)
    int right = 0; // the sample before the first unlit one past the centre (count when none)
};

// A sample k is lit when samples[k] > level; its position is firstPosition + k and "past the
// centre" means a position greater than `centre`.
ProfileEdges profileEdges(const float *samples, int count, int firstPosition, float centre, float level);

// Width of a profile: 0.588705 x the standard deviation (divisor 2s - 1) of its first 2s
// samples x the distance between its edges.
float profileWidth(const float *samples, int s, const ProfileEdges &edges);

// Centring of a star: how unevenly its four edges lie around the window centre s. Zero for
// a star whose edges are all equally far out.
double edgeAsymmetry(const ProfileEdges &horizontal, const ProfileEdges &vertical, int s);

// Below these a star is dropped: its narrow width over its wide width, and its brightness.
constexpr float kMinRoundness = 0.25f;
constexpr double kMaxAsymmetry = 4.0;

// Everything measured about one candidate.
struct StarMeasurement {
    float sky = 0.0f;        // local background of the 4s-square box around it
    float amplitude = 0.0f;  // highest value above the sky within s, at least 0
    ProfileEdges edgesX;     // of the horizontal profile
    ProfileEdges edgesY;     // of the vertical profile
    float widthX = 0.0f;
    float widthY = 0.0f;
    float brightness = 0.0f; // aperture photometry; 0 where it is not a number
    float roundness = 0.0f;  // narrow width over wide width
    double asymmetry = 0.0;  // edgeAsymmetry
};

// Measures one candidate with search size s. std::nullopt when it is skipped: its centroid
// lies within 2s of an edge, or its peak (the candidate's brightness) is not above 1.1 x its
// local sky.
std::optional<StarMeasurement> measureCandidate(const GrayImage &gray, const StarRecord &candidate, int s);

// Round enough (roundness at least 0.25), centred (asymmetry at most 4) and brighter than its
// sky (brightness above 0).
bool looksLikeStar(const StarMeasurement &measurement);

// The accepted star (the candidate's position, fwhm = widthX + widthY, the aperture
// brightness), or std::nullopt when the candidate is skipped or fails looksLikeStar.
std::optional<StarRecord> measureStar(const GrayImage &gray, const StarRecord &candidate, int s);

// measureStar over the candidates in order; the accepted stars in the same order.
std::vector<StarRecord> measureStars(const GrayImage &gray, const std::vector<StarRecord> &candidates, int s);
