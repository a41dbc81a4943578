#pragma once
// Frames on disk for the stacking tests: small colour FITS files (BITPIX -32, white level 1.0) whose values come from a
// function or a seeded random source, images in memory, and bitwise comparisons.
#include "calib/resourcelimits.h"
#include "image/imagebuffer.h"
#include "stack/bandcalibration.h"
#include "stack/framenormalization.h"
#include "stack/multifb.h"
#include "stack/registeredgeometry.h"
#include "stack/sourcewindow.h"
#include "stack/stackstatistics.h"
#include "support/capturinglog.h"
#include "support/fitsfixture.h"

#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

namespace stacktest {

using testsupport::CapturingLog;
using testsupport::loadImage;
using testsupport::writeConstantFrame;
using testsupport::writeFrame;

// More than any test needs, so that maxMem decides the budget.
constexpr std::uint64_t kPlentyOfMemory = std::uint64_t{16} << 30;

inline ResourcePreferences preferences(int threads, int maxMem = 1024, int memPercent = 50)
{
    return ResourcePreferences{threads, maxMem, memPercent, false};
}

// A stack of `frames` with its own log.
struct StackRun {
    explicit StackRun(const QStringList &frames, int threads = 2)
        : fb(log, frames, preferences(threads), kPlentyOfMemory)
    {
    }
    CapturingLog log;
    MultiFB fb;
};

// Values uniform in 0 .. 1 with an occasional hot pixel (5.0) and cold one (-1.0), so that
// every rejection has outliers to work on; colour, or grey for no planes.
inline QStringList writeRandomFrames(const QString &prefix, int count, int width, int height, unsigned seed,
                                     int planes = 3)
{
    QStringList paths;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const auto value = [&](int, int, int) {
        const double u = uniform(random);
        return u < 0.02 ? 5.0 : u > 0.99 ? -1.0 : uniform(random);
    };
    for (int i = 0; i < count; ++i)
        paths << writeFrame(QStringLiteral("%1-%2.fits").arg(prefix).arg(i), width, height, value, -32, planes);
    return paths;
}

inline FrameSky sky(float level, float noise)
{
    return FrameSky{{level, level, level}, {noise, noise, noise}};
}

// A colour image in memory, alpha 1.
inline std::unique_ptr<ImageBuffer> filled(int width, int height, const std::function<float(int, int, int)> &value)
{
    auto image = std::make_unique<ImageBuffer>(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            float *p = image->pixel(x, y);
            for (int c = 0; c < 3; ++c)
                p[c] = value(x, y, c);
            p[3] = 1.0f;
        }
    return image;
}

// The rows of an image as a loader hands them to the resampling.
inline SourceRowTable rowTable(const ImageBuffer &image)
{
    SourceRowTable table;
    table.width = image.width;
    for (int y = 0; y < image.height; ++y)
        table.rows.push_back(image.pixel(0, y));
    return table;
}

// Whether a registered output pixel whose frame position is (x, y) has a source pixel.
inline bool insideFrame(float x, float y, int width, int height)
{
    return x > -1.0f && y > -1.0f && static_cast<int>(x) < width && static_cast<int>(y) < height;
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
