#pragma once
// The per-pixel statistics of stacking: what turns the samples that N frames give one output
// pixel (one colour channel at a time) into one value. All arithmetic is single precision, and
// every function gives the same bits as the plain definition in its comment, whatever faster
// method it uses inside; the stack's output depends on that.
//
// Arrays are plain float spans owned by the caller (one set per worker thread, allocated once).
// Functions that reorder or rewrite the samples say so. Empty inputs give NaN (0 / 0), which
// later reads of the image (getPixel) show as 0. Pure functions: any thread may call them.
#include <QString>

namespace stackstats {

// Rejection before the average and the sigma combination.
enum Rejection { RejectNone = 0, RejectWinsorize = 1, RejectTrim = 2 };
// What a worker computes for each pixel.
enum CombineMode { CombineAverage = 0, CombineMedian = 1, CombineSigma = 2 };

// (sum of the n values, added in array order) / n.
float mean(const float *arr, int n);
// Population standard deviation: sqrt(sum((v - mean)^2) / n), summed in array order.
float stdDev(const float *arr, int n);

// Values replaced at each end by winsorize: roundf(n x f) (half away from zero), limited so
// that the two ends never cross (at most (n - 1) / 2) and at least 0.
int winsorizeCount(int n, float f);
// Sorts arr ascending, then sets the c = winsorizeCount lowest values to arr[c] and the c
// highest to arr[n - 1 - c]. The count stays n.
void winsorize(float *arr, int n, float f);

// Values that trim keeps: floor((1 - f) x n), the product in single precision, limited to 0..n.
int trimKeepCount(int n, float f);
// Sorts arr ascending and keeps the m = trimKeepCount values from index (n - m) / 2, moved to
// the front of arr; returns m. When n - m is odd the extra value goes from the high end.
int trim(float *arr, int n, float f);

// One pass of sigma clipping: the mean of the values within [mean - k s, mean + k s], s the
// standard deviation; NaN when none is within.
float sigmaClippedMean(const float *arr, int n, float k);

// The combination of one channel's samples, as the stacking workers compute it. The samples
// are reordered (and rewritten by winsorize).
// Average without rejection: (1 / n) x sum, the reciprocal multiplied, the sum in array order;
// with winsorize: winsorize then mean; with trim: trim then the mean of the kept values.
float combineAverage(float *arr, int n, int rejection, float f);
// The element at index (n - 1) / 2 of the ascending order: the lower middle for even n.
float combineMedian(float *arr, int n);
// The rejection as for the average, then sigmaClippedMean with factor k.
float combineSigma(float *arr, int n, int rejection, float f, float k);
// Dispatches on the combine mode.
float combine(float *arr, int n, int mode, int rejection, float f, float k);
// combine(), except that where a rejection leaves no sample (trimming one sample, clipping two
// that lie exactly at the bounds) the result is the plain mean of the n samples and fellBack is
// set. For stacks whose pixels have differing numbers of samples (frames that do not cover
// them), where a rejection meant for many samples meets one or two.
float combineOrMean(float *arr, int n, int mode, int rejection, float f, float k, bool &fellBack);

// Whether a rejection fraction leaves values to combine for n frames: winsorize needs
// c < n - c and trim m >= 1; a NaN or negative fraction is never usable; no rejection always
// is. Callers refuse a stack (with rejectionFractionProblem's text) when this is false.
bool rejectionFractionUsable(int rejection, float f, int n);
// "" when usable, else one sentence saying why, for the log or the command line.
QString rejectionFractionProblem(int rejection, float f, int n);

} // namespace stackstats
