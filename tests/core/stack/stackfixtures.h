#pragma once
// Frames on disk for the stacking tests: small colour FITS files (BITPIX -32, white level 1.0)
// whose values come from a function or from a seeded random source, and bitwise comparisons.
#include "calib/resourcelimits.h"
#include "image/imagebuffer.h"
#include "support/fitsfixture.h"

#include <QString>
#include <QStringList>

#include <cstring>
#include <random>

namespace stacktest {

using testsupport::loadImage;
using testsupport::writeConstantFrame;
using testsupport::writeFrame;

// More than any test needs, so that maxMem decides the budget.
constexpr std::uint64_t kPlentyOfMemory = std::uint64_t{16} << 30;

inline ResourcePreferences preferences(int threads, int maxMem = 1024, int memPercent = 50)
{
    ResourcePreferences prefs;
    prefs.maxThreads = threads;
    prefs.maxMem = maxMem;
    prefs.memPercent = memPercent;
    return prefs;
}

// Values uniform in 0 .. 1 with an occasional hot pixel (5.0) and cold one (-1.0), so that
// every rejection has outliers to work on.
inline QStringList writeRandomFrames(const QString &prefix, int count, int width, int height, unsigned seed)
{
    QStringList paths;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    for (int i = 0; i < count; ++i)
        paths << writeFrame(QStringLiteral("%1-%2.fits").arg(prefix).arg(i), width, height, [&](int, int, int) {
            const double u = uniform(random);
            return u < 0.02 ? 5.0 : u > 0.99 ? -1.0 : uniform(random);
        });
    return paths;
}

inline bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof(float)) == 0;
}

inline bool sameBits(const ImageBuffer &a, const ImageBuffer &b)
{
    return a.width == b.width && a.height == b.height && a.floatCount == b.floatCount
           && std::memcmp(a.data.get(), b.data.get(), static_cast<std::size_t>(a.floatCount) * sizeof(float)) == 0;
}

} // namespace stacktest
