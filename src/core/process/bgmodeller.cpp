#include "bgmodeller.h"

#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "platform/machine.h"
#include "platform/workdriver.h"


#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

// The row kernel must repeat the scalar evaluation bit for bit, so no multiply-add may be
// fused. GCC keeps contraction off in ISO C++ mode (the build's -std=c++17); Clang needs
// telling.
#ifdef __clang__
#pragma STDC FP_CONTRACT OFF
#endif

namespace {

// First guess of the fast inverse square root: this constant minus half the bit pattern of
// the argument gives about 3.4 % accuracy, one Newton step about 0.2 %.
constexpr std::int32_t kInverseSqrtMagic = 0x5F3759DF;

// The marker samples as plain arrays; a view, so that the lists and the generation's work
// arrays share one evaluation.
struct ModelView {
    const int *x = nullptr;
    const int *y = nullptr;
    const float *r = nullptr;
    const float *g = nullptr;
    const float *b = nullptr;
    int count = 0;
    int offset = 0;
    double exponent = kFastRootExponent;
    int lanes = 0; // pixels per group of the fast-root kernel; 0: the widest available

    bool fastRoot() const { return exponent == kFastRootExponent; }
};

struct NearestPair {
    int index = -1;
    std::int64_t nearestSq = 0;
    std::int64_t secondSq = 0;
};

std::int64_t squaredDistance(const ModelView &m, int i, int x, int y)
{
    const std::int64_t dx = static_cast<std::int64_t>(x) - m.x[i];
    const std::int64_t dy = static_cast<std::int64_t>(y) - m.y[i];
    return dx * dx + dy * dy;
}

// Two passes over the markers instead of a scratch array of distances: the second pass needs
// the final nearest distance, and recomputing is cheaper than memory every thread would need.
NearestPair nearestPair(const ModelView &m, int x, int y)
{
    NearestPair pair;
    if (m.count <= 0)
        return pair;
    pair.index = 0;
    pair.nearestSq = squaredDistance(m, 0, x, y);
    for (int i = 1; i < m.count; ++i) {
        const std::int64_t d = squaredDistance(m, i, x, y);
        if (d < pair.nearestSq) {
            pair.nearestSq = d;
            pair.index = i;
        }
    }
    if (m.count == 1) {
        pair.secondSq = pair.nearestSq;
        return pair;
    }
    // The starting candidate may itself equal nearestSq (two markers at the same distance);
    // then it stays, and the automatic offset is that distance's half.
    pair.secondSq = squaredDistance(m, pair.index == 0 ? 1 : 0, x, y);
    for (int i = 0; i < m.count; ++i) {
        const std::int64_t d = squaredDistance(m, i, x, y);
        if (d < pair.secondSq && d > pair.nearestSq)
            pair.secondSq = d;
    }
    return pair;
}

std::int64_t offsetAt(const ModelView &m, int x, int y)
{
    if (m.offset != kAutomaticOffset)
        return m.offset;
    const NearestPair pair = nearestPair(m, x, y);
    return (pair.nearestSq + pair.secondSq) / 4;
}

// sqrt(x) as x * (1 / sqrt(x)) with the classic bit-pattern guess and one Newton step. Its
// error (about 0.2 %) is part of the model's look at the default exponent and it is several
// times faster than the power function, so it stays exactly so; sqrt(0) gives 0.
float fastSquareRoot(float x)
{
    std::int32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    bits = kInverseSqrtMagic - (bits >> 1);
    float y0;
    std::memcpy(&y0, &bits, sizeof y0);
    const float half = 0.5f * x;
    const float y1 = y0 * (1.5f - half * y0 * y0);
    return x * y1;
}

float finiteOrZero(float v)
{
    return std::isfinite(v) ? v : 0.0f;
}

// Turns the weight sums of one pixel into its value. s1/a1: smooth weights and weighted
// colours; s2/a2: plain ones.
ModelValue finishPixel(float s1, const float a1[3], float s2, const float a2[3])
{
    ModelValue v;
    v.smooth = FloatRGB{finiteOrZero(a1[0] / s1), finiteOrZero(a1[1] / s1), finiteOrZero(a1[2] / s1), 0.0f};
    v.plain = FloatRGB{finiteOrZero(a2[0] / s2), finiteOrZero(a2[1] / s2), finiteOrZero(a2[2] / s2), 0.0f};
    // The ratio is a float quotient kept in double; on a marker the plain weight is infinite.
    v.ratio = s2 / s1;
    if (!std::isfinite(v.ratio))
        v.ratio = std::isfinite(s1) ? s1 : 0.0;
    return v;
}

// One pixel, one marker at a time. The precision of each step is deliberate and shared with
// the row kernel below: smooth weights and their sums in float (w1 rounded to float even from
// the double power function); plain weights in double, their sums kept in float.
ModelValue evaluatePixel(const ModelView &m, int x, int y)
{
    const float d = static_cast<float>(offsetAt(m, x, y));
    const bool fast = m.fastRoot();
    float s1 = 0.0f;
    float a1[3] = {0.0f, 0.0f, 0.0f};
    float s2 = 0.0f;
    float a2[3] = {0.0f, 0.0f, 0.0f};
    for (int i = 0; i < m.count; ++i) {
        const float dx = static_cast<float>(x - m.x[i]);
        const float dy = static_cast<float>(y - m.y[i]);
        const float distSq = dx * dx + dy * dy;
        float w1;
        double w2;
        if (fast) {
            w1 = fastSquareRoot(d + distSq);
            w2 = fastSquareRoot(distSq);
        } else {
            w1 = static_cast<float>(std::pow(static_cast<double>(d + distSq), m.exponent));
            w2 = std::pow(static_cast<double>(distSq), m.exponent);
        }
        const float i1 = 1.0f / w1;
        s1 += i1;
        a1[0] += i1 * m.r[i];
        a1[1] += i1 * m.g[i];
        a1[2] += i1 * m.b[i];
        const double i2 = 1.0 / w2;
        s2 = static_cast<float>(s2 + i2);
        a2[0] = static_cast<float>(a2[0] + i2 * m.r[i]);
        a2[1] = static_cast<float>(a2[1] + i2 * m.g[i]);
        a2[2] = static_cast<float>(a2[2] + i2 * m.b[i]);
    }
    return finishPixel(s1, a1, s2, a2);
}

// The fast-root evaluation of several neighbouring pixels at once, one per lane, each lane
// doing exactly the operations of evaluatePixel in the same order (no reassociation, no fused
// multiply-add), so every lane's result is bit for bit the scalar one. Four lanes with GCC's
// vector extensions (SSE2 on every x86-64, NEON elsewhere); eight with AVX2 intrinsics where
// the processor has them. The plain sums live in double lanes but are rounded through float
// after every addition, which is what a float sum with a double addend does.
typedef float Floats4 __attribute__((vector_size(16)));
typedef std::int32_t Ints4 __attribute__((vector_size(16)));
typedef double Doubles2 __attribute__((vector_size(16)));
typedef float Floats2 __attribute__((vector_size(8)));
constexpr int kMaxLanes = 8;

Floats4 fastSquareRoot4(Floats4 x)
{
    const Ints4 bits = kInverseSqrtMagic - (__builtin_bit_cast(Ints4, x) >> 1);
    const Floats4 y0 = __builtin_bit_cast(Floats4, bits);
    const Floats4 half = 0.5f * x;
    const Floats4 y1 = y0 * (1.5f - half * y0 * y0);
    return x * y1;
}

Doubles2 roundedToFloat(Doubles2 v)
{
    return __builtin_convertvector(__builtin_convertvector(v, Floats2), Doubles2);
}

void evaluateFastGroup4(const ModelView &m, int x0, int y, ModelValue *out)
{
    const Ints4 xs = {x0, x0 + 1, x0 + 2, x0 + 3};
    Floats4 d;
    for (int lane = 0; lane < 4; ++lane)
        d[lane] = static_cast<float>(offsetAt(m, x0 + lane, y));

    Floats4 s1 = {}, a1r = {}, a1g = {}, a1b = {};
    Doubles2 s2lo = {}, s2hi = {}, a2rlo = {}, a2rhi = {}, a2glo = {}, a2ghi = {}, a2blo = {}, a2bhi = {};
    for (int i = 0; i < m.count; ++i) {
        const Floats4 dx = __builtin_convertvector(xs - m.x[i], Floats4);
        const float dy = static_cast<float>(y - m.y[i]);
        const Floats4 distSq = dx * dx + dy * dy;
        const Floats4 w1 = fastSquareRoot4(d + distSq);
        const Floats4 w2 = fastSquareRoot4(distSq);

        const Floats4 i1 = 1.0f / w1;
        s1 += i1;
        a1r += i1 * m.r[i];
        a1g += i1 * m.g[i];
        a1b += i1 * m.b[i];

        const Doubles2 i2lo = 1.0 / Doubles2{w2[0], w2[1]};
        const Doubles2 i2hi = 1.0 / Doubles2{w2[2], w2[3]};
        const double r = m.r[i];
        const double g = m.g[i];
        const double b = m.b[i];
        s2lo = roundedToFloat(s2lo + i2lo);
        s2hi = roundedToFloat(s2hi + i2hi);
        a2rlo = roundedToFloat(a2rlo + i2lo * r);
        a2rhi = roundedToFloat(a2rhi + i2hi * r);
        a2glo = roundedToFloat(a2glo + i2lo * g);
        a2ghi = roundedToFloat(a2ghi + i2hi * g);
        a2blo = roundedToFloat(a2blo + i2lo * b);
        a2bhi = roundedToFloat(a2bhi + i2hi * b);
    }
    for (int lane = 0; lane < 4; ++lane) {
        const bool high = lane >= 2;
        const int j = lane % 2;
        const float a1[3] = {a1r[lane], a1g[lane], a1b[lane]};
        const float s2 = static_cast<float>(high ? s2hi[j] : s2lo[j]);
        const float a2[3] = {static_cast<float>(high ? a2rhi[j] : a2rlo[j]),
                             static_cast<float>(high ? a2ghi[j] : a2glo[j]),
                             static_cast<float>(high ? a2bhi[j] : a2blo[j])};
        out[lane] = finishPixel(s1[lane], a1, s2, a2);
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VERDANIX_MODEL_AVX2 1
// Each AVX2 function carries the target attribute itself, which GCC and clang both honour
// (clang ignores GCC's target pragma); groupLanes calls them only where the processor has
// AVX2. AVX2 brings no fused multiply-add, so every lane still rounds as the scalar code does.
#define VERDANIX_AVX2 __attribute__((target("avx2")))

VERDANIX_AVX2 __m256 fastSquareRoot8(__m256 x)
{
    const __m256i bits =
        _mm256_sub_epi32(_mm256_set1_epi32(kInverseSqrtMagic), _mm256_srai_epi32(_mm256_castps_si256(x), 1));
    const __m256 y0 = _mm256_castsi256_ps(bits);
    const __m256 half = _mm256_mul_ps(_mm256_set1_ps(0.5f), x);
    const __m256 y1 =
        _mm256_mul_ps(y0, _mm256_sub_ps(_mm256_set1_ps(1.5f), _mm256_mul_ps(_mm256_mul_ps(half, y0), y0)));
    return _mm256_mul_ps(x, y1);
}

VERDANIX_AVX2 __m256d roundedToFloat(__m256d v)
{
    return _mm256_cvtps_pd(_mm256_cvtpd_ps(v));
}

// Stores eight double lanes, lo then hi, as floats.
VERDANIX_AVX2 void storePlain(float *lanes, __m256d lo, __m256d hi)
{
    _mm_store_ps(lanes, _mm256_cvtpd_ps(lo));
    _mm_store_ps(lanes + 4, _mm256_cvtpd_ps(hi));
}

VERDANIX_AVX2 void evaluateFastGroup8(const ModelView &m, int x0, int y, ModelValue *out)
{
    alignas(32) float offsets[8];
    for (int lane = 0; lane < 8; ++lane)
        offsets[lane] = static_cast<float>(offsetAt(m, x0 + lane, y));
    const __m256 d = _mm256_load_ps(offsets);
    const __m256i xs = _mm256_add_epi32(_mm256_set1_epi32(x0), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256d oneD = _mm256_set1_pd(1.0);

    __m256 s1 = _mm256_setzero_ps(), a1r = s1, a1g = s1, a1b = s1;
    __m256d s2lo = _mm256_setzero_pd(), s2hi = s2lo, a2rlo = s2lo, a2rhi = s2lo, a2glo = s2lo, a2ghi = s2lo,
            a2blo = s2lo, a2bhi = s2lo;
    // Markers go in chunks through two loops, the float sums first, then the double ones from
    // the plain weights kept in between: one loop holding all twelve accumulators would not
    // fit the sixteen vector registers. Each sum still takes the markers in order.
    constexpr int kChunk = 64;
    alignas(32) float plainWeights[kChunk][8];
    for (int first = 0; first < m.count; first += kChunk) {
        const int end = std::min(first + kChunk, m.count);
        for (int i = first; i < end; ++i) {
            const __m256 dx = _mm256_cvtepi32_ps(_mm256_sub_epi32(xs, _mm256_set1_epi32(m.x[i])));
            const float dy = static_cast<float>(y - m.y[i]);
            const __m256 distSq = _mm256_add_ps(_mm256_mul_ps(dx, dx), _mm256_set1_ps(dy * dy));
            const __m256 w1 = fastSquareRoot8(_mm256_add_ps(d, distSq));
            _mm256_store_ps(plainWeights[i - first], fastSquareRoot8(distSq));

            const __m256 i1 = _mm256_div_ps(one, w1);
            s1 = _mm256_add_ps(s1, i1);
            a1r = _mm256_add_ps(a1r, _mm256_mul_ps(i1, _mm256_set1_ps(m.r[i])));
            a1g = _mm256_add_ps(a1g, _mm256_mul_ps(i1, _mm256_set1_ps(m.g[i])));
            a1b = _mm256_add_ps(a1b, _mm256_mul_ps(i1, _mm256_set1_ps(m.b[i])));
        }
        for (int i = first; i < end; ++i) {
            const float *w2 = plainWeights[i - first];
            const __m256d i2lo = _mm256_div_pd(oneD, _mm256_cvtps_pd(_mm_load_ps(w2)));
            const __m256d i2hi = _mm256_div_pd(oneD, _mm256_cvtps_pd(_mm_load_ps(w2 + 4)));
            const __m256d r = _mm256_set1_pd(m.r[i]);
            const __m256d g = _mm256_set1_pd(m.g[i]);
            const __m256d b = _mm256_set1_pd(m.b[i]);
            s2lo = roundedToFloat(_mm256_add_pd(s2lo, i2lo));
            s2hi = roundedToFloat(_mm256_add_pd(s2hi, i2hi));
            a2rlo = roundedToFloat(_mm256_add_pd(a2rlo, _mm256_mul_pd(i2lo, r)));
            a2rhi = roundedToFloat(_mm256_add_pd(a2rhi, _mm256_mul_pd(i2hi, r)));
            a2glo = roundedToFloat(_mm256_add_pd(a2glo, _mm256_mul_pd(i2lo, g)));
            a2ghi = roundedToFloat(_mm256_add_pd(a2ghi, _mm256_mul_pd(i2hi, g)));
            a2blo = roundedToFloat(_mm256_add_pd(a2blo, _mm256_mul_pd(i2lo, b)));
            a2bhi = roundedToFloat(_mm256_add_pd(a2bhi, _mm256_mul_pd(i2hi, b)));
        }
    }
    alignas(32) float smooth[4][8];
    alignas(32) float plain[4][8];
    _mm256_store_ps(smooth[0], s1);
    _mm256_store_ps(smooth[1], a1r);
    _mm256_store_ps(smooth[2], a1g);
    _mm256_store_ps(smooth[3], a1b);
    storePlain(plain[0], s2lo, s2hi);
    storePlain(plain[1], a2rlo, a2rhi);
    storePlain(plain[2], a2glo, a2ghi);
    storePlain(plain[3], a2blo, a2bhi);
    for (int lane = 0; lane < 8; ++lane) {
        const float a1[3] = {smooth[1][lane], smooth[2][lane], smooth[3][lane]};
        const float a2[3] = {plain[1][lane], plain[2][lane], plain[3][lane]};
        out[lane] = finishPixel(smooth[0][lane], a1, plain[0][lane], a2);
    }
}

#undef VERDANIX_AVX2
#endif

// Pixels per group: 4 when asked for, otherwise the widest group the processor can evaluate.
int groupLanes(int requested)
{
#ifdef VERDANIX_MODEL_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (requested == 4)
        return 4;
    return avx2 ? 8 : 4;
#else
    (void)requested;
    return 4;
#endif
}

// Calls sink(x, value) for x = 0 .. width - 1 of row y, in order.
template <typename Sink>
void forEachRowValue(const ModelView &m, int y, int width, Sink &&sink)
{
    int x = 0;
    if (m.fastRoot()) {
        const int lanes = groupLanes(m.lanes);
        ModelValue group[kMaxLanes];
        for (; x < width; x += lanes) {
            // The last group may reach past the row; its extra lanes are computed and dropped.
#ifdef VERDANIX_MODEL_AVX2
            if (lanes == 8)
                evaluateFastGroup8(m, x, y, group);
            else
#endif
                evaluateFastGroup4(m, x, y, group);
            for (int lane = 0; lane < lanes && x + lane < width; ++lane)
                sink(x + lane, group[lane]);
        }
        return;
    }
    for (; x < width; ++x)
        sink(x, evaluatePixel(m, x, y));
}

// Each row's sums start from zero and are added up in row order afterwards, on every thread
// count alike, so the totals do not depend on which thread did which row.
struct RowSums {
    double ratio = 0.0;
    double plain[3] = {0.0, 0.0, 0.0};
    double smooth[3] = {0.0, 0.0, 0.0};

    void add(const RowSums &row)
    {
        ratio += row.ratio;
        for (int c = 0; c < 3; ++c) {
            plain[c] += row.plain[c];
            smooth[c] += row.smooth[c];
        }
    }
};

void generateRow(const ModelView &m, int y, ImageBuffer &output, RowSums &sums)
{
    float *p = output.pixel(0, y);
    forEachRowValue(m, y, output.width, [&](int x, const ModelValue &v) {
        float *px = p + static_cast<std::ptrdiff_t>(x) * ImageBuffer::kFloatsPerPixel;
        px[0] = v.smooth.r;
        px[1] = v.smooth.g;
        px[2] = v.smooth.b;
        px[3] = 1.0f;
        sums.ratio += v.ratio;
        sums.plain[0] += v.plain.r;
        sums.plain[1] += v.plain.g;
        sums.plain[2] += v.plain.b;
        sums.smooth[0] += v.smooth.r;
        sums.smooth[1] += v.smooth.g;
        sums.smooth[2] += v.smooth.b;
    });
}

// The progress bar's value when `rows` of `height` rows are done.
float progressPercent(int rows, int height)
{
    return static_cast<float>(std::trunc(rows * (100.0 / (height + 1.0))));
}

// Runs work(y) for every row 0 .. height - 1 on up to `threads` workers (the calling thread
// alone for one), while the calling thread processes its events and, when given a log, sets its
// progress from the rows done. work must not throw: everything it needs is allocated before.
template <typename RowWork>
void runRows(int height, int threads, MessageLog *progress, const RowWork &work)
{
    ParallelRunOptions options;
    options.threads = threads;
    float shown = -1.0f;
    if (progress)
        options.progress = [&](int rows) {
            const float percent = progressPercent(rows, height);
            if (percent != shown) {
                progress->setProgress(percent);
                shown = percent;
            }
        };
    runParallel(height, options, [&](int y) { work(y); });
}

float nanToZero(float v)
{
    return std::isnan(v) ? 0.0f : v;
}

// The model's buffer, not zeroed: the generation writes every float of it. Zeroing a large
// buffer on the calling thread costs as much as a tenth of the whole generation, nearly all
// of it the first touch of each fresh page; left to the row workers, that cost is shared
// among them. Throws AllocationFailure as the ImageBuffer constructor does.
std::unique_ptr<ImageBuffer> unfilledBuffer(int width, int height)
{
    const std::uint64_t bytes = ImageBuffer::bytesFor(width, height);
    if (bytes > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()))
        throw AllocationFailure(bytes);
    auto buffer = std::make_unique<ImageBuffer>(0, 0);
    const std::size_t floats = static_cast<std::size_t>(bytes / sizeof(float));
    buffer->data.reset(new (std::nothrow) float[floats]);
    if (!buffer->data)
        throw AllocationFailure(bytes);
    buffer->width = width;
    buffer->height = height;
    buffer->floatCount = static_cast<std::int64_t>(floats);
    return buffer;
}

} // namespace

bgmodeller::bgmodeller(QObject *parent) : QObject(parent) {}

int bgmodeller::markerCount() const
{
    return std::min({markerX.size(), markerY.size(), markerR.size(), markerG.size(), markerB.size()});
}

namespace {
ModelView viewOf(const bgmodeller &model)
{
    ModelView m;
    m.x = model.markerX.constData();
    m.y = model.markerY.constData();
    m.r = model.markerR.constData();
    m.g = model.markerG.constData();
    m.b = model.markerB.constData();
    m.count = model.markerCount();
    m.offset = model.offset;
    m.exponent = model.exponent;
    m.lanes = model.vectorLanes;
    return m;
}
} // namespace

int bgmodeller::nearestTwo(int x, int y)
{
    const NearestPair pair = nearestPair(viewOf(*this), x, y);
    nearestSq = pair.nearestSq;
    secondSq = pair.secondSq;
    return pair.index;
}

ModelValue bgmodeller::modelValueAt(int x, int y) const
{
    return evaluatePixel(viewOf(*this), x, y);
}

FloatRGB bgmodeller::evaluateModel(int x, int y)
{
    if (offset == kAutomaticOffset)
        nearestTwo(x, y);
    const ModelValue v = modelValueAt(x, y);
    lastRatio = v.ratio;
    lastPlain = v.plain;
    return v.smooth;
}

void bgmodeller::modelRow(int y, int width, ModelValue *values) const
{
    forEachRowValue(viewOf(*this), y, width, [&](int x, const ModelValue &v) { values[x] = v; });
}

std::unique_ptr<ImageBuffer> bgmodeller::getSmoothBg(const ImageBuffer &image)
{
    if (!image.hasPixels())
        return nullptr;
    MessageLog &log = console ? *console : messageLog();
    const int width = image.width;
    const int height = image.height;

    // Everything that can fail to allocate is had before the first worker starts.
    auto output = unfilledBuffer(width, height);
    output->whiteLevel = image.whiteLevel;
    output->blackLevel = image.blackLevel;
    const int n = markerCount();
    const std::vector<int> workX(markerX.constBegin(), markerX.constBegin() + n);
    const std::vector<int> workY(markerY.constBegin(), markerY.constBegin() + n);
    const std::vector<float> workR(markerR.constBegin(), markerR.constBegin() + n);
    const std::vector<float> workG(markerG.constBegin(), markerG.constBegin() + n);
    const std::vector<float> workB(markerB.constBegin(), markerB.constBegin() + n);
    std::vector<RowSums> rowSums(static_cast<std::size_t>(height));
    ModelView m;
    m.x = workX.data();
    m.y = workY.data();
    m.r = workR.data();
    m.g = workG.data();
    m.b = workB.data();
    m.count = n;
    m.offset = offset;
    m.exponent = exponent;
    m.lanes = vectorLanes;

    const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
    const std::int64_t lookUps = pixels * n;
    log.logMessage(QStringLiteral("Benchmark: Starting getSmoothBg() main loop"));
    log.logMessage(QStringLiteral("Benchmark:      Pixels: ") + QString::number(pixels));
    log.logMessage(QStringLiteral("Benchmark: Box markers: ") + QString::number(n));
    log.logMessage(QStringLiteral("Benchmark:    Look-Ups: ") + QString::number(lookUps));
    const auto start = std::chrono::steady_clock::now();

    const int threads = std::min(threadCount > 0 ? threadCount : hardwareThreads(), height);
    runRows(height, threads, &log, [&](int y) { generateRow(m, y, *output, rowSums[static_cast<std::size_t>(y)]); });

    const auto elapsed = std::chrono::steady_clock::now() - start;
    const std::int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    log.logMessage(QStringLiteral("Benchmark: getSmoothBg() main loop end"));
    log.logMessage(QStringLiteral("Benchmark: Duration: ") + logNumber(ms * 0.001) + QStringLiteral("s"));
    // A run shorter than a millisecond is reported as one, not as an infinite speed.
    const double speed = static_cast<double>(lookUps) / static_cast<double>(std::max<std::int64_t>(ms, 1));
    log.logMessage(QStringLiteral("Benchmark:    Speed: ") + logNumber(speed) + QStringLiteral(" lookups/millisecond"));

    RowSums total;
    for (const RowSums &row : rowSums)
        total.add(row);
    compensationFactor = total.ratio / static_cast<double>(pixels);
    log.logMessage(QStringLiteral("compensation factor = ") + logNumber(compensationFactor));
    for (int c = 0; c < 3; ++c)
        colourCorrection[c] = total.plain[c] / total.smooth[c];
    log.logMessage(QStringLiteral("color correction factors: ") + logNumber(colourCorrection[0]) + QStringLiteral("; ")
                   + logNumber(colourCorrection[1]) + QStringLiteral("; ") + logNumber(colourCorrection[2]));

    log.logMessage(QStringLiteral("applying color correction to background..."));
    outputScale = compensationFactor * multiplier * kBackgroundGain;
    // Rows again on the workers: a serial pass over the whole buffer would cost a good part
    // of what the threads gained.
    const double scale = outputScale;
    runRows(height, threads, nullptr, [&](int y) {
        float *p = output->pixel(0, y);
        for (int x = 0; x < width; ++x, p += ImageBuffer::kFloatsPerPixel) {
            p[0] = static_cast<float>(p[0] * scale);
            p[1] = static_cast<float>(p[1] * scale);
            p[2] = static_cast<float>(p[2] * scale);
        }
    });
    log.logMessage(QStringLiteral("Finished background generation."));
    return output;
}

std::unique_ptr<ImageBuffer> subtractChannelMinimum(const ImageBuffer &buffer)
{
    auto result = buffer.clone();
    if (!buffer.hasPixels())
        return result;
    const FloatRGB first = buffer.getPixel(0, 0);
    float low[3] = {first.r, first.g, first.b};
    const float *in = buffer.data.get();
    for (std::int64_t i = 0; i < buffer.floatCount; i += ImageBuffer::kFloatsPerPixel)
        for (int c = 0; c < 3; ++c)
            low[c] = std::min(low[c], nanToZero(in[i + c]));
    float *out = result->data.get();
    for (std::int64_t i = 0; i < result->floatCount; i += ImageBuffer::kFloatsPerPixel)
        for (int c = 0; c < 3; ++c)
            out[i + c] = nanToZero(in[i + c]) - low[c];
    return result;
}

std::unique_ptr<ImageBuffer> subtractClamped(const ImageBuffer &image, const ImageBuffer &model)
{
    auto result = std::make_unique<ImageBuffer>(image.width, image.height);
    result->whiteLevel = image.whiteLevel;
    result->blackLevel = image.blackLevel;
    result->channels = image.channels;
    for (int y = 0; y < result->height; ++y) {
        float *out = result->pixel(0, y);
        for (int x = 0; x < result->width; ++x, out += ImageBuffer::kFloatsPerPixel) {
            const FloatRGB a = image.getPixel(x, y);
            const FloatRGB b = model.getPixel(x, y);
            const float v[3] = {a.r - b.r, a.g - b.g, a.b - b.b};
            for (int c = 0; c < 3; ++c)
                // NaN fails the comparison and lands on 0 with the negatives (inf - inf).
                out[c] = v[c] > 0.0f ? v[c] : 0.0f;
            out[3] = 1.0f;
        }
    }
    return result;
}
