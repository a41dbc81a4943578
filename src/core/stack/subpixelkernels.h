#pragma once
// The arithmetic of sub-pixel resampling (subpixelresample.h) for one output pixel: the
// Lanczos-3 weights, the bilinear and Lanczos-3 kernels over calibrated source rows, and a run
// kernel for stretches of pixels whose taps all lie inside the frame, in a portable form and
// in a wider form for processors with AVX2 and FMA (chosen at run time). Used by the stack's
// loaders only; the tests compare the wide run kernel with the portable one.
//
// A kernel reads the rows of its taps through `rows`: rows[k] is the row of tap k (floor(y) - 2
// + k for Lanczos-3, floor(y) + k for bilinear), the frame's edge row where a tap lies beyond
// the frame. `offsets` are the float offsets of the tap columns in a row, clamped the same way.
// Source pixels are four floats (r, g, b, a), calibrated, NaN already read as 0.
#include "image/imagebuffer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace subpixel {

constexpr int kFloatsPerPixel = ImageBuffer::kFloatsPerPixel;
constexpr int kLanczosTaps = 6;
constexpr int kLanczosPhases = 1024;
// A position inside the frame has floor(y) >= -1, so a Lanczos tap reaches 3 rows above the
// frame at most, and 3 rows below its last row.
constexpr int kTapPad = 3;

// One pixel's four floats (r, g, b, a) as one value: an SSE vector where the build has one.
#if defined(__SSE2__)
struct Pixel {
    __m128 v;
};
inline Pixel load(const float *p)
{
    return {_mm_loadu_ps(p)};
}
inline Pixel splat(float f)
{
    return {_mm_set1_ps(f)};
}
inline Pixel operator+(Pixel a, Pixel b)
{
    return {_mm_add_ps(a.v, b.v)};
}
inline Pixel operator-(Pixel a, Pixel b)
{
    return {_mm_sub_ps(a.v, b.v)};
}
inline Pixel operator*(Pixel a, Pixel b)
{
    return {_mm_mul_ps(a.v, b.v)};
}
inline Pixel lower(Pixel a, Pixel b)
{
    return {_mm_min_ps(a.v, b.v)};
}
inline Pixel higher(Pixel a, Pixel b)
{
    return {_mm_max_ps(a.v, b.v)};
}
template <int lane> inline Pixel broadcast(Pixel a)
{
    return {_mm_shuffle_ps(a.v, a.v, _MM_SHUFFLE(lane, lane, lane, lane))};
}
inline Pixel nanAsZero(Pixel a)
{
    return {_mm_and_ps(a.v, _mm_cmpord_ps(a.v, a.v))};
}
inline bool hasNaN(Pixel a)
{
    return _mm_movemask_ps(_mm_cmpunord_ps(a.v, a.v)) != 0;
}
// r, g and b of the same bits.
inline bool sameColours(Pixel a)
{
    const __m128i bits = _mm_castps_si128(a.v);
    const __m128i red = _mm_shuffle_epi32(bits, _MM_SHUFFLE(0, 0, 0, 0));
    return (_mm_movemask_epi8(_mm_cmpeq_epi32(bits, red)) & 0x0fff) == 0x0fff;
}
inline void store(float *p, Pixel a)
{
    _mm_storeu_ps(p, a.v);
}
// The colours with alpha 1.0, written past the cache when asked (out 16-byte aligned): the band
// is far larger than the caches and is read only by the combining later.
inline void writeOpaque(float *out, Pixel a, bool stream)
{
    const __m128 colours = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
    const __m128 v = _mm_or_ps(_mm_and_ps(a.v, colours), _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f));
    if (stream)
        _mm_stream_ps(out, v);
    else
        _mm_storeu_ps(out, v);
}
inline void endWrites()
{
    _mm_sfence();
}
#else
struct Pixel {
    float v[4];
};
inline Pixel load(const float *p)
{
    return {{p[0], p[1], p[2], p[3]}};
}
inline Pixel splat(float f)
{
    return {{f, f, f, f}};
}
template <typename Op> inline Pixel each(Pixel a, Pixel b, Op op)
{
    return {{op(a.v[0], b.v[0]), op(a.v[1], b.v[1]), op(a.v[2], b.v[2]), op(a.v[3], b.v[3])}};
}
inline Pixel operator+(Pixel a, Pixel b)
{
    return each(a, b, [](float p, float q) { return p + q; });
}
inline Pixel operator-(Pixel a, Pixel b)
{
    return each(a, b, [](float p, float q) { return p - q; });
}
inline Pixel operator*(Pixel a, Pixel b)
{
    return each(a, b, [](float p, float q) { return p * q; });
}
inline Pixel lower(Pixel a, Pixel b)
{
    return each(a, b, [](float p, float q) { return p < q ? p : q; });
}
inline Pixel higher(Pixel a, Pixel b)
{
    return each(a, b, [](float p, float q) { return p > q ? p : q; });
}
template <int lane> inline Pixel broadcast(Pixel a)
{
    return splat(a.v[lane]);
}
inline Pixel nanAsZero(Pixel a)
{
    return each(a, a, [](float p, float) { return std::isnan(p) ? 0.0f : p; });
}
inline bool hasNaN(Pixel a)
{
    return std::isnan(a.v[0]) || std::isnan(a.v[1]) || std::isnan(a.v[2]) || std::isnan(a.v[3]);
}
inline bool sameColours(Pixel a)
{
    return std::memcmp(&a.v[0], &a.v[1], sizeof(float)) == 0 && std::memcmp(&a.v[0], &a.v[2], sizeof(float)) == 0;
}
inline void store(float *p, Pixel a)
{
    for (int c = 0; c < 4; ++c)
        p[c] = a.v[c];
}
inline void writeOpaque(float *out, Pixel a, bool)
{
    out[0] = a.v[0];
    out[1] = a.v[1];
    out[2] = a.v[2];
    out[3] = 1.0f;
}
inline void endWrites() {}
#endif

// Per phase p (fraction p / kLanczosPhases) the six normalised weights and two zeros, so that a
// phase is one 32-byte row.
struct LanczosTable {
    alignas(32) float weights[kLanczosPhases + 1][8];
};
const LanczosTable &lanczosTable();

// The table row below the fraction t (0 <= t <= 1) and how far t lies toward the next one.
inline int lanczosPhase(float t, float &toNext)
{
    const float phase = t * static_cast<float>(kLanczosPhases);
    const int below = std::min(static_cast<int>(phase), kLanczosPhases - 1);
    toNext = phase - static_cast<float>(below);
    return below;
}

// Weights of taps 0 .. 3 and 4 .. 5 (lanes 0 and 1 of the second), interpolated between phases.
struct TapWeights {
    Pixel first;
    Pixel last;
};
inline TapWeights lanczosWeights(const LanczosTable &table, int below, float toNext)
{
    const Pixel fraction = splat(toNext);
    const float *a = table.weights[below];
    const float *b = table.weights[below + 1];
    const Pixel a0 = load(a);
    const Pixel a1 = load(a + 4);
    return {a0 + fraction * (load(b) - a0), a1 + fraction * (load(b + 4) - a1)};
}

// The whole-number part toward minus infinity of a position above -1 (and far below INT_MAX).
inline int floorAboveMinusOne(float value)
{
    const int truncated = static_cast<int>(value);
    return value < static_cast<float>(truncated) ? truncated - 1 : truncated;
}

// The float offsets of the columns x0 + first .. x0 + first + count - 1 of a row, each clamped
// to the frame's columns 0 .. width - 1.
inline void tapColumns(int x0, int first, int count, int width, int *offsets)
{
    for (int m = 0; m < count; ++m)
        offsets[m] = std::min(std::max(x0 + first + m, 0), width - 1) * kFloatsPerPixel;
}

// A value clamped per colour to the range of the four nearest source pixels. The weights sum
// to 1 only up to rounding, and Lanczos-3 rings at a step: this keeps a flat sky exactly flat
// and leaves no dark ring or overshoot around a saturated star.
inline Pixel withinNearest(Pixel value, Pixel n00, Pixel n01, Pixel n10, Pixel n11)
{
    return lower(higher(value, lower(lower(n00, n01), lower(n10, n11))), higher(higher(n00, n01), higher(n10, n11)));
}

// The weighted sum of one row's six taps; taps 2 and 3 (the two nearest) come back as well.
inline Pixel lanczosRow(const float *row, const int *offsets, const Pixel *weights, Pixel &near0, Pixel &near1)
{
    near0 = load(row + offsets[2]);
    near1 = load(row + offsets[3]);
    const Pixel outer = load(row + offsets[0]) * weights[0] + load(row + offsets[1]) * weights[1];
    const Pixel inner = near0 * weights[2] + near1 * weights[3];
    const Pixel far = load(row + offsets[4]) * weights[4] + load(row + offsets[5]) * weights[5];
    return (outer + inner) + far;
}

// Lanczos-3 at the phases of a sample (lanczosPhase of its fractions), six rows and six offsets.
inline Pixel lanczosPixel(const LanczosTable &table, const float *const *rows, const int *offsets, int phaseX,
                          float toNextX, int phaseY, float toNextY)
{
    const TapWeights wx = lanczosWeights(table, phaseX, toNextX);
    const TapWeights wy = lanczosWeights(table, phaseY, toNextY);
    const Pixel across[kLanczosTaps] = {broadcast<0>(wx.first), broadcast<1>(wx.first), broadcast<2>(wx.first),
                                        broadcast<3>(wx.first), broadcast<0>(wx.last),  broadcast<1>(wx.last)};
    Pixel n00, n01, n10, n11, outer0, outer1;
    const Pixel r0 = lanczosRow(rows[0], offsets, across, outer0, outer1);
    const Pixel r1 = lanczosRow(rows[1], offsets, across, outer0, outer1);
    const Pixel r2 = lanczosRow(rows[2], offsets, across, n00, n01);
    const Pixel r3 = lanczosRow(rows[3], offsets, across, n10, n11);
    const Pixel r4 = lanczosRow(rows[4], offsets, across, outer0, outer1);
    const Pixel r5 = lanczosRow(rows[5], offsets, across, outer0, outer1);
    const Pixel sum = (r0 * broadcast<0>(wy.first) + r1 * broadcast<1>(wy.first))
                      + (r2 * broadcast<2>(wy.first) + r3 * broadcast<3>(wy.first))
                      + (r4 * broadcast<0>(wy.last) + r5 * broadcast<1>(wy.last));
    return withinNearest(sum, n00, n01, n10, n11);
}

// Bilinear at fractions (tx, ty), two rows and two offsets.
inline Pixel bilinearPixel(const float *const *rows, const int *offsets, float tx, float ty)
{
    const Pixel n00 = load(rows[0] + offsets[0]);
    const Pixel n01 = load(rows[0] + offsets[1]);
    const Pixel n10 = load(rows[1] + offsets[0]);
    const Pixel n11 = load(rows[1] + offsets[1]);
    const Pixel right = splat(tx);
    const Pixel left = splat(1.0f - tx);
    const Pixel sum = (n00 * left + n01 * right) * splat(1.0f - ty) + (n10 * left + n11 * right) * splat(ty);
    return withinNearest(sum, n00, n01, n10, n11);
}

// The exact source positions of one row of output pixels, split as the kernels use them:
// floor(x) and floor(y), and for each fraction the Lanczos table row below it and how far it
// lies toward the next (lanczosPhase).
struct RowSamples {
    std::vector<float> x;
    std::vector<float> y;
    std::vector<int> column;
    std::vector<int> row;
    std::vector<int> phaseX;
    std::vector<int> phaseY;
    std::vector<float> toNextX;
    std::vector<float> toNextY;
    void resize(std::size_t width)
    {
        for (auto *v : {&x, &y, &toNextX, &toNextY})
            v->resize(width);
        for (auto *v : {&column, &row, &phaseX, &phaseY})
            v->resize(width);
    }
};

// Pixels first .. first + count - 1 of a row, all inside the frame and with all six tap
// columns in it (2 <= floor(x) <= width - 4); rows may still reach past the frame through
// tapRows.
struct LanczosRun {
    const RowSamples *samples = nullptr;
    int first = 0;
    int count = 0;
    const float *const *tapRows = nullptr; // tapRows[r + kTapPad]: the row a tap at frame row r reads
    // The same rows as grey values (SourceRowTable::greyRows), for lanczosRunGreyWide.
    const float *const *greyTapRows = nullptr;
    float *out = nullptr;                  // the output pixel of sample `first`
    bool stream = false;                   // write past the cache (out 16-byte aligned)
};
using LanczosRunKernel = void (*)(const LanczosRun &run);

// Pixel by pixel with lanczosPixel.
void lanczosRunPortable(const LanczosRun &run);
// Two taps per vector and fused multiply-adds; only on processors with AVX2 and FMA. Equals the
// portable kernel up to rounding (a few units in the last place).
void lanczosRunWide(const LanczosRun &run);
// The wide kernel on grey rows (greyTapRows): one float per tap instead of four, with the
// same bits as lanczosRunWide on the rows they were taken from. Only with AVX2 and FMA.
void lanczosRunGreyWide(const LanczosRun &run);
// The wide kernel where the processor has it, else the portable one.
LanczosRunKernel fastestLanczosRun();

} // namespace subpixel
