#include "lanestatistics.h"

#include "stackstatistics.h"

#include <algorithm>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#define VERDANIX_LANES 1
#endif

SortingNetwork::SortingNetwork(int n)
{
    // Knuth's formulation of the odd-even merge sort for any n: the network for the next power
    // of two with every step that would touch an index >= n left out (those would only move
    // the +infinity padding).
    for (int p = 1; p < n; p += p)
        for (int k = p; k >= 1; k /= 2)
            for (int j = k % p; j <= n - 1 - k; j += 2 * k)
                for (int i = 0; i <= std::min(k - 1, n - j - k - 1); ++i)
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
                        steps.emplace_back(i + j, i + j + k);
}

SortingNetwork SortingNetwork::selecting(int index) const
{
    SortingNetwork result(0);
    if (steps.empty())
        return result;
    int wires = 0;
    for (const auto &step : steps)
        wires = std::max(wires, step.second + 1);
    // Walking back from the output: a step matters when one of its wires does, and then both do.
    std::vector<bool> needed(static_cast<std::size_t>(std::max(wires, index + 1)), false);
    needed[static_cast<std::size_t>(index)] = true;
    std::vector<std::pair<int, int>> kept;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        if (needed[static_cast<std::size_t>(it->first)] || needed[static_cast<std::size_t>(it->second)]) {
            needed[static_cast<std::size_t>(it->first)] = needed[static_cast<std::size_t>(it->second)] = true;
            kept.push_back(*it);
        }
    }
    result.steps.assign(kept.rbegin(), kept.rend());
    return result;
}

LaneCombiner::LaneCombiner(int combineMode, int rejectionMode, float fraction, float k, int samples)
    : mode(combineMode), rejection(rejectionMode), sigmaFactor(k), n(samples), sort(samples),
      median(SortingNetwork(samples).selecting((samples - 1) / 2))
{
    if (mode == stackstats::CombineMedian)
        rejection = stackstats::RejectNone;
    if (rejection == stackstats::RejectWinsorize) {
        replaced = stackstats::winsorizeCount(n, fraction);
    } else if (rejection == stackstats::RejectTrim) {
        kept = stackstats::trimKeepCount(n, fraction);
        keptStart = (n - kept) / 2;
    }
}

#if defined(VERDANIX_LANES)

namespace {

inline void runNetwork(const SortingNetwork &network, float *samples)
{
    for (const auto &step : network.steps) {
        float *a = samples + 4 * step.first;
        float *b = samples + 4 * step.second;
        const __m128 va = _mm_loadu_ps(a);
        const __m128 vb = _mm_loadu_ps(b);
        _mm_storeu_ps(a, _mm_min_ps(va, vb));
        _mm_storeu_ps(b, _mm_max_ps(va, vb));
    }
}

// Sum of `count` vectors from `first`, added in order from +0.
inline __m128 sumOf(const float *first, int count)
{
    __m128 sum = _mm_setzero_ps();
    for (int i = 0; i < count; ++i)
        sum = _mm_add_ps(sum, _mm_loadu_ps(first + 4 * i));
    return sum;
}

// sum / count as the one-pixel mean: NaN (the library's quiet NaN) for no values.
inline __m128 meanOf(const float *first, int count)
{
    if (count <= 0)
        return _mm_set1_ps(std::numeric_limits<float>::quiet_NaN());
    return _mm_div_ps(sumOf(first, count), _mm_set1_ps(static_cast<float>(count)));
}

__m128 sigmaClippedMean(const float *first, int count, float k)
{
    if (count <= 0)
        return _mm_set1_ps(std::numeric_limits<float>::quiet_NaN());
    const __m128 mu = meanOf(first, count);
    __m128 squares = _mm_setzero_ps();
    for (int i = 0; i < count; ++i) {
        const __m128 d = _mm_sub_ps(_mm_loadu_ps(first + 4 * i), mu);
        squares = _mm_add_ps(squares, _mm_mul_ps(d, d));
    }
    const __m128 s = _mm_mul_ps(_mm_set1_ps(k), _mm_sqrt_ps(_mm_div_ps(squares, _mm_set1_ps(static_cast<float>(count)))));
    const __m128 low = _mm_sub_ps(mu, s);
    const __m128 high = _mm_add_ps(mu, s);
    __m128 sum = _mm_setzero_ps();
    __m128 kept = _mm_setzero_ps();
    const __m128 one = _mm_set1_ps(1.0f);
    for (int i = 0; i < count; ++i) {
        const __m128 v = _mm_loadu_ps(first + 4 * i);
        const __m128 inside = _mm_and_ps(_mm_cmpge_ps(v, low), _mm_cmple_ps(v, high));
        // Adding +0 for a value left out changes no sum that starts at +0.
        sum = _mm_add_ps(sum, _mm_and_ps(inside, v));
        kept = _mm_add_ps(kept, _mm_and_ps(inside, one));
    }
    return _mm_div_ps(sum, kept);
}

} // namespace

bool LaneCombiner::available()
{
    return true;
}

void LaneCombiner::combine(float *samples, float *out, int stride) const
{
    __m128 result;
    if (mode == stackstats::CombineMedian) {
        runNetwork(median, samples);
        result = _mm_loadu_ps(samples + 4 * ((n - 1) / 2));
    } else {
        int first = 0;
        int count = n;
        if (rejection == stackstats::RejectWinsorize) {
            runNetwork(sort, samples);
            const __m128 low = _mm_loadu_ps(samples + 4 * replaced);
            const __m128 high = _mm_loadu_ps(samples + 4 * (n - 1 - replaced));
            for (int i = 0; i < replaced; ++i) {
                _mm_storeu_ps(samples + 4 * i, low);
                _mm_storeu_ps(samples + 4 * (n - 1 - i), high);
            }
        } else if (rejection == stackstats::RejectTrim) {
            runNetwork(sort, samples);
            first = keptStart;
            count = kept;
        }
        if (mode == stackstats::CombineSigma)
            result = sigmaClippedMean(samples + 4 * first, count, sigmaFactor);
        else if (rejection == stackstats::RejectNone)
            result = _mm_mul_ps(_mm_set1_ps(1.0f / static_cast<float>(n)), sumOf(samples, n));
        else
            result = meanOf(samples + 4 * first, count);
    }
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, result);
    for (int lane = 0; lane < 4; ++lane)
        out[lane * stride] = lanes[lane];
}

#else

bool LaneCombiner::available()
{
    return false;
}

void LaneCombiner::combine(float *, float *, int) const {}

#endif
