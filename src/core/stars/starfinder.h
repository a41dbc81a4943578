#pragma once
// The star finder: turns one image into a list of measured stars and the four-star patterns
// that frame registration compares. The search runs in three phases, each announced in the
// log: mapping (bright spots that fit in a (2s + 1)-square window), star matching (each spot
// measured and kept if round, centred and brighter than its sky) and triangulation (the
// brightest 500 stars, one pattern around each).
//
// Units: pixels, origin top-left, y down; positions in pixel index units (5.0 is column 5);
// values in the image's own units, so thresholds are fractions of full scale for a
// normalised image.
// Threads: a finder is a QThread only so that it may be run as one; every caller creates one
// per image and calls searchStars directly on its own thread. Several finders may search
// different images at once; the image must not change while a search runs. The log is
// shared and thread-safe.
// Ownership: the image and the log are borrowed and must outlive the search; the finder owns
// its patterns, its star list and outputImage until the caller moves them out.
#include "starpattern.h"
#include "starrecord.h"

#include <QThread>

#include <memory>
#include <vector>

class ImageBuffer;
class MessageLog;

class starFinder : public QThread {
    Q_OBJECT

public:
    // log: where the search reports; null means the process-wide log.
    starFinder(const ImageBuffer *image, MessageLog *log, QObject *parent = nullptr);
    ~starFinder() override;

    // Runs the three phases on `image` and returns 0 (the search reports no failure; running
    // out of memory throws std::bad_alloc, which the caller's entry point catches). Afterwards
    // patterns, patternCount, starCount and averageFwhm hold the results, and acceptedStars()
    // the stars that passed. With markStars set, outputImage receives the marked copy.
    int searchStars(int s, float threshold, float maxBrightness);
    int searchStars(const StarSearchParameters &parameters);

    // The stars that passed the measuring phase, brightest first: all starCount of them,
    // not only the maxStars that the patterns are built from.
    const std::vector<StarRecord> &acceptedStars() const { return accepted; }

    const ImageBuffer *image;
    MessageLog *log;
    // With markStars set before the search, a copy of the searched image with a ring around
    // every accepted star (see starmarks.h); otherwise left empty. Take it with std::move.
    std::unique_ptr<ImageBuffer> outputImage;
    bool markStars = false;

    std::vector<StarPattern> patterns;
    int patternCount = 0;
    int maxStars = kMaxPatternStars;
    int patternMode = kPatternsByNeighbours;
    // Stars that passed the measuring phase, counted before the cut to maxStars.
    int starCount = 0;
    // Mean fwhm of those stars; not a number when none passed.
    float averageFwhm = 0.0f;
    // The threshold the last search used: the one it was given, or the one it took from the
    // frame when StarSearchParameters::autoThreshold was set.
    float thresholdUsed = 0.0f;

    // Parameters of a search started through run().
    int maxStarSize = kDefaultStarSize;
    float threshold = kDefaultStarThreshold;
    float maxBrightness = kDefaultMaxBrightness;
    // What the last run() returned (always 0).
    int result = 0;

protected:
    void run() override;

private:
    std::vector<StarRecord> accepted;
};
