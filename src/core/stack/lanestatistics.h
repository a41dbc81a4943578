#pragma once
// The statistics of stackstatistics.h for four pixels at once: sample i of the four pixels is
// one 4-float vector, and a sorting network of vector minimum/maximum sorts all four pixels'
// samples together without a branch. Every result has the bits the one-pixel functions give
// (the same additions in the same order, IEEE division and square root), so the stack does not
// depend on which path a pixel took.
//
// Used where the four pixels have the same number of samples n, 1 <= n <= kMaxLaneSamples.
// Threads: a LaneCombiner belongs to one worker; its networks are built once.
#include <vector>

// Sample sets larger than this go through the one-pixel path (a selection beats a network).
constexpr int kMaxLaneSamples = 64;

// The compare-exchange steps that sort n values (Batcher's odd-even merge sort, cut to n).
struct SortingNetwork {
    explicit SortingNetwork(int n);
    // Only the steps that decide the value ending at `index`; the others are dropped.
    SortingNetwork selecting(int index) const;
    std::vector<std::pair<int, int>> steps;
};

class LaneCombiner {
public:
    // mode, rejection, fraction and k as in CombineSettings; n the samples per pixel.
    LaneCombiner(int mode, int rejection, float fraction, float sigmaFactor, int n);

    // samples: n groups of 4 floats (sample i of pixels 0..3 at samples + 4 i); reordered and
    // rewritten. Writes the four results to out[0], out[stride], out[2 stride], out[3 stride].
    void combine(float *samples, float *out, int stride) const;

    // Whether this build has the vector path (else combine() must not be called).
    static bool available();

private:
    int mode;
    int rejection;
    float sigmaFactor;
    int n;
    int replaced = 0;  // winsorize: values replaced at each end
    int keptStart = 0; // trim: first value kept and how many
    int kept = 0;
    SortingNetwork sort;
    SortingNetwork median;
};
