#pragma once
// One output row of a stack from the same row of every frame's band. The samples of a pixel
// are the frames' pixels at its position, in frame order; a pixel whose alpha is not above 0
// (or a frame without a band) gives no sample, and NaN colours count as 0, as getPixel reads
// them. The result is what the statistics of stackstatistics.h give for those samples, bit for
// bit; the plain average takes a faster frame-by-frame path with the same additions in the
// same order.
//
// Threads: one combiner per worker thread; it owns the scratch arrays it needs, allocated once
// at construction, and only reads the rows it is given.
#include "lanestatistics.h"

#include <cstdint>
#include <memory>
#include <vector>

struct CombineSettings {
    int mode = 0;             // stackstats::CombineMode
    int rejection = 0;        // stackstats::Rejection
    float fraction = 0.1f;    // the rejection fraction
    float sigmaFactor = 1.0f; // k of the sigma combination
    // Pixels may have any number of samples (frames that do not cover them give none): a
    // rejection that leaves no sample gives the plain mean instead (combineOrMean).
    bool fallBackToMean = false;
    // One weight per frame (frameweights.h), borrowed; null or all 1: unweighted.
    const float *weights = nullptr;
};

class RowCombiner {
public:
    // Throws std::bad_alloc when the scratch arrays cannot be had.
    RowCombiner(int frames, int width, const CombineSettings &settings);

    // rows[i]: the first float of frame i's row (width pixels of r, g, b, a), or null. Writes
    // width pixels (r, g, b, 1.0) to out.
    void combineRow(const float *const *rows, float *out);
    // Pixels whose rejection fell back to the plain mean so far (fallBackToMean only).
    std::int64_t fallbacks() const { return fallbackPixels; }

private:
    void averageRow(const float *const *rows, float *out);
    void sampleRow(const float *const *rows, float *out);
    void combinePixel(const float *const *rows, int x, float *out);
    // Samples of pixels x .. x + 3 into the lane arrays; false when a frame gives one of them
    // no sample (the pixels then take the one-pixel path).
    bool gatherLanes(const float *const *rows, int x);
    // Weighted sigma clipping of four pixels' samples (frames x 4 floats) into result[4].
    void weightedSigmaLanes(const float *samples, float *result) const;

    int frames;
    int width;
    CombineSettings settings;
    std::vector<float> red;
    std::vector<float> green;
    std::vector<float> blue;
    std::vector<float> sampleWeights[3];
    bool weighted = false;
    std::vector<float> sums; // r, g, b and the sample count per pixel, for the plain average
    // Four pixels at once where every frame gives each a sample (see lanestatistics.h).
    std::unique_ptr<LaneCombiner> lanes;
    std::vector<float> laneSamples; // red, green, blue: frames x 4 floats each
    std::int64_t fallbackPixels = 0;
};
