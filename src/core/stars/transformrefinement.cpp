#include "transformrefinement.h"

#include "log/messagelog.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kDegreesPerRadian = 57.29577951308232;
// A pair whose residual exceeds this many robust spreads is dropped.
constexpr double kRejectionSpreads = 3.0;
// Scale from the median residual distance to a spread; residuals below this never count as
// outliers, so noiseless pairs are not whittled away by rounding.
constexpr double kMedianToSpread = 1.4826;
constexpr double kNegligibleResidual = 1.0e-4;
constexpr int kMaxRejectionRounds = 20;
// Pairing is done again with the first fit, which finds the pairs the estimate put too far off.
constexpr int kPairingRounds = 3;
// Pairs that disagree by more than this (pixels RMS) after the fit are not the same stars.
constexpr double kMaxResidualRms = 1.0;
constexpr std::size_t kWeightCapPercentile = 90;

struct Centre {
    double x;
    double y;
};

Centre rotationCentre(int width, int height)
{
    return Centre{static_cast<double>(width / 2), static_cast<double>(height / 2)};
}

RigidFit fitOf(const Transformation &t, Centre c)
{
    RigidFit fit;
    fit.angle = static_cast<double>(t.angle) / kDegreesPerRadian;
    const double cosine = std::cos(fit.angle);
    const double sine = std::sin(fit.angle);
    fit.tx = t.offsetX + c.x - (cosine * c.x + sine * c.y);
    fit.ty = t.offsetY + c.y - (-sine * c.x + cosine * c.y);
    fit.valid = std::isfinite(fit.angle) && std::isfinite(fit.tx) && std::isfinite(fit.ty);
    return fit;
}

Transformation transformationOf(const RigidFit &fit, Centre c, int matchCount)
{
    const double cosine = std::cos(fit.angle);
    const double sine = std::sin(fit.angle);
    Transformation t;
    t.angle = static_cast<float>(fit.angle * kDegreesPerRadian);
    t.offsetX = static_cast<float>(fit.tx - c.x + cosine * c.x + sine * c.y);
    t.offsetY = static_cast<float>(fit.ty - c.y - sine * c.x + cosine * c.y);
    t.matchCount = matchCount;
    return t;
}

// Turns each pair's flux (in `weight`) into its weight: the flux squared, capped so that a few
// very bright (perhaps saturated) stars do not decide the fit alone.
void weighBySignal(std::vector<StarPair> &pairs)
{
    if (pairs.empty())
        return;
    std::vector<double> fluxes;
    for (const StarPair &pair : pairs)
        fluxes.push_back(pair.weight);
    const auto high = fluxes.begin() + static_cast<std::ptrdiff_t>(fluxes.size() * kWeightCapPercentile / 100);
    std::nth_element(fluxes.begin(), high, fluxes.end());
    const double cap = *high;
    for (StarPair &pair : pairs) {
        const double flux = std::min(pair.weight, cap);
        pair.weight = cap > 0.0 ? flux * flux / (cap * cap) : 1.0;
    }
}

// One-to-one nearest-neighbour pairs of the frame stars, carried onto the reference by `fit`,
// with the reference stars (sorted by x) within kPairingRadius.
std::vector<StarPair> pairStars(const std::vector<PreciseStar> &sortedReference, const std::vector<PreciseStar> &frame,
                                const RigidFit &fit)
{
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::vector<std::size_t> partner(frame.size(), kNone);
    std::vector<double> partnerDistance(frame.size(), 0.0);
    // For each reference star, the nearest frame star that chose it.
    std::vector<std::size_t> claimedBy(sortedReference.size(), kNone);
    std::vector<double> claimDistance(sortedReference.size(), std::numeric_limits<double>::infinity());
    const auto byX = [](const PreciseStar &star, double x) { return star.x < x; };
    for (std::size_t f = 0; f < frame.size(); ++f) {
        double X = 0.0;
        double Y = 0.0;
        fit.apply(frame[f].x, frame[f].y, X, Y);
        auto it = std::lower_bound(sortedReference.begin(), sortedReference.end(), X - kPairingRadius, byX);
        double best = kPairingRadius;
        for (; it != sortedReference.end() && it->x <= X + kPairingRadius; ++it) {
            const double distance = std::hypot(it->x - X, it->y - Y);
            if (distance <= best) {
                best = distance;
                partner[f] = static_cast<std::size_t>(it - sortedReference.begin());
            }
        }
        if (partner[f] == kNone)
            continue;
        partnerDistance[f] = best;
        if (best < claimDistance[partner[f]]) {
            claimDistance[partner[f]] = best;
            claimedBy[partner[f]] = f;
        }
    }
    std::vector<StarPair> pairs;
    for (std::size_t f = 0; f < frame.size(); ++f) {
        const std::size_t r = partner[f];
        if (r != kNone && claimedBy[r] == f)
            pairs.push_back(StarPair{frame[f].x, frame[f].y, sortedReference[r].x, sortedReference[r].y,
                                     std::max(0.0, std::min<double>(frame[f].flux, sortedReference[r].flux))});
    }
    weighBySignal(pairs);
    return pairs;
}

double residual(const RigidFit &fit, const StarPair &pair)
{
    double X = 0.0;
    double Y = 0.0;
    fit.apply(pair.frameX, pair.frameY, X, Y);
    return std::hypot(X - pair.referenceX, Y - pair.referenceY);
}

// Fits, drops the pairs beyond kRejectionSpreads robust spreads and fits again, until no pair
// is dropped. Leaves the survivors in `pairs`.
RigidFit fitRejectingOutliers(std::vector<StarPair> &pairs)
{
    RigidFit fit = fitRigid(pairs);
    std::vector<double> distances;
    for (int round = 0; round < kMaxRejectionRounds && fit.valid; ++round) {
        distances.clear();
        for (const StarPair &pair : pairs)
            distances.push_back(residual(fit, pair));
        std::vector<double> sorted = distances;
        const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
        std::nth_element(sorted.begin(), middle, sorted.end());
        const double limit = std::max(kRejectionSpreads * kMedianToSpread * *middle, kNegligibleResidual);
        std::vector<StarPair> kept;
        for (std::size_t i = 0; i < pairs.size(); ++i)
            if (distances[i] <= limit)
                kept.push_back(pairs[i]);
        if (kept.size() == pairs.size())
            break;
        pairs = std::move(kept);
        fit = fitRigid(pairs);
    }
    return fit;
}

} // namespace

void RigidFit::apply(double x, double y, double &X, double &Y) const
{
    const double cosine = std::cos(angle);
    const double sine = std::sin(angle);
    X = cosine * x + sine * y + tx;
    Y = -sine * x + cosine * y + ty;
}

RigidFit fitRigid(const std::vector<StarPair> &pairs)
{
    RigidFit fit;
    if (pairs.size() < 2)
        return fit;
    double total = 0.0, meanFx = 0.0, meanFy = 0.0, meanRx = 0.0, meanRy = 0.0;
    for (const StarPair &pair : pairs) {
        total += pair.weight;
        meanFx += pair.weight * pair.frameX;
        meanFy += pair.weight * pair.frameY;
        meanRx += pair.weight * pair.referenceX;
        meanRy += pair.weight * pair.referenceY;
    }
    if (!(total > 0.0))
        return fit;
    meanFx /= total;
    meanFy /= total;
    meanRx /= total;
    meanRy /= total;
    // With P and Q the centred frame and reference points, the angle maximising
    // sum w Q . R(a) P is atan2(sum w (Qx Py - Qy Px), sum w (Qx Px + Qy Py)).
    double along = 0.0;
    double across = 0.0;
    for (const StarPair &pair : pairs) {
        const double px = pair.frameX - meanFx;
        const double py = pair.frameY - meanFy;
        const double qx = pair.referenceX - meanRx;
        const double qy = pair.referenceY - meanRy;
        along += pair.weight * (qx * px + qy * py);
        across += pair.weight * (qx * py - qy * px);
    }
    if (along == 0.0 && across == 0.0)
        return fit;
    fit.angle = std::atan2(across, along);
    const double cosine = std::cos(fit.angle);
    const double sine = std::sin(fit.angle);
    fit.tx = meanRx - (cosine * meanFx + sine * meanFy);
    fit.ty = meanRy - (-sine * meanFx + cosine * meanFy);
    fit.valid = std::isfinite(fit.angle) && std::isfinite(fit.tx) && std::isfinite(fit.ty);
    return fit;
}

RefinedTransformation refineTransformation(const std::vector<PreciseStar> &reference,
                                           const std::vector<PreciseStar> &frame, const Transformation &initial,
                                           int frameWidth, int frameHeight)
{
    RefinedTransformation result;
    result.transformation = initial;
    const Centre centre = rotationCentre(frameWidth, frameHeight);
    const RigidFit first = fitOf(initial, centre);
    if (!first.valid) {
        result.failure = QStringLiteral("the pattern estimate is not a number");
        return result;
    }
    std::vector<PreciseStar> sortedReference = reference;
    std::sort(sortedReference.begin(), sortedReference.end(),
              [](const PreciseStar &a, const PreciseStar &b) { return a.x < b.x; });

    RigidFit fit = first;
    std::vector<StarPair> pairs;
    for (int round = 0; round < kPairingRounds; ++round) {
        pairs = pairStars(sortedReference, frame, fit);
        if (static_cast<int>(pairs.size()) < kMinRefinementPairs)
            break;
        const RigidFit next = fitRejectingOutliers(pairs);
        if (!next.valid)
            break;
        fit = next;
    }
    result.pairs = static_cast<int>(pairs.size());
    if (result.pairs < kMinRefinementPairs || !fit.valid) {
        result.failure = QStringLiteral("only %1 star pairs (%2 needed)").arg(result.pairs).arg(kMinRefinementPairs);
        return result;
    }

    double sum = 0.0;
    for (const StarPair &pair : pairs) {
        const double d = residual(fit, pair);
        sum += d * d;
    }
    result.residualRms = std::sqrt(sum / static_cast<double>(pairs.size()));
    if (!(result.residualRms <= kMaxResidualRms)) {
        result.failure = QStringLiteral("the star pairs disagree by %1 pixels RMS").arg(logNumber(result.residualRms));
        return result;
    }
    result.transformation = transformationOf(fit, centre, initial.matchCount);
    result.refined = true;
    return result;
}

QString refinementLine(int frameIndex, const QString &path, const RefinedTransformation &refined)
{
    if (!refined.refined)
        return QStringLiteral("Frame %1 (%2) keeps its pattern estimate: %3.").arg(frameIndex).arg(path, refined.failure);
    return QStringLiteral("Frame %1 (%2) refined with %3 star pairs, residual RMS %4 px")
        .arg(frameIndex)
        .arg(path)
        .arg(refined.pairs)
        .arg(refined.residualRms, 0, 'g', 3);
}
