#include "starcompare.h"

#include "log/messagelog.h"

#include <algorithm>
#include <cmath>

namespace {

// Minus pi / 180 as the registration has always written it (it differs from the exact value
// in the eleventh digit); offsets of stored registrations were computed with it.
constexpr double kMinusRadiansPerDegree = -0.017453292522222223;

bool within(float frameValue, float referenceValue, float tolerance)
{
    return referenceValue - tolerance < frameValue && frameValue < referenceValue + tolerance;
}

// Same shape: the seven measures that do not change when a frame is shifted or rotated. The
// second star's distance is the longest side itself and is not compared again.
bool sameShape(const StarPattern &r, const StarPattern &p, float tolerance)
{
    return within(p.longestSide, r.longestSide, tolerance)
           && within(p.stars[2].distance, r.stars[2].distance, tolerance)
           && within(p.stars[3].distance, r.stars[3].distance, tolerance) && within(p.rotX3, r.rotX3, tolerance)
           && within(p.rotY3, r.rotY3, tolerance) && within(p.rotX4, r.rotX4, tolerance)
           && within(p.rotY4, r.rotY4, tolerance);
}

struct Means {
    float x = 0.0f;
    float y = 0.0f;
    float angle = 0.0f;
};

// Means in float, as sums times the reciprocal count (an empty set gives not-a-number).
Means meansOf(const std::vector<PatternMatch> &set)
{
    float sx = 0.0f;
    float sy = 0.0f;
    float st = 0.0f;
    for (const PatternMatch &m : set) {
        sx += m.dx;
        sy += m.dy;
        st += m.dAngle;
    }
    const float reciprocal = 1.0f / static_cast<float>(set.size());
    return Means{sx * reciprocal, sy * reciprocal, st * reciprocal};
}

// Sample standard deviations about the given means, divisor k - 1: one match gives 0 / 0
// (not a number), no match -0.
Means spreadOf(const std::vector<PatternMatch> &set, const Means &mean)
{
    double sx = 0.0;
    double sy = 0.0;
    double st = 0.0;
    for (const PatternMatch &m : set) {
        sx += (m.dx - mean.x) * static_cast<double>(m.dx - mean.x);
        sy += (m.dy - mean.y) * static_cast<double>(m.dy - mean.y);
        st += (m.dAngle - mean.angle) * static_cast<double>(m.dAngle - mean.angle);
    }
    const double divisor = static_cast<double>(set.size()) - 1.0;
    return Means{static_cast<float>(std::sqrt(sx / divisor)), static_cast<float>(std::sqrt(sy / divisor)),
                 static_cast<float>(std::sqrt(st / divisor))};
}

bool insideBand(float v, float mean, float spread)
{
    return mean - spread <= v && v <= mean + spread;
}

} // namespace

std::vector<PatternMatch> matchPatternLists(const std::vector<StarPattern> &reference,
                                            const std::vector<StarPattern> &frame, int frameWidth, int frameHeight,
                                            float tolerance)
{
    std::vector<PatternMatch> matches;
    const std::size_t capacity = reference.size();
    matches.reserve(capacity);
    const float cx = static_cast<float>(frameWidth / 2);
    const float cy = static_cast<float>(frameHeight / 2);
    for (const StarPattern &r : reference) {
        for (const StarPattern &p : frame) {
            // The output holds as many matches as the reference has patterns; once it is
            // full every further pair is refused.
            if (matches.size() >= capacity)
                return matches;
            if (!sameShape(r, p, tolerance))
                continue;
            PatternMatch match;
            match.dAngle = r.angle - p.angle;
            // Turn the frame's first star about the frame centre by the pattern's angle
            // difference, then compare it with the reference's first star.
            const double a = match.dAngle * kMinusRadiansPerDegree;
            const double x = p.stars[0].x - cx;
            const double y = p.stars[0].y - cy;
            const float turnedX = static_cast<float>(y * std::sin(a) + x * std::cos(a));
            const float turnedY = static_cast<float>(y * std::cos(a) - x * std::sin(a));
            match.dx = r.stars[0].x - (turnedX + cx);
            match.dy = r.stars[0].y - (turnedY + cy);
            matches.push_back(match);
        }
    }
    return matches;
}

Transformation estimateTransformation(const std::vector<PatternMatch> &matches, MessageLog &log)
{
    std::vector<PatternMatch> current = matches;
    Means mean = meansOf(current);
    Means spread;
    for (int pass = 1;; ++pass) {
        const Means band = spreadOf(current, mean);
        std::vector<PatternMatch> kept;
        kept.reserve(current.size());
        for (const PatternMatch &m : current)
            if (insideBand(m.dx, mean.x, band.x) && insideBand(m.dy, mean.y, band.y)
                && insideBand(m.dAngle, mean.angle, band.angle))
                kept.push_back(m);
        current.swap(kept);
        mean = meansOf(current);
        spread = spreadOf(current, mean);
        log.logMessage(QStringLiteral("(Pass %1) Deviation: ").arg(pass) + logNumber(spread.x) + QStringLiteral(", ")
                       + logNumber(spread.y) + QStringLiteral(", ") + logNumber(spread.angle));
        // Written as "not above" so that a spread that is not a number (one match left, or
        // none) ends the loop as well.
        if (pass >= kMaxClippingPasses || !(spread.x + spread.y + spread.angle > kMaxSpreadSum))
            break;
    }
    const int kept = static_cast<int>(current.size());
    log.logMessage(QStringLiteral("Calculated transformation from %1 matches.").arg(kept));
    log.logMessage(QStringLiteral("Average Movement: ") + logNumber(mean.x) + QStringLiteral(",") + logNumber(mean.y));
    log.logMessage(QStringLiteral("Average Rotation: ") + logNumber(mean.angle) + QStringLiteral(" degree"));

    Transformation result;
    result.offsetX = mean.x;
    result.offsetY = mean.y;
    result.angle = -mean.angle;
    result.matchCount = spread.x + spread.y + spread.angle > kMaxSpreadSum ? 0 : kept;
    return result;
}

StarCompare::StarCompare(int slotCount, int width, int height, MessageLog *messageLogTarget, QObject *parent)
    : QObject(parent), patternSets(std::max(0, slotCount)), slotInfo(std::max(0, slotCount)), log(messageLogTarget),
      frameHeight(height), frameWidth(width), maxFrames(std::max(0, slotCount))
{
}

void StarCompare::storeSlot(int slot, const StarPattern *patterns, int count)
{
    count = patterns ? std::max(0, count) : 0;
    patternSets[slot].assign(patterns, patterns + count);
    slotInfo[slot] = SlotInfo{count, slot};
}

bool StarCompare::addFrame(const StarPattern *patterns, int count)
{
    if (frameCount < 0 || frameCount >= maxFrames)
        return false;
    storeSlot(frameCount, patterns, count);
    ++frameCount;
    return true;
}

bool StarCompare::setFrame(int frameIndex, const StarPattern *patterns, int count)
{
    if (frameIndex < 0 || frameIndex >= maxFrames)
        return false;
    storeSlot(frameIndex, patterns, count);
    frameCount = maxFrames;
    return true;
}

std::vector<PatternMatch> StarCompare::matchPatterns(int slot) const
{
    if (slot < 0 || slot >= maxFrames || maxFrames == 0)
        return {};
    return matchPatternLists(patternSets[0], patternSets[slot], frameWidth, frameHeight, tolerance);
}

Transformation StarCompare::computeTransformation(const std::vector<PatternMatch> &matches) const
{
    return estimateTransformation(matches, log ? *log : messageLog());
}
