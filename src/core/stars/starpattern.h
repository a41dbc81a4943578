#pragma once
// Four-star patterns: shapes that stay the same when a frame is shifted or rotated, so that
// the patterns of two frames can be paired and the pairs tell how the frames moved.
//
// Coordinates are pixels, origin top-left, y down; angles in degrees. Pure functions on
// plain values: any thread may call them.
#include "starrecord.h"

#include <vector>

struct PatternStar {
    float x = 0.0f;
    float y = 0.0f;
    float brightness = 0.0f;
    // Distance from the pattern's first star (not used for the first star itself).
    float distance = 0.0f;
};

struct StarPattern {
    // Canonical order: stars[0] and stars[1] are the farthest pair, the brighter of the two
    // first; stars[2] and stars[3] the other two, the brighter first.
    PatternStar stars[4];
    // Third and fourth star relative to the first, in the frame turned so that the second
    // star lies at (0, -longestSide).
    float rotX3 = 0.0f;
    float rotY3 = 0.0f;
    float rotX4 = 0.0f;
    float rotY4 = 0.0f;
    // Distance between the first and the second star, the largest of the six.
    float longestSide = 0.0f;
    // Direction of the second star seen from the first: 0 straight up (-y), 90 towards +x.
    float angle = 0.0f;
};

// How the four stars of each pattern are chosen.
constexpr int kPatternsByNeighbours = 0; // star i and its three nearest neighbours
constexpr int kPatternsByRuns = 1;       // stars i ... i + 3 in brightness order
// The star list is cut to this many brightest stars before patterns are built.
constexpr int kMaxPatternStars = 500;

// The pattern of four stars given in any order (only x, y and brightness are read).
StarPattern makePattern(const PatternStar &p1, const PatternStar &p2, const PatternStar &p3, const PatternStar &p4);

// The patterns of a star list that is sorted by brightness, brightest first: pattern i for
// i = 0 ... n - 4 in the given mode, so n - 3 of them (none for fewer than four stars or
// for an unknown mode). `steps` receives the number of pattern steps made (n - 3, or 0).
std::vector<StarPattern> buildPatterns(const std::vector<StarRecord> &sortedStars, int mode, int *steps = nullptr);

// The four stars of pattern i in mode 0, in the order handed to makePattern: the stars of the
// list sorted by their truncated distance from star i (see the .cpp), nearest first; among
// equal distances the brighter (earlier) star comes first.
std::vector<int> nearestFour(const std::vector<StarRecord> &stars, int i);
