#include "calibarithmetic.h"

#include "image/imagebuffer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// One pixel (r, g, b, alpha) as a 16-byte vector: a pixel's four floats are handled in one
// instruction each, which makes the master passes several times faster than a float-by-float
// loop while computing exactly the same single-precision results.
typedef float Pixel __attribute__((vector_size(16)));
typedef std::int32_t PixelMask __attribute__((vector_size(16)));

inline PixelMask bits(Pixel v)
{
    return reinterpret_cast<PixelMask>(v);
}

inline Pixel fromBits(PixelMask m)
{
    return reinterpret_cast<Pixel>(m);
}

inline Pixel loadPixel(const float *p)
{
    Pixel v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Stores r, g, b of `v` and alpha 1.0.
inline void storePixel(float *p, Pixel v)
{
    const PixelMask colour = {-1, -1, -1, 0};
    const Pixel alpha = {0.0f, 0.0f, 0.0f, 1.0f};
    const Pixel out = fromBits((bits(v) & colour) | bits(alpha));
    std::memcpy(p, &out, sizeof out);
}

// Each NaN component becomes +0.0, as getPixel reads it (alpha is never used).
inline Pixel nanToZero(Pixel v)
{
    const PixelMask notNaN = v == v;
    return fromBits(bits(v) & notNaN);
}

// Applies combine(t, m) to every target pixel, where t and m are the target and master
// pixels as getPixel reads them, and stores r, g, b with alpha 1.0. Rows are split into the
// part the master covers, read directly, and the rest, where the master reads as zero; the
// result equals a getPixel walk over the whole target.
template <typename Combine>
void combineWithMaster(ImageBuffer &target, const ImageBuffer &master, Combine combine)
{
    if (!target.hasPixels())
        return;
    const int coveredRows = master.hasPixels() ? std::min(target.height, master.height) : 0;
    const int coveredColumns = master.hasPixels() ? std::min(target.width, master.width) : 0;
    const Pixel outside = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int y = 0; y < target.height; ++y) {
        float *t = target.pixel(0, y);
        int x = 0;
        if (y < coveredRows) {
            const float *m = master.pixel(0, y);
            for (; x < coveredColumns; ++x, t += ImageBuffer::kFloatsPerPixel, m += ImageBuffer::kFloatsPerPixel)
                storePixel(t, combine(nanToZero(loadPixel(t)), nanToZero(loadPixel(m))));
        }
        for (; x < target.width; ++x, t += ImageBuffer::kFloatsPerPixel)
            storePixel(t, combine(nanToZero(loadPixel(t)), outside));
    }
}

} // namespace

bool normalizeImage(ImageBuffer &target)
{
    // The reciprocal is taken once, in float, as every normalisation of the program takes it,
    // so frames normalised here equal frames normalised anywhere else bit for bit.
    const float scale = 1.0f / (target.whiteLevel - target.blackLevel);
    if (target.whiteLevel == target.blackLevel || !std::isfinite(scale))
        return false;
    const float black = target.blackLevel;
    float *samples = target.data.get();
    for (target.readCursor = 0; target.readCursor < target.floatCount;
         target.readCursor += ImageBuffer::kFloatsPerPixel) {
        float *p = samples + target.readCursor;
        p[0] = (p[0] - black) * scale;
        p[1] = (p[1] - black) * scale;
        p[2] = (p[2] - black) * scale;
        p[3] = 1.0f;
    }
    target.whiteLevel = 1.0f;
    target.blackLevel = 0.0f;
    return true;
}

void subtractImage(ImageBuffer &target, const ImageBuffer &master)
{
    combineWithMaster(target, master, [](Pixel t, Pixel m) { return t - m; });
}

void divideImage(ImageBuffer &target, const ImageBuffer &flat)
{
    // A zero flat sample would leave an infinity in the frame; 1.0 keeps such a pixel neutral.
    // 0 / 0 stays NaN, which every later read sees as 0.
    combineWithMaster(target, flat, [](Pixel t, Pixel f) {
        const Pixel q = t / f;
        const float infinity = std::numeric_limits<float>::infinity();
        const PixelMask infinite = (q == infinity) | (q == -infinity);
        const Pixel one = {1.0f, 1.0f, 1.0f, 1.0f};
        return fromBits((bits(q) & ~infinite) | (bits(one) & infinite));
    });
}
