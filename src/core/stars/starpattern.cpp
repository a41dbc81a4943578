#include "starpattern.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// 180 / pi and pi / 180 as the single-precision constants every stored pattern angle was made
// with; going through degrees and back in float is part of the angle a pattern stores.
constexpr float kDegreesPerRadian = 57.295776f;
constexpr float kRadiansPerDegree = 0.017453292f;

float distanceBetween(const PatternStar &a, const PatternStar &b)
{
    const float dx = a.x - b.x;
    const float dy = a.y - b.y;
    return std::sqrt(dx * dx + dy * dy);
}

} // namespace

StarPattern makePattern(const PatternStar &p1, const PatternStar &p2, const PatternStar &p3, const PatternStar &p4)
{
    const float d12 = distanceBetween(p1, p2);
    const float d13 = distanceBetween(p1, p3);
    const float d14 = distanceBetween(p1, p4);
    const float d23 = distanceBetween(p2, p3);
    const float d24 = distanceBetween(p2, p4);
    const float d34 = distanceBetween(p3, p4);

    // The farthest pair becomes stars 1 and 2. d13 must beat d12 outright while every later
    // pair wins a tie: with equal sides this decides, the same way for every frame.
    const PatternStar *order[4] = {&p1, &p2, &p3, &p4};
    float longest = d12;
    const auto choose = [&](float side, const PatternStar *a, const PatternStar *b, const PatternStar *c,
                            const PatternStar *d) {
        longest = side;
        order[0] = a;
        order[1] = b;
        order[2] = c;
        order[3] = d;
    };
    if (d13 > longest)
        choose(d13, &p1, &p3, &p2, &p4);
    if (d14 >= longest)
        choose(d14, &p1, &p4, &p2, &p3);
    if (d23 >= longest)
        choose(d23, &p2, &p3, &p1, &p4);
    if (d24 >= longest)
        choose(d24, &p2, &p4, &p1, &p3);
    if (d34 >= longest)
        choose(d34, &p3, &p4, &p1, &p2);
    // Within each pair the brighter star comes first, so the order does not depend on the
    // order in which the stars were found.
    if (order[1]->brightness > order[0]->brightness)
        std::swap(order[0], order[1]);
    if (order[3]->brightness > order[2]->brightness)
        std::swap(order[2], order[3]);

    StarPattern pattern;
    for (int k = 0; k < 4; ++k) {
        pattern.stars[k].x = order[k]->x;
        pattern.stars[k].y = order[k]->y;
        pattern.stars[k].brightness = order[k]->brightness;
    }
    const PatternStar &s1 = pattern.stars[0];
    const PatternStar &s2 = pattern.stars[1];
    const PatternStar &s3 = pattern.stars[2];
    const PatternStar &s4 = pattern.stars[3];
    pattern.longestSide = longest;

    // Measured from straight up (-y) towards +x: atan2 takes the x difference first.
    const float theta = std::atan2(s2.x - s1.x, s1.y - s2.y);
    pattern.angle = theta * kDegreesPerRadian;
    const float phi = pattern.angle * kRadiansPerDegree;
    const float sinPhi = std::sin(phi);
    const float cosPhi = std::cos(phi);
    pattern.rotX3 = sinPhi * (s3.y - s1.y) + cosPhi * (s3.x - s1.x);
    pattern.rotY3 = cosPhi * (s3.y - s1.y) - sinPhi * (s3.x - s1.x);
    pattern.rotX4 = sinPhi * (s4.y - s1.y) + cosPhi * (s4.x - s1.x);
    pattern.rotY4 = cosPhi * (s4.y - s1.y) - sinPhi * (s4.x - s1.x);
    for (int k = 1; k < 4; ++k)
        pattern.stars[k].distance = distanceBetween(pattern.stars[k], s1);
    return pattern;
}

std::vector<int> nearestFour(const std::vector<StarRecord> &stars, int i)
{
    // Distances from star i's pixel corner, each difference truncated to whole pixels before
    // squaring: coarse, but only the nearest few are wanted and this is what decides which
    // four stars a pattern holds in every frame.
    const int ix = static_cast<int>(stars[i].x);
    const int iy = static_cast<int>(stars[i].y);
    const int n = static_cast<int>(stars.size());
    std::vector<std::pair<float, int>> byDistance(n);
    for (int t = 0; t < n; ++t) {
        const int a = static_cast<int>(static_cast<float>(ix) - stars[t].x);
        const int c = static_cast<int>(static_cast<float>(iy) - stars[t].y);
        const long long squares = static_cast<long long>(a) * a + static_cast<long long>(c) * c;
        byDistance[t] = {static_cast<float>(std::sqrt(static_cast<double>(squares))), t};
    }
    const int wanted = std::min(4, n);
    std::partial_sort(byDistance.begin(), byDistance.begin() + wanted, byDistance.end());
    std::vector<int> chosen(wanted);
    for (int k = 0; k < wanted; ++k)
        chosen[k] = byDistance[k].second;
    return chosen;
}

std::vector<StarPattern> buildPatterns(const std::vector<StarRecord> &sortedStars, int mode, int *steps)
{
    const int n = static_cast<int>(sortedStars.size());
    const int count = std::max(0, n - 3);
    if (steps)
        *steps = count;
    std::vector<StarPattern> patterns;
    if (mode != kPatternsByNeighbours && mode != kPatternsByRuns)
        return patterns;
    patterns.reserve(count);
    const auto patternStar = [&](int index) {
        const StarRecord &star = sortedStars[index];
        return PatternStar{star.x, star.y, star.brightness, 0.0f};
    };
    for (int i = 0; i < count; ++i) {
        if (mode == kPatternsByNeighbours) {
            const std::vector<int> four = nearestFour(sortedStars, i);
            patterns.push_back(
                makePattern(patternStar(four[0]), patternStar(four[1]), patternStar(four[2]), patternStar(four[3])));
        } else {
            patterns.push_back(makePattern(patternStar(i), patternStar(i + 1), patternStar(i + 2), patternStar(i + 3)));
        }
    }
    return patterns;
}
