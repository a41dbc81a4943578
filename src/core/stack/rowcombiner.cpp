#include "rowcombiner.h"

#include "stackstatistics.h"
#include "weightedstatistics.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kFloatsPerPixel = 4;

inline float sampleValue(float value)
{
    return std::isnan(value) ? 0.0f : value;
}

} // namespace

RowCombiner::RowCombiner(int frameCount, int rowWidth, const CombineSettings &combineSettings)
    : frames(std::max(frameCount, 0)), width(std::max(rowWidth, 0)), settings(combineSettings)
{
    const auto samples = static_cast<std::size_t>(frames);
    weighted = settings.weights
               && std::any_of(settings.weights, settings.weights + frames, [](float w) { return w != 1.0f; });
    if (weighted)
        for (auto &w : sampleWeights)
            w.resize(samples);
    if (weighted && settings.mode == stackstats::CombineSigma && settings.rejection == stackstats::RejectNone)
        laneSamples.resize(samples * 4 * 3);
    red.resize(samples);
    green.resize(samples);
    blue.resize(samples);
    if (settings.mode == stackstats::CombineAverage && settings.rejection == stackstats::RejectNone) {
        sums.resize(static_cast<std::size_t>(width) * kFloatsPerPixel);
    } else if (!weighted && LaneCombiner::available() && frames >= 1 && frames <= kMaxLaneSamples) {
        lanes = std::make_unique<LaneCombiner>(settings.mode, settings.rejection, settings.fraction,
                                               settings.sigmaFactor, frames);
        laneSamples.resize(static_cast<std::size_t>(frames) * 4 * 3);
    }
}

void RowCombiner::combineRow(const float *const *rows, float *out)
{
    if (settings.mode == stackstats::CombineAverage && settings.rejection == stackstats::RejectNone)
        averageRow(rows, out);
    else
        sampleRow(rows, out);
}

void RowCombiner::averageRow(const float *const *rows, float *out)
{
    // Frame by frame over the whole row: each pixel still gets its samples added in frame
    // order, starting from +0 (adding +0 for a missing sample changes no sum that starts there).
    // The fourth float of a pixel's sum counts its samples (exactly, as a float).
    float *sum = sums.data();
    std::fill(sums.begin(), sums.end(), 0.0f);
    for (int i = 0; i < frames; ++i) {
        const float *row = rows[i];
        if (!row)
            continue;
        const std::ptrdiff_t floats = static_cast<std::ptrdiff_t>(width) * kFloatsPerPixel;
        if (weighted) {
            // The weight scales the colours and counts in place of the sample.
            const float w = settings.weights[i];
#if defined(__SSE2__)
            const __m128 colours = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
            const __m128 oneSample = _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f);
            const __m128 weight = _mm_set1_ps(w);
            for (std::ptrdiff_t f = 0; f < floats; f += kFloatsPerPixel) {
                const __m128 v = _mm_loadu_ps(row + f);
                const __m128 contributes =
                    _mm_cmpgt_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3)), _mm_setzero_ps());
                const __m128 sample = _mm_or_ps(_mm_and_ps(_mm_and_ps(v, _mm_cmpord_ps(v, v)), colours), oneSample);
                _mm_storeu_ps(sum + f,
                              _mm_add_ps(_mm_loadu_ps(sum + f), _mm_and_ps(_mm_mul_ps(sample, weight), contributes)));
            }
            continue;
#endif
            for (std::ptrdiff_t f = 0; f < floats; f += kFloatsPerPixel) {
                const float *p = row + f;
                if (!(p[3] > 0.0f))
                    continue;
                sum[f] += w * sampleValue(p[0]);
                sum[f + 1] += w * sampleValue(p[1]);
                sum[f + 2] += w * sampleValue(p[2]);
                sum[f + 3] += w;
            }
            continue;
        }
#if defined(__SSE2__)
        // One pixel is one vector: the same additions per colour, four floats at a time.
        const __m128 colours = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
        const __m128 oneSample = _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f);
        for (std::ptrdiff_t f = 0; f < floats; f += kFloatsPerPixel) {
            const __m128 v = _mm_loadu_ps(row + f);
            const __m128 contributes = _mm_cmpgt_ps(_mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3)), _mm_setzero_ps());
            const __m128 sample = _mm_or_ps(_mm_and_ps(_mm_and_ps(v, _mm_cmpord_ps(v, v)), colours), oneSample);
            _mm_storeu_ps(sum + f, _mm_add_ps(_mm_loadu_ps(sum + f), _mm_and_ps(sample, contributes)));
        }
#else
        for (std::ptrdiff_t f = 0; f < floats; f += kFloatsPerPixel) {
            const float *p = row + f;
            const bool contributes = p[3] > 0.0f;
            sum[f] += contributes ? sampleValue(p[0]) : 0.0f;
            sum[f + 1] += contributes ? sampleValue(p[1]) : 0.0f;
            sum[f + 2] += contributes ? sampleValue(p[2]) : 0.0f;
            sum[f + 3] += contributes ? 1.0f : 0.0f;
        }
#endif
    }
    for (int x = 0; x < width; ++x) {
        const float *s = sum + x * kFloatsPerPixel;
        float *o = out + x * kFloatsPerPixel;
        o[3] = 1.0f;
        if (!(s[3] > 0.0f)) {
            // No sample, no value: the same NaN as the statistics give.
            o[0] = o[1] = o[2] = std::numeric_limits<float>::quiet_NaN();
            continue;
        }
        const float reciprocal = 1.0f / s[3];
        o[0] = reciprocal * s[0];
        o[1] = reciprocal * s[1];
        o[2] = reciprocal * s[2];
    }
}

void RowCombiner::sampleRow(const float *const *rows, float *out)
{
    int x = 0;
#if defined(__SSE2__)
    // Weighted sigma clipping without rejection, four pixels at once where every frame gives
    // each a sample: the operations of the one-pixel path, in its order, per lane.
    if (weighted && settings.mode == stackstats::CombineSigma && settings.rejection == stackstats::RejectNone
        && !laneSamples.empty()) {
        const std::size_t channel = static_cast<std::size_t>(frames) * 4;
        for (; x + 4 <= width; x += 4) {
            float *o = out + x * kFloatsPerPixel;
            if (!gatherLanes(rows, x)) {
                for (int lane = 0; lane < 4; ++lane)
                    combinePixel(rows, x + lane, o + lane * kFloatsPerPixel);
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                float result[4];
                weightedSigmaLanes(laneSamples.data() + c * channel, result);
                for (int lane = 0; lane < 4; ++lane)
                    o[lane * kFloatsPerPixel + c] = result[lane];
            }
            for (int lane = 0; lane < 4; ++lane)
                o[lane * kFloatsPerPixel + 3] = 1.0f;
        }
    }
#endif
    if (lanes) {
        const std::size_t channel = static_cast<std::size_t>(frames) * 4;
        for (; x + 4 <= width; x += 4) {
            float *o = out + x * kFloatsPerPixel;
            if (!gatherLanes(rows, x)) {
                for (int lane = 0; lane < 4; ++lane)
                    combinePixel(rows, x + lane, o + lane * kFloatsPerPixel);
                continue;
            }
            lanes->combine(laneSamples.data(), o, kFloatsPerPixel);
            lanes->combine(laneSamples.data() + channel, o + 1, kFloatsPerPixel);
            lanes->combine(laneSamples.data() + 2 * channel, o + 2, kFloatsPerPixel);
            for (int lane = 0; lane < 4; ++lane)
                o[lane * kFloatsPerPixel + 3] = 1.0f;
        }
    }
    for (; x < width; ++x)
        combinePixel(rows, x, out + x * kFloatsPerPixel);
}

#if defined(__SSE2__)
void RowCombiner::weightedSigmaLanes(const float *samples, float *result) const
{
    const float *w = settings.weights;
    __m128 sum = _mm_setzero_ps();
    __m128 total = _mm_setzero_ps();
    for (int i = 0; i < frames; ++i) {
        const __m128 weight = _mm_set1_ps(w[i]);
        sum = _mm_add_ps(sum, _mm_mul_ps(weight, _mm_loadu_ps(samples + 4 * i)));
        total = _mm_add_ps(total, weight);
    }
    const __m128 mu = _mm_div_ps(sum, total);
    __m128 squares = _mm_setzero_ps();
    for (int i = 0; i < frames; ++i) {
        const __m128 d = _mm_sub_ps(_mm_loadu_ps(samples + 4 * i), mu);
        squares = _mm_add_ps(squares, _mm_mul_ps(_mm_mul_ps(_mm_set1_ps(w[i]), d), d));
    }
    const __m128 s = _mm_mul_ps(_mm_set1_ps(settings.sigmaFactor), _mm_sqrt_ps(_mm_div_ps(squares, total)));
    const __m128 low = _mm_sub_ps(mu, s);
    const __m128 high = _mm_add_ps(mu, s);
    __m128 keptSum = _mm_setzero_ps();
    __m128 keptWeight = _mm_setzero_ps();
    for (int i = 0; i < frames; ++i) {
        const __m128 v = _mm_loadu_ps(samples + 4 * i);
        const __m128 weight = _mm_set1_ps(w[i]);
        const __m128 keep = _mm_and_ps(_mm_cmpge_ps(v, low), _mm_cmple_ps(v, high));
        keptSum = _mm_add_ps(keptSum, _mm_and_ps(keep, _mm_mul_ps(weight, v)));
        keptWeight = _mm_add_ps(keptWeight, _mm_and_ps(keep, weight));
    }
    _mm_storeu_ps(result, _mm_div_ps(keptSum, keptWeight));
}
#endif

bool RowCombiner::gatherLanes(const float *const *rows, int x)
{
    const std::size_t channel = static_cast<std::size_t>(frames) * 4;
    float *r = laneSamples.data();
    float *g = r + channel;
    float *b = g + channel;
    for (int i = 0; i < frames; ++i) {
        if (!rows[i])
            return false;
        const float *p = rows[i] + x * kFloatsPerPixel;
        bool allSampled = true;
        for (int lane = 0; lane < 4; ++lane, p += kFloatsPerPixel) {
            allSampled = allSampled && p[3] > 0.0f;
            r[4 * i + lane] = sampleValue(p[0]);
            g[4 * i + lane] = sampleValue(p[1]);
            b[4 * i + lane] = sampleValue(p[2]);
        }
        if (!allSampled)
            return false;
    }
    return true;
}

void RowCombiner::combinePixel(const float *const *rows, int x, float *o)
{
    float *r = red.data();
    float *g = green.data();
    float *b = blue.data();
    int n = 0;
    for (int i = 0; i < frames; ++i) {
        if (!rows[i])
            continue;
        const float *p = rows[i] + x * kFloatsPerPixel;
        if (!(p[3] > 0.0f))
            continue;
        r[n] = sampleValue(p[0]);
        g[n] = sampleValue(p[1]);
        b[n] = sampleValue(p[2]);
        if (weighted)
            for (auto &w : sampleWeights)
                w[static_cast<std::size_t>(n)] = settings.weights[i];
        ++n;
    }
    o[3] = 1.0f;
    if (weighted) {
        bool fell[3] = {false, false, false};
        float *channels[3] = {r, g, b};
        for (int c = 0; c < 3; ++c)
            o[c] = stackstats::combineWeighted(channels[c], sampleWeights[c].data(), n, settings.mode,
                                               settings.rejection, settings.fraction, settings.sigmaFactor,
                                               settings.fallBackToMean, fell[c]);
        fallbackPixels += (fell[0] || fell[1] || fell[2]) ? 1 : 0;
        return;
    }
    if (settings.fallBackToMean) {
        bool fell[3] = {false, false, false};
        float *channels[3] = {r, g, b};
        for (int c = 0; c < 3; ++c)
            o[c] = stackstats::combineOrMean(channels[c], n, settings.mode, settings.rejection, settings.fraction,
                                             settings.sigmaFactor, fell[c]);
        fallbackPixels += (fell[0] || fell[1] || fell[2]) ? 1 : 0;
        return;
    }
    o[0] = stackstats::combine(r, n, settings.mode, settings.rejection, settings.fraction, settings.sigmaFactor);
    o[1] = stackstats::combine(g, n, settings.mode, settings.rejection, settings.fraction, settings.sigmaFactor);
    o[2] = stackstats::combine(b, n, settings.mode, settings.rejection, settings.fraction, settings.sigmaFactor);
}
