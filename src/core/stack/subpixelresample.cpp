#include "subpixelresample.h"

#include "bandcalibration.h"
#include "image/imagebuffer.h"
#include "registeredgeometry.h"
#include "sourcewindow.h"
#include "subpixelkernels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define VERDANIX_POSITIONS_WIDE 1
#endif

using namespace subpixel;

namespace {

// Positions beyond this cannot be any frame's pixel and are kept clear of int conversion (the
// bound Nearest uses, so that both modes find the same pixels inside the frame).
constexpr float kFarOutside = 1.0e9f;
// Floats after the last grey row, so that a vector load starting in it stays in memory.
constexpr std::size_t kGreyPadding = 8;

// Where an output pixel's kernel lies.
enum PixelPlace : int { kOutside = 0, kNearEdge = 1, kWholeKernel = 2 };

// The rows a band is interpolated from: the table, and the run of held rows firstHeld ..
// lastHeld (every row of it held when `contiguous`; -1 when none is).
struct HeldRows {
    const SourceRowTable *table = nullptr;
    int firstHeld = -1;
    int lastHeld = -1;
    bool contiguous = false;
};

// rowPositions one pixel at a time, from column u on.
void positionsFrom(int u, const FrameRotation &rotation, float leftColumn, float sineDy, float cosineDy, int width,
                   const HeldRows &held, RowSamples &samples, int *places)
{
    const int sourceWidth = held.table->width;
    for (; u < width; ++u) {
        const std::size_t at = static_cast<std::size_t>(u);
        const float dx = leftColumn + static_cast<float>(u) - rotation.tx - rotation.cx;
        const float x = rotation.cosine * dx - sineDy + rotation.cx;
        const float y = rotation.sine * dx + cosineDy + rotation.cy;
        samples.x[at] = x;
        samples.y[at] = y;
        const bool representable = x > -1.0f && y > -1.0f && x < kFarOutside && y < kFarOutside;
        if (!representable || static_cast<int>(x) >= sourceWidth || !held.table->row(static_cast<int>(y))) {
            places[u] = kOutside;
            continue;
        }
        const int x0 = floorAboveMinusOne(x);
        const int y0 = floorAboveMinusOne(y);
        samples.column[at] = x0;
        samples.row[at] = y0;
        samples.phaseX[at] = lanczosPhase(x - static_cast<float>(x0), samples.toNextX[at]);
        samples.phaseY[at] = lanczosPhase(y - static_cast<float>(y0), samples.toNextY[at]);
        places[u] = x0 >= 2 && x0 + 3 < sourceWidth ? kWholeKernel : kNearEdge;
    }
}

// The exact source position of every output pixel of one row (split as RowSamples) and its
// place: outside the frame (Nearest reads no source pixel there), near its edge, or with all
// six Lanczos tap columns in it. The positions take the operations of Nearest in the same
// order, so that both modes find the same pixels inside the frame. Four pixels at a time where
// the build has vectors (eight in rowPositionsWide), with the same results as one at a time.
void rowPositions(const FrameRotation &rotation, float leftColumn, float Y, int width, const HeldRows &held,
                  RowSamples &samples, int *places)
{
    const float dy = Y - rotation.ty - rotation.cy;
    const float sineDy = rotation.sine * dy;
    const float cosineDy = rotation.cosine * dy;
    int u = 0;
#if defined(__SSE2__)
    if (held.contiguous) {
        const int sourceWidth = held.table->width;
        const __m128 cosine = _mm_set1_ps(rotation.cosine);
        const __m128 sine = _mm_set1_ps(rotation.sine);
        const __m128 tx = _mm_set1_ps(rotation.tx);
        const __m128 cx = _mm_set1_ps(rotation.cx);
        const __m128 cy = _mm_set1_ps(rotation.cy);
        const __m128 vSineDy = _mm_set1_ps(sineDy);
        const __m128 vCosineDy = _mm_set1_ps(cosineDy);
        const __m128 minusOne = _mm_set1_ps(-1.0f);
        const __m128 far = _mm_set1_ps(kFarOutside);
        const __m128 phases = _mm_set1_ps(static_cast<float>(kLanczosPhases));
        const __m128i lastPhase = _mm_set1_epi32(kLanczosPhases - 1);
        const __m128i columnsEnd = _mm_set1_epi32(sourceWidth);
        const __m128i rowBefore = _mm_set1_epi32(held.firstHeld - 1);
        const __m128i rowAfter = _mm_set1_epi32(held.lastHeld + 1);
        const __m128i kernelLeft = _mm_set1_epi32(1);                // floor(x) - 2 >= 0
        const __m128i kernelRight = _mm_set1_epi32(sourceWidth - 3); // floor(x) + 3 < width
        const __m128i one = _mm_set1_epi32(1);
        // floor(v) of a position above -1: one less than the truncation where v lies below it.
        const auto floorOf = [](__m128 v, __m128i truncated) {
            return _mm_add_epi32(truncated, _mm_castps_si128(_mm_cmplt_ps(v, _mm_cvtepi32_ps(truncated))));
        };
        // lanczosPhase of the fraction v - floor(v).
        const auto phaseOf = [&](__m128 v, __m128i floor, float *toNext, int *phase) {
            const __m128 scaled = _mm_mul_ps(_mm_sub_ps(v, _mm_cvtepi32_ps(floor)), phases);
            const __m128i truncated = _mm_cvttps_epi32(scaled);
            const __m128i tooHigh = _mm_cmpgt_epi32(truncated, lastPhase);
            const __m128i below =
                _mm_or_si128(_mm_and_si128(tooHigh, lastPhase), _mm_andnot_si128(tooHigh, truncated));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(phase), below);
            _mm_storeu_ps(toNext, _mm_sub_ps(scaled, _mm_cvtepi32_ps(below)));
        };
        for (; u + 4 <= width; u += 4) {
            const __m128 X = _mm_add_ps(_mm_set1_ps(leftColumn),
                                        _mm_cvtepi32_ps(_mm_setr_epi32(u, u + 1, u + 2, u + 3)));
            const __m128 dx = _mm_sub_ps(_mm_sub_ps(X, tx), cx);
            const __m128 x = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(cosine, dx), vSineDy), cx);
            const __m128 y = _mm_add_ps(_mm_add_ps(_mm_mul_ps(sine, dx), vCosineDy), cy);
            const __m128i representable = _mm_castps_si128(
                _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(x, minusOne), _mm_cmpgt_ps(y, minusOne)),
                           _mm_and_ps(_mm_cmplt_ps(x, far), _mm_cmplt_ps(y, far))));
            // Out-of-range conversions give INT_MIN, only where `representable` is false.
            const __m128i sx = _mm_cvttps_epi32(x);
            const __m128i sy = _mm_cvttps_epi32(y);
            const __m128i inside =
                _mm_and_si128(_mm_and_si128(representable, _mm_cmplt_epi32(sx, columnsEnd)),
                              _mm_and_si128(_mm_cmpgt_epi32(sy, rowBefore), _mm_cmplt_epi32(sy, rowAfter)));
            const __m128i x0 = floorOf(x, sx);
            const __m128i y0 = floorOf(y, sy);
            const __m128i whole = _mm_and_si128(
                inside, _mm_and_si128(_mm_cmpgt_epi32(x0, kernelLeft), _mm_cmplt_epi32(x0, kernelRight)));
            const std::size_t at = static_cast<std::size_t>(u);
            _mm_storeu_ps(samples.x.data() + at, x);
            _mm_storeu_ps(samples.y.data() + at, y);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(samples.column.data() + at), x0);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(samples.row.data() + at), y0);
            phaseOf(x, x0, samples.toNextX.data() + at, samples.phaseX.data() + at);
            phaseOf(y, y0, samples.toNextY.data() + at, samples.phaseY.data() + at);
            _mm_storeu_si128(reinterpret_cast<__m128i *>(places + u),
                             _mm_add_epi32(_mm_and_si128(inside, one), _mm_and_si128(whole, one)));
        }
    }
#endif
    positionsFrom(u, rotation, leftColumn, sineDy, cosineDy, width, held, samples, places);
}

#if defined(VERDANIX_POSITIONS_WIDE)
// rowPositions eight pixels at a time, with AVX2 but without fused multiply-adds: the same
// operations, the same bits.
__attribute__((target("avx2"))) void rowPositionsWide(const FrameRotation &rotation, float leftColumn, float Y,
                                                      int width, const HeldRows &held, RowSamples &samples,
                                                      int *places)
{
    const int sourceWidth = held.table->width;
    const float dy = Y - rotation.ty - rotation.cy;
    const float sineDy = rotation.sine * dy;
    const float cosineDy = rotation.cosine * dy;
    const __m256 cosine = _mm256_set1_ps(rotation.cosine);
    const __m256 sine = _mm256_set1_ps(rotation.sine);
    const __m256 tx = _mm256_set1_ps(rotation.tx);
    const __m256 cx = _mm256_set1_ps(rotation.cx);
    const __m256 cy = _mm256_set1_ps(rotation.cy);
    const __m256 vSineDy = _mm256_set1_ps(sineDy);
    const __m256 vCosineDy = _mm256_set1_ps(cosineDy);
    const __m256 minusOne = _mm256_set1_ps(-1.0f);
    const __m256 far = _mm256_set1_ps(kFarOutside);
    const __m256 phases = _mm256_set1_ps(static_cast<float>(kLanczosPhases));
    const __m256i lastPhase = _mm256_set1_epi32(kLanczosPhases - 1);
    const __m256i columnsEnd = _mm256_set1_epi32(sourceWidth);
    const __m256i rowBefore = _mm256_set1_epi32(held.firstHeld - 1);
    const __m256i rowAfter = _mm256_set1_epi32(held.lastHeld + 1);
    const __m256i kernelLeft = _mm256_set1_epi32(1);
    const __m256i kernelRight = _mm256_set1_epi32(sourceWidth - 3);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i steps = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    int u = 0;
    for (; u + 8 <= width; u += 8) {
        const __m256 X = _mm256_add_ps(_mm256_set1_ps(leftColumn),
                                       _mm256_cvtepi32_ps(_mm256_add_epi32(_mm256_set1_epi32(u), steps)));
        const __m256 dx = _mm256_sub_ps(_mm256_sub_ps(X, tx), cx);
        const __m256 x = _mm256_add_ps(_mm256_sub_ps(_mm256_mul_ps(cosine, dx), vSineDy), cx);
        const __m256 y = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(sine, dx), vCosineDy), cy);
        const __m256i representable = _mm256_castps_si256(_mm256_and_ps(
            _mm256_and_ps(_mm256_cmp_ps(x, minusOne, _CMP_GT_OQ), _mm256_cmp_ps(y, minusOne, _CMP_GT_OQ)),
            _mm256_and_ps(_mm256_cmp_ps(x, far, _CMP_LT_OQ), _mm256_cmp_ps(y, far, _CMP_LT_OQ))));
        const __m256i sx = _mm256_cvttps_epi32(x);
        const __m256i sy = _mm256_cvttps_epi32(y);
        const __m256i inside = _mm256_and_si256(
            _mm256_and_si256(representable, _mm256_cmpgt_epi32(columnsEnd, sx)),
            _mm256_and_si256(_mm256_cmpgt_epi32(sy, rowBefore), _mm256_cmpgt_epi32(rowAfter, sy)));
        const __m256i x0 =
            _mm256_add_epi32(sx, _mm256_castps_si256(_mm256_cmp_ps(x, _mm256_cvtepi32_ps(sx), _CMP_LT_OQ)));
        const __m256i y0 =
            _mm256_add_epi32(sy, _mm256_castps_si256(_mm256_cmp_ps(y, _mm256_cvtepi32_ps(sy), _CMP_LT_OQ)));
        const __m256i whole = _mm256_and_si256(
            inside, _mm256_and_si256(_mm256_cmpgt_epi32(x0, kernelLeft), _mm256_cmpgt_epi32(kernelRight, x0)));
        const std::size_t at = static_cast<std::size_t>(u);
        _mm256_storeu_ps(samples.x.data() + at, x);
        _mm256_storeu_ps(samples.y.data() + at, y);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples.column.data() + at), x0);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples.row.data() + at), y0);
        const __m256 scaledX = _mm256_mul_ps(_mm256_sub_ps(x, _mm256_cvtepi32_ps(x0)), phases);
        const __m256 scaledY = _mm256_mul_ps(_mm256_sub_ps(y, _mm256_cvtepi32_ps(y0)), phases);
        const __m256i belowX = _mm256_min_epi32(_mm256_cvttps_epi32(scaledX), lastPhase);
        const __m256i belowY = _mm256_min_epi32(_mm256_cvttps_epi32(scaledY), lastPhase);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples.phaseX.data() + at), belowX);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(samples.phaseY.data() + at), belowY);
        _mm256_storeu_ps(samples.toNextX.data() + at, _mm256_sub_ps(scaledX, _mm256_cvtepi32_ps(belowX)));
        _mm256_storeu_ps(samples.toNextY.data() + at, _mm256_sub_ps(scaledY, _mm256_cvtepi32_ps(belowY)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(places + u),
                            _mm256_add_epi32(_mm256_and_si256(inside, one), _mm256_and_si256(whole, one)));
    }
    positionsFrom(u, rotation, leftColumn, sineDy, cosineDy, width, held, samples, places);
}
#endif

} // namespace

bool interpolationKeepsGreyRows(StackInterpolation interpolation)
{
    return interpolation == StackInterpolation::Lanczos3 && fastestLanczosRun() == &lanczosRunWide;
}

int interpolationMargin(StackInterpolation interpolation)
{
    switch (interpolation) {
    case StackInterpolation::Bilinear: return 1;
    case StackInterpolation::Lanczos3: return 3;
    case StackInterpolation::Nearest: break;
    }
    return 0;
}

void lanczos3Weights(float t, float weights[6])
{
    float lanes[8];
    float toNext = 0.0f;
    const int below = lanczosPhase(std::min(std::max(t, 0.0f), 1.0f), toNext);
    const TapWeights w = lanczosWeights(lanczosTable(), below, toNext);
    store(lanes, w.first);
    store(lanes + 4, w.last);
    std::copy(lanes, lanes + kLanczosTaps, weights);
}

std::unique_ptr<float[]> prepareInterpolationRows(ImageBuffer &rows, int firstRow, const BandMasters &masters,
                                                  bool keepGrey)
{
    // The masters a registered Nearest sample meets: the dark flat takes no part.
    calibrateBand(rows, firstRow, BandMasters{masters.bias, masters.dark, masters.flat, nullptr});
    const std::size_t pixels = static_cast<std::size_t>(rows.floatCount / kFloatsPerPixel);
    std::unique_ptr<float[]> grey(keepGrey ? new float[pixels + kGreyPadding] : nullptr);
    float *p = rows.data.get();
    // One pass: NaN (rare) is written over only where it turns up; the grey copy lasts while
    // every pixel's colours have the same bits.
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= pixels; i += 4, p += 4 * kFloatsPerPixel) {
        __m128 v0 = _mm_loadu_ps(p);
        __m128 v1 = _mm_loadu_ps(p + 4);
        __m128 v2 = _mm_loadu_ps(p + 8);
        __m128 v3 = _mm_loadu_ps(p + 12);
        const __m128 nan = _mm_or_ps(_mm_or_ps(_mm_cmpunord_ps(v0, v0), _mm_cmpunord_ps(v1, v1)),
                                     _mm_or_ps(_mm_cmpunord_ps(v2, v2), _mm_cmpunord_ps(v3, v3)));
        if (_mm_movemask_ps(nan)) {
            for (int k = 0; k < 4; ++k)
                store(p + k * kFloatsPerPixel, nanAsZero(load(p + k * kFloatsPerPixel)));
            v0 = _mm_loadu_ps(p);
            v1 = _mm_loadu_ps(p + 4);
            v2 = _mm_loadu_ps(p + 8);
            v3 = _mm_loadu_ps(p + 12);
        }
        if (!grey)
            continue;
        const auto equal = [](__m128 v) {
            const __m128i bits = _mm_castps_si128(v);
            return _mm_cmpeq_epi32(bits, _mm_shuffle_epi32(bits, _MM_SHUFFLE(0, 0, 0, 0)));
        };
        const __m128i same = _mm_and_si128(_mm_and_si128(equal(v0), equal(v1)), _mm_and_si128(equal(v2), equal(v3)));
        if ((_mm_movemask_epi8(same) & 0x0fff) != 0x0fff) {
            grey.reset();
            continue;
        }
        // (r0, r1, g0, g1) and (r2, r3, g2, g3) give the four reds.
        _mm_storeu_ps(grey.get() + i, _mm_movelh_ps(_mm_unpacklo_ps(v0, v1), _mm_unpacklo_ps(v2, v3)));
    }
#endif
    for (; i < pixels; ++i, p += kFloatsPerPixel) {
        Pixel v = load(p);
        if (hasNaN(v)) {
            v = nanAsZero(v);
            store(p, v);
        }
        if (grey) {
            if (!sameColours(v)) {
                grey.reset();
                continue;
            }
            grey[i] = p[0];
        }
    }
    if (grey)
        std::fill(grey.get() + pixels, grey.get() + pixels + kGreyPadding, 0.0f);
    return grey;
}

bool resampleRowsInterpolated(const SourceRowTable &calibrated, ImageBuffer &band, int firstBandRow, int rowCount,
                              int first, const FrameRotation &rotation, const OutputBounds &bounds,
                              const BandMasters &masters, StackInterpolation interpolation,
                              const std::atomic<bool> *abort)
{
    const int sourceWidth = calibrated.width;
    const int frameRows = static_cast<int>(calibrated.rows.size());
    const bool lanczos = interpolation == StackInterpolation::Lanczos3;
    const LanczosTable &table = lanczosTable();
    LanczosRunKernel lanczosRun = fastestLanczosRun();

    // The rows a tap at row r reads: tapRows[r + kTapPad] is the held row nearest r. The window
    // holds one run of rows reaching the frame's edge wherever a kernel can reach past it, so
    // this is the frame's edge row replicated there.
    HeldRows held;
    held.table = &calibrated;
    int heldCount = 0;
    for (int y = 0; y < frameRows; ++y) {
        if (calibrated.rows[static_cast<std::size_t>(y)]) {
            held.firstHeld = held.firstHeld < 0 ? y : held.firstHeld;
            held.lastHeld = y;
            ++heldCount;
        }
    }
    held.contiguous = heldCount > 0 && heldCount == held.lastHeld - held.firstHeld + 1;
    std::vector<const float *> tapRows(static_cast<std::size_t>(frameRows + 2 * kTapPad), nullptr);
    if (heldCount > 0) {
        const float *heldRow = calibrated.rows[static_cast<std::size_t>(held.firstHeld)];
        for (int r = -kTapPad; r < frameRows + kTapPad; ++r) {
            const int y = std::min(std::max(r, held.firstHeld), held.lastHeld);
            if (calibrated.rows[static_cast<std::size_t>(y)])
                heldRow = calibrated.rows[static_cast<std::size_t>(y)];
            tapRows[static_cast<std::size_t>(r + kTapPad)] = heldRow;
        }
    }
    // Where every held row has its grey values, the grey kernel gives the same bits faster.
    std::vector<const float *> greyTapRows;
    if (lanczos && lanczosRun == &lanczosRunWide && held.contiguous
        && calibrated.greyRows.size() == calibrated.rows.size()
        && std::all_of(calibrated.greyRows.begin() + held.firstHeld, calibrated.greyRows.begin() + held.lastHeld + 1,
                       [](const float *row) { return row != nullptr; })) {
        greyTapRows.resize(tapRows.size());
        for (int r = -kTapPad; r < frameRows + kTapPad; ++r) {
            const int y = std::min(std::max(r, held.firstHeld), held.lastHeld);
            greyTapRows[static_cast<std::size_t>(r + kTapPad)] = calibrated.greyRows[static_cast<std::size_t>(y)];
        }
        lanczosRun = &lanczosRunGreyWide;
    }

    // Output column u stands for the whole reference column u + trunc(minX).
    const float leftColumn = std::trunc(bounds.minX);
#if defined(__SSE2__)
    const bool stream = band.hasPixels() && reinterpret_cast<std::uintptr_t>(band.data.get()) % 16 == 0;
#else
    const bool stream = false;
#endif
    auto positions = &rowPositions;
#if defined(VERDANIX_POSITIONS_WIDE)
    // The wide Lanczos kernel needs AVX2 too.
    if (held.contiguous && fastestLanczosRun() == &lanczosRunWide)
        positions = &rowPositionsWide;
#endif
    RowSamples samples;
    samples.resize(static_cast<std::size_t>(std::max(band.width, 0)));
    std::vector<int> places(samples.x.size());
    const int endRow = std::min(firstBandRow + rowCount, band.height);
    for (int j = std::max(firstBandRow, 0); j < endRow; ++j) {
        if (abort && abort->load(std::memory_order_relaxed))
            return false;
        positions(rotation, leftColumn, static_cast<float>(first + j) + bounds.minY, band.width, held, samples,
                  places.data());
        float *row = band.pixel(0, j);
        for (int u = 0; u < band.width;) {
            const std::size_t at = static_cast<std::size_t>(u);
            float *out = row + static_cast<std::ptrdiff_t>(u) * kFloatsPerPixel;
            if (places[at] == kOutside) {
                // Outside the frame: the value Nearest gives there.
                const float x = samples.x[at];
                const float y = samples.y[at];
                const bool representable = x > -1.0f && y > -1.0f && x < kFarOutside && y < kFarOutside;
                float rgba[4] = {0.0f, 0.0f, 0.0f, 1.0f};
                if (masters.any())
                    calibrateSample(rgba, masters, representable ? static_cast<int>(x) : -1,
                                    representable ? static_cast<int>(y) : -1);
                writeOpaque(out, load(rgba), stream);
                ++u;
                continue;
            }
            if (lanczos && places[at] == kWholeKernel) {
                // Most of a row: a stretch of pixels whose tap columns lie wholly in the frame.
                int end = u + 1;
                while (end < band.width && places[static_cast<std::size_t>(end)] == kWholeKernel)
                    ++end;
                LanczosRun run;
                run.samples = &samples;
                run.first = u;
                run.count = end - u;
                run.tapRows = tapRows.data();
                run.greyTapRows = greyTapRows.data();
                run.out = out;
                run.stream = stream;
                lanczosRun(run);
                u = end;
                continue;
            }
            // Taps beyond the frame's edge read its edge pixels.
            const int x0 = samples.column[at];
            const int y0 = samples.row[at];
            if (lanczos) {
                int offsets[kLanczosTaps];
                tapColumns(x0, -2, kLanczosTaps, sourceWidth, offsets);
                writeOpaque(out,
                            lanczosPixel(table, tapRows.data() + (y0 - 2 + kTapPad), offsets, samples.phaseX[at],
                                         samples.toNextX[at], samples.phaseY[at], samples.toNextY[at]),
                            stream);
            } else {
                int offsets[2];
                tapColumns(x0, 0, 2, sourceWidth, offsets);
                const float tx = samples.x[at] - static_cast<float>(x0);
                const float ty = samples.y[at] - static_cast<float>(y0);
                writeOpaque(out, bilinearPixel(tapRows.data() + (y0 + kTapPad), offsets, tx, ty), stream);
            }
            ++u;
        }
    }
    endWrites();
    return true;
}
