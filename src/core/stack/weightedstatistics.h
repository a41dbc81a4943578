#pragma once
// The stacking statistics with a weight per sample (frame weighting, frameweights.h): the
// average and the sigma-clipped mean weigh each sample; the median ignores the weights.
// Winsorizing and trimming work on the values in order, each value keeping its own weight
// (a winsorized value takes its neighbour's value, not its weight). With every weight 1 the
// results are those of stackstatistics.h bit for bit, since those very functions are used.
// Pure functions over spans of samples; any thread.

namespace stackstats {

// As combine(), the samples arr[i] weighing weights[i] (both rearranged). fellBack as for
// combineOrMean when fallBackToMean is set (the plain mean is then weighted too).
float combineWeighted(float *arr, float *weights, int n, int mode, int rejection, float f, float k,
                      bool fallBackToMean, bool &fellBack);

} // namespace stackstats
