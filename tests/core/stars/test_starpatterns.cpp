// Four-star patterns: canonical order, turned coordinates, and which stars each pattern takes.
#include "stars/starpattern.h"
#include "testdata/starfield.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

namespace {

StarRecord star(float x, float y, float brightness)
{
    return StarRecord{x, y, 3.0f, brightness, true};
}

bool samePattern(const StarPattern &a, const StarPattern &b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(StarPatterns, TheLongestPairComesFirstBrighterStarFirstAndTheRestAreTurnedToIt)
{
    const PatternStar a{100, 100, 1, 0};
    const PatternStar b{160, 100, 4, 0};
    const PatternStar c{120, 110, 2, 0};
    const PatternStar d{130, 90, 3, 0};
    const StarPattern p = makePattern(a, b, c, d);
    // A-B is the longest side; B is brighter than A, D brighter than C.
    EXPECT_EQ(p.stars[0].x, 160.0f);
    EXPECT_EQ(p.stars[1].x, 100.0f);
    EXPECT_EQ(p.stars[2].x, 130.0f);
    EXPECT_EQ(p.stars[3].x, 120.0f);
    EXPECT_FLOAT_EQ(p.longestSide, 60.0f);
    // 0 degrees is straight up (-y), +90 towards +x: A lies towards -x from B.
    EXPECT_FLOAT_EQ(p.angle, -90.0f);
    // Turned so that A lies at (0, -60): D (-30, -10 from B) goes to (10, -30), C (-40, 10)
    // to (-10, -40).
    EXPECT_NEAR(p.rotX3, 10.0, 1e-4);
    EXPECT_NEAR(p.rotY3, -30.0, 1e-4);
    EXPECT_NEAR(p.rotX4, -10.0, 1e-4);
    EXPECT_NEAR(p.rotY4, -40.0, 1e-4);
    EXPECT_FLOAT_EQ(p.stars[2].distance, std::sqrt(1000.0f));
}

TEST(StarPatterns, TheSameFourStarsInAnyOrderGiveTheSamePattern)
{
    const std::vector<PatternStar> stars =
        testsupport::patternStars({{512.3, 200.7}, {530.1, 260.2}, {470.9, 231.4}, {505.5, 240.0}});
    std::array<int, 4> order = {0, 1, 2, 3};
    const StarPattern first = makePattern(stars[0], stars[1], stars[2], stars[3]);
    do {
        EXPECT_TRUE(samePattern(first, makePattern(stars[order[0]], stars[order[1]], stars[order[2]], stars[order[3]])));
    } while (std::next_permutation(order.begin(), order.end()));

    // Equal sides: of a square's two diagonals the later pair (second-fourth) wins, but the
    // first-third pair must beat first-second outright.
    const std::vector<PatternStar> square = testsupport::patternStars({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    EXPECT_EQ(makePattern(square[0], square[1], square[2], square[3]).stars[1].y, 10.0f);
    const std::vector<PatternStar> fan = testsupport::patternStars({{0, 0}, {6, 8}, {8, 6}, {1, 0}});
    EXPECT_EQ(makePattern(fan[0], fan[1], fan[2], fan[3]).stars[1].x, 6.0f);
}

TEST(StarPatterns, FourStarsGiveOnePatternAndEveryFurtherStarOneMore)
{
    std::vector<StarRecord> stars = {star(10, 10, 9), star(50, 12, 8), star(30, 45, 7)};
    int steps = -1;
    EXPECT_TRUE(buildPatterns(stars, kPatternsByNeighbours, &steps).empty());
    EXPECT_EQ(steps, 0);
    stars.push_back(star(70, 60, 6));
    EXPECT_EQ(buildPatterns(stars, kPatternsByNeighbours).size(), 1u);
    stars.push_back(star(90, 20, 5));
    EXPECT_EQ(buildPatterns(stars, kPatternsByNeighbours).size(), 2u);
    EXPECT_EQ(buildPatterns(stars, kPatternsByRuns).size(), 2u);
    // Any other mode makes the steps but builds nothing.
    EXPECT_TRUE(buildPatterns(stars, 2, &steps).empty());
    EXPECT_EQ(steps, 2);
}

TEST(StarPatterns, NeighbourPatternsTakeTheNearestFourAndRunsConsecutiveStars)
{
    // Two tight groups of four far apart, listed interleaved in brightness order.
    const std::vector<StarRecord> stars = {star(100, 100, 10), star(900, 900, 9), star(110, 104, 8), star(905, 912, 7),
                                           star(96, 115, 6),   star(890, 905, 5), star(120, 118, 4), star(912, 897, 3)};
    EXPECT_GT(buildPatterns(stars, kPatternsByRuns)[0].longestSide, 1000.0f);
    const std::vector<StarPattern> neighbours = buildPatterns(stars, kPatternsByNeighbours);
    ASSERT_EQ(neighbours.size(), 5u);
    EXPECT_LT(neighbours[0].longestSide, 40.0f);
    EXPECT_GT(neighbours[1].stars[0].x, 800.0f);
    // Star 2 belongs to star 0's group: the same four stars, the same pattern.
    EXPECT_TRUE(samePattern(neighbours[0], neighbours[2]));

    // Distances are whole pixels from the star's pixel corner: from (10.9, 10.9), measured
    // from (10, 10), (10.5, 10.5) is at 0 like the star itself (list order breaks the tie),
    // (12.8, 10) at trunc(-2.8) = -2, (10, 13.5) at -3.
    const std::vector<StarRecord> close = {star(10.9f, 10.9f, 5), star(10.5f, 10.5f, 4), star(30, 10, 3),
                                           star(10, 13.5f, 2), star(12.8f, 10.0f, 1)};
    EXPECT_EQ(nearestFour(close, 0), (std::vector<int>{0, 1, 4, 3}));
    EXPECT_EQ(nearestFour(close, 1)[0], 0);
}
