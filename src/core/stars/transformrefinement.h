#pragma once
// Refining a frame's transformation with all its stars: the pattern matching (starcompare.h)
// rests on a few dozen four-star patterns and the finder's centroids; here every precisely
// measured star of the frame is paired with the reference star that the first estimate puts
// it next to, and rotation and translation are fitted to all the pairs by least squares,
// rejecting pairs that do not agree.
//
// Units and convention: pixels and degrees, the Transformation's own (starcompare.h): a frame
// point p maps onto the reference at R(a)(p - c) + c + offset, c = (width / 2, height / 2) in
// whole pixels, R(a)(X, Y) = (X cos a + Y sin a, Y cos a - X sin a).
// Pure functions on plain values; any thread may call them.
#include "stars/precisecentroid.h"
#include "stars/starcompare.h"

#include <QString>

#include <vector>

// A pair of positions: `frame` in the frame, `reference` in the reference frame.
struct StarPair {
    double frameX = 0.0;
    double frameY = 0.0;
    double referenceX = 0.0;
    double referenceY = 0.0;
    double weight = 1.0; // in the fit
};

// reference = R p + (tx, ty), R = [[cos a, sin a], [-sin a, cos a]], a in radians.
struct RigidFit {
    double angle = 0.0;
    double tx = 0.0;
    double ty = 0.0;
    bool valid = false; // false for fewer than two pairs or pairs that all coincide

    void apply(double x, double y, double &X, double &Y) const;
};

// The weighted least-squares rotation and translation that carries the frame positions onto
// the reference positions (closed form; no scale).
RigidFit fitRigid(const std::vector<StarPair> &pairs);

// Pairs needed for a refinement to count.
constexpr int kMinRefinementPairs = 8;
// Radius (pixels) within which the first estimate must put a frame star next to its partner.
constexpr double kPairingRadius = 3.0;

struct RefinedTransformation {
    bool refined = false; // false: keep the pattern estimate; `failure` says why
    Transformation transformation;
    int pairs = 0;            // pairs that survived the outlier rejection
    double residualRms = 0.0; // RMS distance (pixels) between the pairs after the fit
    QString failure;
};

// Refines `initial` (a stackable pattern estimate). Each frame star, carried by the estimate
// onto the reference, pairs with the nearest reference star within kPairingRadius when that
// star has no nearer frame star (one-to-one). A pair weighs the square of the fainter star's
// flux (capped at the 90th percentile), as a centre's error shrinks with its star's signal;
// then the fit is repeated, dropping pairs whose residual exceeds three times the robust
// spread, until no pair is dropped; pairing and fitting run again from the fit, so that a
// frame the estimate placed a few pixels off (a slightly wrong angle) is still put right. It
// fails with fewer than kMinRefinementPairs pairs or a residual above a pixel RMS. matchCount
// is kept from `initial`.
RefinedTransformation refineTransformation(const std::vector<PreciseStar> &reference,
                                           const std::vector<PreciseStar> &frame, const Transformation &initial,
                                           int frameWidth, int frameHeight);

// The log line of one frame's refinement: "Frame 3 (path) refined with 412 star pairs,
// residual RMS 0.0213 px" or "Frame 3 (path) keeps its pattern estimate: <failure>".
QString refinementLine(int frameIndex, const QString &path, const RefinedTransformation &refined);
