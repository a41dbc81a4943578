#include "bandcalibration.h"

#include "framenormalization.h"

#include "image/imagebuffer.h"
#include "registeredgeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kFloatsPerPixel = ImageBuffer::kFloatsPerPixel;

inline float colour(float value)
{
    return std::isnan(value) ? 0.0f : value;
}

// The master's row `y`, or null when the row lies outside it (it then reads as zero).
const float *masterRow(const ImageBuffer *master, int y)
{
    if (!master || !master->hasPixels() || y < 0 || y >= master->height)
        return nullptr;
    return master->pixel(0, y);
}

// One pixel's colours through the masters, in the calibration's order. The pointers address
// the masters' pixels at the same frame position: null for a master not given, zeroPixel()
// where a given master ends.
inline void calibratePixel(float *rgb, const float *bias, const float *dark, const float *darkFlat,
                           const float *flat, bool flatGiven)
{
    for (int c = 0; c < 3; ++c) {
        float v = rgb[c];
        if (bias)
            v = colour(v) - colour(bias[c]);
        if (dark)
            v = colour(v) - colour(dark[c]);
        if (darkFlat)
            v = colour(v) - colour(darkFlat[c]);
        if (flatGiven) {
            const float q = colour(v) / (flat ? colour(flat[c]) : 0.0f);
            v = std::isinf(q) ? 1.0f : q;
        }
        rgb[c] = v;
    }
}

// A master given but not reaching this pixel still counts: it reads as zero there.
inline const float *zeroPixel()
{
    static const float zeros[kFloatsPerPixel] = {0.0f, 0.0f, 0.0f, 0.0f};
    return zeros;
}

inline const float *at(const float *row, const ImageBuffer *master, int x)
{
    if (!master)
        return nullptr;
    if (!row || x < 0 || x >= master->width)
        return zeroPixel();
    return row + static_cast<std::ptrdiff_t>(x) * kFloatsPerPixel;
}

#if defined(__SSE2__)
inline __m128 colours(__m128 v)
{
    // NaN reads as 0.
    return _mm_and_ps(v, _mm_cmpord_ps(v, v));
}
#endif

// Whether a given master covers the whole row (then its pixels can be read without checks).
inline bool covers(const ImageBuffer *master, const float *row, int width)
{
    return !master || (row && master->width >= width);
}

} // namespace

void calibrateBand(ImageBuffer &band, int firstRow, const BandMasters &masters)
{
    if (!masters.any() || !band.hasPixels())
        return;
    for (int y = 0; y < band.height; ++y) {
        const int frameRow = firstRow + y;
        const float *biasRow = masterRow(masters.bias, frameRow);
        const float *darkRow = masterRow(masters.dark, frameRow);
        const float *darkFlatRow = masterRow(masters.darkFlat, frameRow);
        const float *flatRow = masterRow(masters.flat, frameRow);
        float *p = band.pixel(0, y);
#if defined(__SSE2__)
        // Masters of the frame's size: one pixel is one vector, the same operations per colour.
        if (covers(masters.bias, biasRow, band.width) && covers(masters.dark, darkRow, band.width)
            && covers(masters.darkFlat, darkFlatRow, band.width) && covers(masters.flat, flatRow, band.width)) {
            const __m128 one = _mm_set1_ps(1.0f);
            const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
            const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff));
            const __m128 rgb = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
            const __m128 opaque = _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f);
            const std::ptrdiff_t floats = static_cast<std::ptrdiff_t>(band.width) * kFloatsPerPixel;
            for (std::ptrdiff_t i = 0; i < floats; i += kFloatsPerPixel) {
                __m128 v = _mm_loadu_ps(p + i);
                if (biasRow)
                    v = _mm_sub_ps(colours(v), colours(_mm_loadu_ps(biasRow + i)));
                if (darkRow)
                    v = _mm_sub_ps(colours(v), colours(_mm_loadu_ps(darkRow + i)));
                if (darkFlatRow)
                    v = _mm_sub_ps(colours(v), colours(_mm_loadu_ps(darkFlatRow + i)));
                if (flatRow) {
                    const __m128 q = _mm_div_ps(colours(v), colours(_mm_loadu_ps(flatRow + i)));
                    const __m128 infinite = _mm_cmpeq_ps(_mm_and_ps(q, magnitude), infinity);
                    v = _mm_or_ps(_mm_and_ps(infinite, one), _mm_andnot_ps(infinite, q));
                }
                _mm_storeu_ps(p + i, _mm_or_ps(_mm_and_ps(v, rgb), opaque));
            }
            continue;
        }
#endif
        for (int x = 0; x < band.width; ++x, p += kFloatsPerPixel) {
            calibratePixel(p, at(biasRow, masters.bias, x), at(darkRow, masters.dark, x),
                           at(darkFlatRow, masters.darkFlat, x), at(flatRow, masters.flat, x), masters.flat != nullptr);
            p[3] = 1.0f;
        }
    }
}

std::unique_ptr<ImageBuffer> fitBand(std::unique_ptr<ImageBuffer> band, int width, int rows)
{
    if (band && band->width == width && band->height == rows)
        return band;
    auto fitted = std::make_unique<ImageBuffer>(width, rows);
    if (!band)
        return fitted;
    fitted->whiteLevel = band->whiteLevel;
    fitted->blackLevel = band->blackLevel;
    fitted->channels = band->channels;
    const int sharedWidth = std::min(width, band->width);
    const int sharedRows = std::min(rows, band->height);
    for (int y = 0; y < sharedRows && sharedWidth > 0; ++y)
        std::memcpy(fitted->pixel(0, y), band->pixel(0, y),
                    static_cast<std::size_t>(sharedWidth) * ImageBuffer::kBytesPerPixel);
    return fitted;
}

namespace {

// The source position of every output column of one row: columns[u], rows[u] = the truncated
// inverse transform of (leftColumn + u, Y), or -1 where the position lies left of or above
// the frame by a pixel or more (or too far away to be any pixel). Four columns at a time where
// the build has vectors, with the same operations in the same order as one at a time.
void sourcePositions(const FrameRotation &rotation, float leftColumn, float Y, int width, int *columns, int *rows)
{
    // Positions beyond this cannot be any frame's pixel and are kept clear of int conversion.
    constexpr float kFarOutside = 1.0e9f;
    const float dy = Y - rotation.ty - rotation.cy;
    const float sineDy = rotation.sine * dy;
    const float cosineDy = rotation.cosine * dy;
    int u = 0;
#if defined(__SSE2__)
    const __m128 cosine = _mm_set1_ps(rotation.cosine);
    const __m128 sine = _mm_set1_ps(rotation.sine);
    const __m128 tx = _mm_set1_ps(rotation.tx);
    const __m128 cx = _mm_set1_ps(rotation.cx);
    const __m128 cy = _mm_set1_ps(rotation.cy);
    const __m128 vSineDy = _mm_set1_ps(sineDy);
    const __m128 vCosineDy = _mm_set1_ps(cosineDy);
    const __m128 minusOne = _mm_set1_ps(-1.0f);
    const __m128 far = _mm_set1_ps(kFarOutside);
    const __m128i outside = _mm_set1_epi32(-1);
    for (; u + 4 <= width; u += 4) {
        const __m128 X = _mm_add_ps(_mm_set1_ps(leftColumn),
                                    _mm_cvtepi32_ps(_mm_setr_epi32(u, u + 1, u + 2, u + 3)));
        const __m128 dx = _mm_sub_ps(_mm_sub_ps(X, tx), cx);
        const __m128 x = _mm_add_ps(_mm_sub_ps(_mm_mul_ps(cosine, dx), vSineDy), cx);
        const __m128 y = _mm_add_ps(_mm_add_ps(_mm_mul_ps(sine, dx), vCosineDy), cy);
        const __m128 representable = _mm_and_ps(_mm_and_ps(_mm_cmpgt_ps(x, minusOne), _mm_cmpgt_ps(y, minusOne)),
                                                _mm_and_ps(_mm_cmplt_ps(x, far), _mm_cmplt_ps(y, far)));
        const __m128i keep = _mm_castps_si128(representable);
        const __m128i sx = _mm_or_si128(_mm_and_si128(keep, _mm_cvttps_epi32(x)), _mm_andnot_si128(keep, outside));
        const __m128i sy = _mm_or_si128(_mm_and_si128(keep, _mm_cvttps_epi32(y)), _mm_andnot_si128(keep, outside));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(columns + u), sx);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rows + u), sy);
    }
#endif
    for (; u < width; ++u) {
        const float X = leftColumn + static_cast<float>(u);
        const float dx = X - rotation.tx - rotation.cx;
        const float x = rotation.cosine * dx - sineDy + rotation.cx;
        const float y = rotation.sine * dx + cosineDy + rotation.cy;
        // Truncation toward zero: a position just left of or above the frame (-1 < x < 0)
        // still reads column or row 0.
        const bool representable = x > -1.0f && y > -1.0f && x < kFarOutside && y < kFarOutside;
        columns[u] = representable ? static_cast<int>(x) : -1;
        rows[u] = representable ? static_cast<int>(y) : -1;
    }
}

} // namespace

bool resampleRows(const SourceRowTable &source, ImageBuffer &band, int firstBandRow, int rowCount, int first,
                  const FrameRotation &rotation, const OutputBounds &bounds, const BandMasters &masters,
                  const std::atomic<bool> *abort)
{
    const int sourceWidth = source.width;
    // Output column u stands for the whole reference column u + trunc(minX).
    const float leftColumn = std::trunc(bounds.minX);
#if defined(__SSE2__)
    const bool streamable = band.hasPixels() && reinterpret_cast<std::uintptr_t>(band.data.get()) % 16 == 0;
#endif
    std::vector<int> columns(static_cast<std::size_t>(std::max(band.width, 0)));
    std::vector<int> rows(columns.size());
    const int endRow = std::min(firstBandRow + rowCount, band.height);
    for (int j = std::max(firstBandRow, 0); j < endRow; ++j) {
        if (abort && abort->load(std::memory_order_relaxed))
            return false;
        sourcePositions(rotation, leftColumn, static_cast<float>(first + j) + bounds.minY, band.width,
                        columns.data(), rows.data());
        float *out = band.pixel(0, j);
#if defined(__SSE2__)
        if (streamable && !masters.any()) {
            // Without masters a pixel is the source's colours, NaN read as 0, with alpha 1.0.
            const __m128 colours = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
            const __m128 opaque = _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f);
            // Along an output row the source row changes only every few dozen pixels.
            int rowNumber = -1;
            const float *row = nullptr;
            for (int u = 0; u < band.width; ++u, out += kFloatsPerPixel) {
                const int sx = columns[static_cast<std::size_t>(u)];
                const int sy = rows[static_cast<std::size_t>(u)];
                if (sy != rowNumber) {
                    rowNumber = sy;
                    row = source.row(sy);
                }
                __m128 pixel = opaque;
                if (row && static_cast<unsigned>(sx) < static_cast<unsigned>(sourceWidth)) {
                    const __m128 v = _mm_loadu_ps(row + static_cast<std::ptrdiff_t>(sx) * kFloatsPerPixel);
                    pixel = _mm_or_ps(_mm_and_ps(_mm_and_ps(v, _mm_cmpord_ps(v, v)), colours), opaque);
                }
                _mm_stream_ps(out, pixel);
            }
            continue;
        }
#endif
        for (int u = 0; u < band.width; ++u, out += kFloatsPerPixel) {
            const int sx = columns[static_cast<std::size_t>(u)];
            const int sy = rows[static_cast<std::size_t>(u)];
            float rgb[3] = {0.0f, 0.0f, 0.0f};
            const float *row = source.row(sy);
            if (row && sx >= 0 && sx < sourceWidth) {
                const float *p = row + static_cast<std::ptrdiff_t>(sx) * kFloatsPerPixel;
                rgb[0] = colour(p[0]);
                rgb[1] = colour(p[1]);
                rgb[2] = colour(p[2]);
            }
            if (masters.any())
                calibratePixel(rgb, at(masterRow(masters.bias, sy), masters.bias, sx),
                               at(masterRow(masters.dark, sy), masters.dark, sx), nullptr,
                               at(masterRow(masters.flat, sy), masters.flat, sx), masters.flat != nullptr);
#if defined(__SSE2__)
            // The band is far larger than the caches and is read only by the combining later:
            // writing it past the cache saves reading every line in first.
            if (streamable) {
                _mm_stream_ps(out, _mm_setr_ps(rgb[0], rgb[1], rgb[2], 1.0f));
                continue;
            }
#endif
            out[0] = rgb[0];
            out[1] = rgb[1];
            out[2] = rgb[2];
            out[3] = 1.0f;
        }
    }
#if defined(__SSE2__)
    _mm_sfence();
#endif
    return true;
}

void calibrateSample(float rgb[3], const BandMasters &masters, int x, int y)
{
    calibratePixel(rgb, at(masterRow(masters.bias, y), masters.bias, x), at(masterRow(masters.dark, y), masters.dark, x),
                   nullptr, at(masterRow(masters.flat, y), masters.flat, x), masters.flat != nullptr);
}

namespace {

// The columns u (as doubles) where a + b u lies strictly between low and high.
void narrowToOpenRange(double a, double b, double low, double high, double &from, double &to)
{
    if (std::abs(b) < 1e-12) {
        if (!(a > low && a < high))
            to = from - 1.0;
        return;
    }
    double first = (low - a) / b;
    double last = (high - a) / b;
    if (first > last)
        std::swap(first, last);
    from = std::max(from, first);
    to = std::min(to, last);
}

} // namespace

void finishRegisteredRows(const SourceRowTable &source, ImageBuffer &band, int firstBandRow, int rowCount, int first,
                          const FrameRotation &rotation, const OutputBounds &bounds,
                          const NormalizationFactors &factors, bool excludeOutside)
{
    const bool normalize = !factors.identity();
    const float leftColumn = std::trunc(bounds.minX);
    // A pixel is inside when its truncated source position is a column and a held row: the
    // positions are affine along a row, so that is one run of columns. It is found in double
    // precision and only the few columns at either end of it are tested pixel by pixel, as
    // resampleRows computes them.
    constexpr int kEdge = 3;
    const int width = band.width;
    std::vector<int> columns(2 * kEdge);
    std::vector<int> rows(columns.size());
    const auto inside = [&](int u, float Y) {
        sourcePositions(rotation, leftColumn + static_cast<float>(u), Y, 1, columns.data(), rows.data());
        return source.row(rows[0]) && columns[0] >= 0 && columns[0] < source.width;
    };
    const double cosine = rotation.cosine;
    const double sine = rotation.sine;
    const int endRow = std::min(firstBandRow + rowCount, band.height);
    for (int j = std::max(firstBandRow, 0); j < endRow; ++j) {
        const float Y = static_cast<float>(first + j) + bounds.minY;
        const double dy = static_cast<double>(Y) - rotation.ty - rotation.cy;
        const double dx0 = static_cast<double>(leftColumn) - rotation.tx - rotation.cx;
        double from = -1.0;
        double to = width + 1.0;
        // x = cos (dx0 + u) - sin dy + cx and y = sin (dx0 + u) + cos dy + cy.
        narrowToOpenRange(cosine * dx0 - sine * dy + rotation.cx, cosine, -1.0, source.width, from, to);
        narrowToOpenRange(sine * dx0 + cosine * dy + rotation.cy, sine, -1.0,
                          static_cast<double>(source.rows.size()), from, to);
        int runStart = width;
        int runEnd = width;
        if (to >= from) {
            const int lo = static_cast<int>(std::clamp(std::floor(from), -1.0, static_cast<double>(width)));
            const int hi = static_cast<int>(std::clamp(std::ceil(to), -1.0, static_cast<double>(width)));
            // Settle the ends pixel by pixel around the computed bounds.
            runStart = std::max(lo - kEdge, 0);
            while (runStart < std::min(lo + kEdge, width) && !inside(runStart, Y))
                ++runStart;
            runEnd = std::min(hi + kEdge, width);
            while (runEnd > std::max(hi - kEdge, runStart) && !inside(runEnd - 1, Y))
                --runEnd;
            if (runStart >= std::min(lo + kEdge, width) && !inside(std::min(runStart, width - 1), Y))
                runStart = runEnd = width; // nothing of this row is inside
        }
        float *row = band.pixel(0, j);
        if (excludeOutside) {
            std::fill(row, row + static_cast<std::ptrdiff_t>(runStart) * kFloatsPerPixel, 0.0f);
            std::fill(row + static_cast<std::ptrdiff_t>(runEnd) * kFloatsPerPixel,
                      row + static_cast<std::ptrdiff_t>(width) * kFloatsPerPixel, 0.0f);
        }
        if (!normalize)
            continue;
        const float scale[4] = {factors.scale[0], factors.scale[1], factors.scale[2], 1.0f};
        const float offset[4] = {factors.offset[0], factors.offset[1], factors.offset[2], 0.0f};
        for (std::ptrdiff_t f = static_cast<std::ptrdiff_t>(runStart) * kFloatsPerPixel;
             f < static_cast<std::ptrdiff_t>(runEnd) * kFloatsPerPixel; f += kFloatsPerPixel)
            for (int c = 0; c < 4; ++c)
                row[f + c] = row[f + c] * scale[c] + offset[c];
    }
}
