#include "previewrenderer.h"

#include "imagebuffer.h"
#include "platform/workdriver.h"

#include <array>
#include <cmath>
#include <cstring>
#include <algorithm>

namespace {

// The upper word of the double 1.0 minus a small correction that centres the error of the
// exponent-word approximation around zero.
constexpr double kFastPowBias = 1072632447.0;
// Upper word of +infinity: any larger word would be a NaN.
constexpr double kInfinityWord = 2146435072.0; // 0x7FF00000
// Below the 32-bit range lie only words of negative inputs, whose power is meaningless; they
// are held at the smallest word, -0.0, so they are shown as black like every negative value.
constexpr double kLowestWord = static_cast<double>(INT32_MIN);

// Levels leave the per-sample step clamped to -1 ... 256: -1 stands for "below black" (and
// for NaN), 256 for "beyond white". The clamp keeps the integer conversion defined and
// changes no result, since the preview gamma maps levels below 0 to 0 and above 255 to 255.
constexpr int kBelowBlack = -1;
constexpr int kBeyondWhite = 256;
constexpr int kLevelSlots = kBeyondWhite - kBelowBlack + 1;

// One pixel (r, g, b, a) as one short vector; GCC and Clang map these onto SSE or NEON. The
// fourth lane (alpha) is computed along and ignored, so the loop needs no shuffling. Only
// 16-byte (and 8-byte) vectors: wider ones are split badly without AVX.
typedef float Floats4 __attribute__((vector_size(16)));
typedef std::int32_t Ints4 __attribute__((vector_size(16)));
typedef double Doubles2 __attribute__((vector_size(16)));
typedef float Floats2 __attribute__((vector_size(8)));
typedef std::int32_t Ints2 __attribute__((vector_size(8)));

// Where the upper 32-bit word of a double lies when the double is seen as two int32.
constexpr int kUpperWord = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 1 : 0;

struct RenderPlan {
    bool normalise = false;
    bool anyGamma = false;
    float blackLevel = 0.0f;
    float levelRange = 1.0f; // whiteLevel - blackLevel
    Floats4 black = {0.0f, 0.0f, 0.0f, 0.0f};
    Floats4 range = {1.0f, 1.0f, 1.0f, 1.0f}; // white - black
    Doubles2 gammaLow = {1.0, 1.0};  // lanes r, g
    Doubles2 gammaHigh = {1.0, 1.0}; // lanes b, a
    Ints4 useGamma = {0, 0, 0, 0}; // -1 in the lanes whose gamma is not 1
    // The final 8-bit value for each level kBelowBlack ... kBeyondWhite, preview gamma included;
    // it only depends on the level, so it is computed once per render.
    std::array<std::uint8_t, kLevelSlots> display{};
};

std::uint8_t clampedByte(double v)
{
    if (std::isnan(v) || v <= 0.0)
        return 0;
    if (v >= 255.0)
        return 255;
    return static_cast<std::uint8_t>(v);
}

RenderPlan makePlan(const ImageBuffer &buffer, const PreviewParams &params)
{
    RenderPlan plan;
    plan.normalise = buffer.blackLevel != 0.0f || buffer.whiteLevel != 1.0f;
    plan.blackLevel = buffer.blackLevel;
    plan.levelRange = buffer.whiteLevel - buffer.blackLevel;
    for (int c = 0; c < 3; ++c) {
        plan.black[c] = params.vcBlack[c];
        plan.range[c] = params.vcWhite[c] - params.vcBlack[c];
        const bool useGamma = params.vcGamma[c] != 1.0f;
        plan.useGamma[c] = useGamma ? -1 : 0;
        plan.anyGamma = plan.anyGamma || useGamma;
    }
    plan.gammaLow[0] = params.vcGamma[0];
    plan.gammaLow[1] = params.vcGamma[1];
    plan.gammaHigh[0] = params.vcGamma[2];
    const double displayExponent = 1.0 / static_cast<double>(params.previewGamma);
    for (int level = kBelowBlack; level <= kBeyondWhite; ++level) {
        double value = level;
        if (params.usePreviewGamma && level >= 0 && level <= 255)
            value = std::trunc(std::pow(level / 255.0, displayExponent) * 255.0);
        plan.display[level - kBelowBlack] = clampedByte(value);
    }
    return plan;
}

// The new exponent word of fastPow: trunc(b * (upper - bias) + bias) before the truncation,
// limited to kLowestWord ... kInfinityWord (a NaN exponent b gives the lowest word, black).
// One formula for a single double and for two lanes.
template <typename Real>
Real fastPowWord(Real upper, Real b)
{
    Real word = b * (upper - kFastPowBias) + kFastPowBias;
    word = word > kLowestWord ? word : kLowestWord;
    return word < kInfinityWord ? word : kInfinityWord;
}

// The same bits seen as another vector type of the same size.
template <typename To, typename From>
To bitsAs(From v)
{
    static_assert(sizeof(To) == sizeof(From), "bit casts keep the size");
    To out;
    std::memcpy(&out, &v, sizeof out);
    return out;
}

// Two doubles built from 32-bit words: lanes First and First + 1 of `lower` and `upper`.
template <int First>
Doubles2 doublesFromWords(Ints4 lower, Ints4 upper)
{
    constexpr int kLow = kUpperWord == 1 ? 0 : 4; // lane offsets of the two words in memory order
    constexpr int kHigh = 4 - kLow;
    return bitsAs<Doubles2>(
        __builtin_shufflevector(lower, upper, First + kLow, First + kHigh, First + 1 + kLow, First + 1 + kHigh));
}

// The int32 of every lane of `words` as a double, exactly: 2^52 + 2^31 + v assembled from
// its words, minus 2^52 + 2^31. Compilers otherwise convert lane by lane through scalar
// registers, which made this the slowest step of the gamma path.
template <int First>
Doubles2 wordsAsDoubles(Ints4 words)
{
    constexpr std::int32_t kMagicUpper = 0x43300000; // upper word of 2^52
    constexpr double kMagic = 4503601774854144.0;    // 2^52 + 2^31
    const Ints4 magic = {kMagicUpper, kMagicUpper, kMagicUpper, kMagicUpper};
    const Ints4 offset = words ^ INT32_MIN;          // v + 2^31 as an unsigned word
    return doublesFromWords<First>(offset, magic) - kMagic;
}

// fastPow of the four lanes, back in single precision like the rest of the pixel arithmetic
// (a result beyond the float range becomes infinity, which the level clamp turns into white).
// NaN lanes are the caller's business.
Floats4 fastPowForLevel(Floats4 t, const RenderPlan &plan)
{
    const Doubles2 low = __builtin_convertvector(__builtin_shufflevector(t, t, 0, 1), Doubles2);
    const Doubles2 high = __builtin_convertvector(__builtin_shufflevector(t, t, 2, 3), Doubles2);
    const Ints4 upper = __builtin_shufflevector(bitsAs<Ints4>(low), bitsAs<Ints4>(high), kUpperWord, 2 + kUpperWord,
                                                4 + kUpperWord, 6 + kUpperWord);
    const Ints2 wordLow = __builtin_convertvector(fastPowWord(wordsAsDoubles<0>(upper), plan.gammaLow), Ints2);
    const Ints2 wordHigh = __builtin_convertvector(fastPowWord(wordsAsDoubles<2>(upper), plan.gammaHigh), Ints2);
    const Ints4 newUpper = __builtin_shufflevector(wordLow, wordHigh, 0, 1, 2, 3);
    const Ints4 zero = {0, 0, 0, 0};
    const Floats2 powLow = __builtin_convertvector(doublesFromWords<0>(zero, newUpper), Floats2);
    const Floats2 powHigh = __builtin_convertvector(doublesFromWords<2>(zero, newUpper), Floats2);
    return __builtin_shufflevector(powLow, powHigh, 0, 1, 2, 3);
}

template <bool Normalise, bool AnyGamma>
void renderRow(const float *in, std::uint32_t *out, int width, const RenderPlan &plan)
{
    const std::uint8_t *display = plan.display.data() - kBelowBlack;
    const Ints4 belowBlack = {kBelowBlack, kBelowBlack, kBelowBlack, kBelowBlack};
    for (int x = 0; x < width; ++x, in += ImageBuffer::kFloatsPerPixel) {
        Floats4 v;
        std::memcpy(&v, in, sizeof v);
        if (Normalise)
            v = (v - plan.blackLevel) / plan.levelRange;
        Floats4 t = (v - plan.black) / plan.range;
        const Ints4 isNan = t != t;
        if (AnyGamma)
            t = plan.useGamma ? fastPowForLevel(t, plan) : t;
        // n = trunc(t * 255), kept within kBelowBlack ... kBeyondWhite.
        Floats4 n = t * 255.0f;
        n = n > static_cast<float>(kBelowBlack) ? n : static_cast<float>(kBelowBlack);
        n = n < static_cast<float>(kBeyondWhite) ? n : static_cast<float>(kBeyondWhite);
        const Ints4 level = isNan ? belowBlack : __builtin_convertvector(n, Ints4);
        out[x] = kOpaquePixel | (std::uint32_t{display[level[0]]} << 16) | (std::uint32_t{display[level[1]]} << 8)
                 | std::uint32_t{display[level[2]]};
    }
}

void renderRows(const ImageBuffer &buffer, const RenderPlan &plan, std::uint32_t *pixels,
                std::ptrdiff_t pixelsPerRow, int firstRow, int endRow)
{
    using RowRenderer = void (*)(const float *, std::uint32_t *, int, const RenderPlan &);
    static constexpr RowRenderer kRenderers[2][2] = {{renderRow<false, false>, renderRow<false, true>},
                                                     {renderRow<true, false>, renderRow<true, true>}};
    const RowRenderer renderer = kRenderers[plan.normalise][plan.anyGamma];
    for (int y = firstRow; y < endRow; ++y)
        renderer(buffer.pixel(0, y), pixels + y * pixelsPerRow, buffer.width, plan);
}

} // namespace

double fastPow(double a, double b)
{
    if (std::isnan(a))
        return a;
    std::uint64_t bits = 0;
    std::memcpy(&bits, &a, sizeof bits);
    const auto upper = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32));
    const double word = fastPowWord(static_cast<double>(upper), b);
    bits = static_cast<std::uint64_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(word))) << 32;
    double result = 0.0;
    std::memcpy(&result, &bits, sizeof result);
    return result;
}

bool renderPreview(const ImageBuffer &buffer, const PreviewParams &params, std::uint32_t *pixels,
                   std::ptrdiff_t pixelsPerRow, int threadCount)
{
    if (!buffer.hasPixels() || !pixels || pixelsPerRow < buffer.width)
        return false;
    const RenderPlan plan = makePlan(buffer, params);

    if (threadCount <= 0)
        threadCount = hardwareThreads();
    // Blocks of rows, handed out in order: enough of them that the threads finish together.
    constexpr int kRowsPerItem = 16;
    const int items = (buffer.height + kRowsPerItem - 1) / kRowsPerItem;
    ParallelRunOptions options;
    options.threads = threadCount;
    // A render may run inside a paint event: the calling thread must not handle other events.
    options.processEvents = false;
    runParallel(items, options, [&](int item) {
        const int first = item * kRowsPerItem;
        renderRows(buffer, plan, pixels, pixelsPerRow, first, std::min(first + kRowsPerItem, buffer.height));
    });
    return true;
}

bool renderPreview(const ImageBuffer &buffer, const PreviewParams &params, std::vector<std::uint32_t> &pixels,
                   int threadCount)
{
    if (!buffer.hasPixels())
        return false;
    pixels.resize(static_cast<std::size_t>(buffer.width) * static_cast<std::size_t>(buffer.height));
    return renderPreview(buffer, params, pixels.data(), buffer.width, threadCount);
}
