#include "weightedstatistics.h"

#include "stackstatistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace stackstats {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

float weightedMean(const float *arr, const float *weights, int n)
{
    float sum = 0.0f;
    float total = 0.0f;
    for (int i = 0; i < n; ++i) {
        sum += weights[i] * arr[i];
        total += weights[i];
    }
    return total > 0.0f ? sum / total : kNaN;
}

// Sorts the values ascending, carrying each one's weight along.
void sortPairs(float *arr, float *weights, int n)
{
    for (int i = 1; i < n; ++i) {
        const float v = arr[i];
        const float w = weights[i];
        int j = i - 1;
        for (; j >= 0 && arr[j] > v; --j) {
            arr[j + 1] = arr[j];
            weights[j + 1] = weights[j];
        }
        arr[j + 1] = v;
        weights[j + 1] = w;
    }
}

float weightedSigmaClippedMean(const float *arr, const float *weights, int n, float k)
{
    if (n <= 0)
        return kNaN;
    const float mu = weightedMean(arr, weights, n);
    float squares = 0.0f;
    float total = 0.0f;
    for (int i = 0; i < n; ++i) {
        const float d = arr[i] - mu;
        squares += weights[i] * d * d;
        total += weights[i];
    }
    const float s = k * std::sqrt(squares / total);
    float sum = 0.0f;
    float kept = 0.0f;
    for (int i = 0; i < n; ++i)
        if (arr[i] >= mu - s && arr[i] <= mu + s) {
            sum += weights[i] * arr[i];
            kept += weights[i];
        }
    return sum / kept;
}

} // namespace

float combineWeighted(float *arr, float *weights, int n, int mode, int rejection, float f, float k,
                      bool fallBackToMean, bool &fellBack)
{
    fellBack = false;
    const bool allOne = std::all_of(weights, weights + std::max(n, 0), [](float w) { return w == 1.0f; });
    if (allOne || mode == CombineMedian)
        return fallBackToMean ? combineOrMean(arr, n, mode, rejection, f, k, fellBack)
                              : combine(arr, n, mode, rejection, f, k);
    if (n <= 0)
        return kNaN;
    const float plainMean = weightedMean(arr, weights, n);
    int m = n;
    if (rejection == RejectWinsorize || rejection == RejectTrim) {
        sortPairs(arr, weights, n);
        if (rejection == RejectWinsorize) {
            const int c = winsorizeCount(n, f);
            for (int i = 0; i < c; ++i) {
                arr[i] = arr[c];
                arr[n - 1 - i] = arr[n - 1 - c];
            }
        } else {
            m = trimKeepCount(n, f);
            const int start = (n - m) / 2;
            std::copy(arr + start, arr + start + m, arr);
            std::copy(weights + start, weights + start + m, weights);
        }
    }
    const float result =
        mode == CombineSigma ? weightedSigmaClippedMean(arr, weights, m, k) : weightedMean(arr, weights, m);
    if (fallBackToMean && std::isnan(result) && !std::isnan(plainMean)) {
        fellBack = true;
        return plainMean;
    }
    return result;
}

} // namespace stackstats
