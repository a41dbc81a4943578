#pragma once
// Comparing the star patterns of the frames of one registration with those of the reference
// frame (slot 0), and turning the pairs that agree into each frame's shift and rotation.
//
// Units: pixels, origin top-left, y down; angles in degrees. A Transformation maps a frame
// onto the reference: with c = (width / 2, height / 2) in whole pixels, (X, Y) = p - c for a
// frame point p and a = angle in radians, the reference point is
//   (X cos a + Y sin a + c.x + offsetX,  Y cos a - X sin a + c.y + offsetY).
// A positive angle therefore turns the frame from +x towards -y (counter-clockwise on screen).
// Threads: a StarCompare lives on one thread (the GUI thread in the desktop program); the free
// functions are pure and may run anywhere. The log is borrowed, the pattern copies are owned.
#include "starpattern.h"

#include <QObject>

#include <vector>

class MessageLog;

// Two pattern measures count as equal when they differ by less than this (pixels).
constexpr float kPatternTolerance = 10.0f;
// Clipping stops after this many passes, or as soon as the spread sum is at most kMaxSpreadSum.
constexpr int kMaxClippingPasses = 5;
// The sum of the x and y spreads (pixels) and the angle spread (degrees) that a frame may keep.
constexpr float kMaxSpreadSum = 10.0f;
// A frame is stackable with more than this many surviving matches.
constexpr int kMinStackableMatchCount = 2;

// One candidate transformation, from one pair of agreeing patterns.
struct PatternMatch {
    float dx = 0.0f;     // reference first star minus the frame's, after turning the frame
    float dy = 0.0f;
    float dAngle = 0.0f; // reference pattern angle minus frame pattern angle, degrees
};

struct Transformation {
    float offsetX = 0.0f;
    float offsetY = 0.0f;
    float angle = 0.0f; // degrees, minus the mean dAngle
    // Matches that survived the clipping; 0 when the spread stayed above kMaxSpreadSum.
    int matchCount = 0;

    bool stackable() const { return matchCount > kMinStackableMatchCount; }
};

// Every pair (reference pattern r, frame pattern p), r outer and p inner, whose longestSide,
// third and fourth star distances and rotX3, rotY3, rotX4, rotY4 all lie strictly within
// `tolerance` of each other, turned into a match; at most reference.size() matches, in the
// order found. The frame's centre of rotation is (width / 2, height / 2) in whole pixels.
std::vector<PatternMatch> matchPatternLists(const std::vector<StarPattern> &reference,
                                            const std::vector<StarPattern> &frame, int frameWidth, int frameHeight,
                                            float tolerance = kPatternTolerance);

// Mean of the matches with iterated one-sigma clipping (see the .cpp); logs every pass and
// the result: "(Pass N) Deviation: ...", "Calculated transformation from K matches.",
// "Average Movement: x,y", "Average Rotation: a degree". No match gives offsets and angle that
// are not numbers and matchCount 0.
Transformation estimateTransformation(const std::vector<PatternMatch> &matches, MessageLog &log);

class StarCompare : public QObject {
    Q_OBJECT

public:
    // log: where the estimates report; null means the process-wide log.
    StarCompare(int maxFrames, int width, int height, MessageLog *log, QObject *parent = nullptr);

    // Copies the patterns into the next free slot, which records frame index = that slot.
    // Returns false (and stores nothing) when all maxFrames slots are taken.
    bool addFrame(const StarPattern *patterns, int count);
    bool addFrame(const std::vector<StarPattern> &patterns) { return addFrame(patterns.data(), int(patterns.size())); }
    // The registration run's way: copies the patterns into slot frameIndex and counts every
    // slot as filled (frameCount = maxFrames), since frames arrive in any order. Returns false
    // for an index outside the slots.
    bool setFrame(int frameIndex, const StarPattern *patterns, int count);

    // The matches of frame slot `slot` against slot 0; empty for a slot outside or unfilled.
    std::vector<PatternMatch> matchPatterns(int slot) const;
    // The estimate from matchPatterns' result, logged to this object's log.
    Transformation computeTransformation(const std::vector<PatternMatch> &matches) const;

    struct SlotInfo {
        int count = 0;
        int frameIndex = 0;
    };
    std::vector<std::vector<StarPattern>> patternSets;
    std::vector<SlotInfo> slotInfo;
    int frameCount = 0;
    MessageLog *log;
    int frameHeight;
    int frameWidth;
    float tolerance = kPatternTolerance;
    int maxFrames;

private:
    void storeSlot(int slot, const StarPattern *patterns, int count);
};
