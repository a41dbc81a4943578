#include "subpixelkernels.h"

#include <cstddef>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define VERDANIX_LANCZOS_WIDE 1
#endif

namespace subpixel {

namespace {

double lanczos3(double distance)
{
    constexpr double kPi = 3.14159265358979323846;
    // |d| so that the weights at d and -d have the same bits: a half-pixel shift stays symmetric.
    const double d = std::fabs(distance);
    if (d == 0.0)
        return 1.0;
    if (d >= 3.0)
        return 0.0;
    return 3.0 * std::sin(kPi * d) * std::sin(kPi * d / 3.0) / (kPi * kPi * d * d);
}

LanczosTable makeLanczosTable()
{
    LanczosTable table{};
    for (int p = 0; p <= kLanczosPhases; ++p) {
        const double t = static_cast<double>(p) / kLanczosPhases;
        double weights[kLanczosTaps];
        double sum = 0.0;
        for (int k = 0; k < kLanczosTaps; ++k) {
            weights[k] = lanczos3(t - (k - 2));
            sum += weights[k];
        }
        // Normalised, so that a flat source stays flat.
        for (int k = 0; k < kLanczosTaps; ++k)
            table.weights[p][k] = static_cast<float>(weights[k] / sum);
    }
    return table;
}

} // namespace

const LanczosTable &lanczosTable()
{
    static const LanczosTable table = makeLanczosTable();
    return table;
}

void lanczosRunPortable(const LanczosRun &run)
{
    const LanczosTable &table = lanczosTable();
    const RowSamples &s = *run.samples;
    for (int i = 0; i < run.count; ++i) {
        const std::size_t at = static_cast<std::size_t>(run.first + i);
        int offsets[kLanczosTaps];
        for (int m = 0; m < kLanczosTaps; ++m)
            offsets[m] = (s.column[at] - 2 + m) * kFloatsPerPixel;
        const Pixel value = lanczosPixel(table, run.tapRows + (s.row[at] - 2 + kTapPad), offsets, s.phaseX[at],
                                         s.toNextX[at], s.phaseY[at], s.toNextY[at]);
        writeOpaque(run.out + static_cast<std::ptrdiff_t>(i) * kFloatsPerPixel, value, run.stream);
    }
}

#if defined(VERDANIX_LANCZOS_WIDE)

namespace {

// Two neighbouring tap columns (8 floats from `at` in each row) summed over the six rows, in two
// halves so that no chain of dependent multiply-adds is longer than three.
__attribute__((target("avx2,fma"), always_inline)) inline __m256
columnPair(const float *p0, const float *p1, const float *p2, const float *p3, const float *p4, const float *p5,
           int at, __m256 w0, __m256 w1, __m256 w2, __m256 w3, __m256 w4, __m256 w5)
{
    const __m256 upper = _mm256_fmadd_ps(
        _mm256_loadu_ps(p2 + at), w2,
        _mm256_fmadd_ps(_mm256_loadu_ps(p1 + at), w1, _mm256_mul_ps(_mm256_loadu_ps(p0 + at), w0)));
    const __m256 lower = _mm256_fmadd_ps(
        _mm256_loadu_ps(p5 + at), w5,
        _mm256_fmadd_ps(_mm256_loadu_ps(p4 + at), w4, _mm256_mul_ps(_mm256_loadu_ps(p3 + at), w3)));
    return _mm256_add_ps(upper, lower);
}

} // namespace

// The six taps of a row are 24 consecutive floats: three vectors of two pixels each. The rows
// are summed first (each vector times the row's weight), then the three column pairs.
__attribute__((target("avx2,fma"))) void lanczosRunWide(const LanczosRun &run)
{
    const LanczosTable &table = lanczosTable();
    const __m256i pair0 = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
    const __m256i pair1 = _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3);
    const __m256i pair2 = _mm256_setr_epi32(4, 4, 4, 4, 5, 5, 5, 5);
    const __m128 colours = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
    const __m128 opaque = _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f);
    alignas(32) float rowWeights[8];
    // Locals: the output stores cannot change them.
    const float *const *tapRows = run.tapRows;
    const int *columnAt = run.samples->column.data() + run.first;
    const int *rowAt = run.samples->row.data() + run.first;
    const int *phaseX = run.samples->phaseX.data() + run.first;
    const int *phaseY = run.samples->phaseY.data() + run.first;
    const float *toNextX = run.samples->toNextX.data() + run.first;
    const float *toNextY = run.samples->toNextY.data() + run.first;
    const bool stream = run.stream;
    float *out = run.out;
    for (int i = 0; i < run.count; ++i, out += kFloatsPerPixel) {
        const int x0 = columnAt[i];
        const int y0 = rowAt[i];
        const float *ax = table.weights[phaseX[i]];
        const float *ay = table.weights[phaseY[i]];
        const __m256 ax8 = _mm256_load_ps(ax);
        const __m256 ay8 = _mm256_load_ps(ay);
        const __m256 wx = _mm256_fmadd_ps(_mm256_set1_ps(toNextX[i]), _mm256_sub_ps(_mm256_load_ps(ax + 8), ax8), ax8);
        _mm256_store_ps(rowWeights,
                        _mm256_fmadd_ps(_mm256_set1_ps(toNextY[i]), _mm256_sub_ps(_mm256_load_ps(ay + 8), ay8), ay8));

        const float *const *rows = tapRows + (y0 - 2 + kTapPad);
        const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(x0 - 2) * kFloatsPerPixel;
        const float *p0 = rows[0] + offset;
        const float *p1 = rows[1] + offset;
        const float *p2 = rows[2] + offset;
        const float *p3 = rows[3] + offset;
        const float *p4 = rows[4] + offset;
        const float *p5 = rows[5] + offset;
        const __m256 w0 = _mm256_broadcast_ss(rowWeights + 0);
        const __m256 w1 = _mm256_broadcast_ss(rowWeights + 1);
        const __m256 w2 = _mm256_broadcast_ss(rowWeights + 2);
        const __m256 w3 = _mm256_broadcast_ss(rowWeights + 3);
        const __m256 w4 = _mm256_broadcast_ss(rowWeights + 4);
        const __m256 w5 = _mm256_broadcast_ss(rowWeights + 5);
        const __m256 columns0 = columnPair(p0, p1, p2, p3, p4, p5, 0, w0, w1, w2, w3, w4, w5);
        const __m256 columns1 = columnPair(p0, p1, p2, p3, p4, p5, 2 * kFloatsPerPixel, w0, w1, w2, w3, w4, w5);
        const __m256 columns2 = columnPair(p0, p1, p2, p3, p4, p5, 4 * kFloatsPerPixel, w0, w1, w2, w3, w4, w5);
        // Taps 2 and 3 of rows 2 and 3: the four nearest pixels.
        const __m256 near0 = _mm256_loadu_ps(p2 + 2 * kFloatsPerPixel);
        const __m256 near1 = _mm256_loadu_ps(p3 + 2 * kFloatsPerPixel);
        const __m256 sum = _mm256_fmadd_ps(
            columns2, _mm256_permutevar8x32_ps(wx, pair2),
            _mm256_fmadd_ps(columns1, _mm256_permutevar8x32_ps(wx, pair1),
                            _mm256_mul_ps(columns0, _mm256_permutevar8x32_ps(wx, pair0))));
        const __m128 value = _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
        const __m256 least2 = _mm256_min_ps(near0, near1);
        const __m256 most2 = _mm256_max_ps(near0, near1);
        const __m128 least = _mm_min_ps(_mm256_castps256_ps128(least2), _mm256_extractf128_ps(least2, 1));
        const __m128 most = _mm_max_ps(_mm256_castps256_ps128(most2), _mm256_extractf128_ps(most2, 1));
        const __m128 clamped = _mm_min_ps(_mm_max_ps(value, least), most);
        const __m128 pixel = _mm_or_ps(_mm_and_ps(clamped, colours), opaque);
        if (stream)
            _mm_stream_ps(out, pixel);
        else
            _mm_storeu_ps(out, pixel);
    }
}

// Per tap column the same operations as lanczosRunWide, on eight grey columns at once (taps
// 0 .. 5 and two beyond, which take no part); the three pairs of tap columns are then summed in
// lanczosRunWide's order: the even taps in lane 0, the odd ones in lane 1.
__attribute__((target("avx2,fma"))) void lanczosRunGreyWide(const LanczosRun &run)
{
    const LanczosTable &table = lanczosTable();
    const __m128 opaque = _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f);
    alignas(32) float rowWeights[8];
    const float *const *tapRows = run.greyTapRows;
    const int *columnAt = run.samples->column.data() + run.first;
    const int *rowAt = run.samples->row.data() + run.first;
    const int *phaseX = run.samples->phaseX.data() + run.first;
    const int *phaseY = run.samples->phaseY.data() + run.first;
    const float *toNextX = run.samples->toNextX.data() + run.first;
    const float *toNextY = run.samples->toNextY.data() + run.first;
    const bool stream = run.stream;
    float *out = run.out;
    for (int i = 0; i < run.count; ++i, out += kFloatsPerPixel) {
        const int x0 = columnAt[i];
        const float *ax = table.weights[phaseX[i]];
        const float *ay = table.weights[phaseY[i]];
        const __m256 ax8 = _mm256_load_ps(ax);
        const __m256 ay8 = _mm256_load_ps(ay);
        const __m256 wx = _mm256_fmadd_ps(_mm256_set1_ps(toNextX[i]), _mm256_sub_ps(_mm256_load_ps(ax + 8), ax8), ax8);
        _mm256_store_ps(rowWeights,
                        _mm256_fmadd_ps(_mm256_set1_ps(toNextY[i]), _mm256_sub_ps(_mm256_load_ps(ay + 8), ay8), ay8));
        const float *const *rows = tapRows + (rowAt[i] - 2 + kTapPad);
        const std::ptrdiff_t offset = x0 - 2;
        const float *p2 = rows[2] + offset;
        const float *p3 = rows[3] + offset;
        const __m256 columns =
            columnPair(rows[0] + offset, rows[1] + offset, p2, p3, rows[4] + offset, rows[5] + offset, 0,
                       _mm256_broadcast_ss(rowWeights + 0), _mm256_broadcast_ss(rowWeights + 1),
                       _mm256_broadcast_ss(rowWeights + 2), _mm256_broadcast_ss(rowWeights + 3),
                       _mm256_broadcast_ss(rowWeights + 4), _mm256_broadcast_ss(rowWeights + 5));
        const __m128 low = _mm256_castps256_ps128(columns);
        const __m128 lowWeights = _mm256_castps256_ps128(wx);
        // Lanes 0 and 1: taps 0 and 1, then + taps 2 and 3, then + taps 4 and 5.
        __m128 chains = _mm_mul_ps(low, lowWeights);
        chains = _mm_fmadd_ps(_mm_movehl_ps(low, low), _mm_movehl_ps(lowWeights, lowWeights), chains);
        chains = _mm_fmadd_ps(_mm256_extractf128_ps(columns, 1), _mm256_extractf128_ps(wx, 1), chains);
        const __m128 value = _mm_add_ss(chains, _mm_shuffle_ps(chains, chains, _MM_SHUFFLE(1, 1, 1, 1)));
        // The four nearest pixels in lanczosRunWide's order of comparison: (n00, n01) against
        // (n10, n11), then the two lanes.
        const __m128 upper = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p2 + 2)));
        const __m128 lower = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(p3 + 2)));
        const __m128 least2 = _mm_min_ps(upper, lower);
        const __m128 most2 = _mm_max_ps(upper, lower);
        const __m128 least = _mm_min_ss(least2, _mm_movehdup_ps(least2));
        const __m128 most = _mm_max_ss(most2, _mm_movehdup_ps(most2));
        const __m128 clamped = _mm_min_ss(_mm_max_ss(value, least), most);
        const __m128 pixel = _mm_blend_ps(_mm_shuffle_ps(clamped, clamped, 0), opaque, 0x8);
        if (stream)
            _mm_stream_ps(out, pixel);
        else
            _mm_storeu_ps(out, pixel);
    }
}

LanczosRunKernel fastestLanczosRun()
{
    static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return wide ? lanczosRunWide : lanczosRunPortable;
}

#else

void lanczosRunWide(const LanczosRun &run)
{
    lanczosRunPortable(run);
}

void lanczosRunGreyWide(const LanczosRun &run)
{
    lanczosRunPortable(run);
}

LanczosRunKernel fastestLanczosRun()
{
    return lanczosRunPortable;
}

#endif

} // namespace subpixel
