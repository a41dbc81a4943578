#pragma once
// A fixed-resolution histogram of an image and the clipping points read from it.
//
// Every table has 65536 bins bound to the buffer's maxValue at the time of building: bin i
// stands for maxValue * i / 65535. The histogram keeps no reference to its buffer, but each
// query needs that same buffer again for its maxValue, width and height. Building and
// querying are pure functions; different histograms may be built on different threads.
#include <array>
#include <cstdint>
#include <memory>

class ImageBuffer;

struct Histogram {
    static constexpr int kBins = 65536;
    using Table = std::array<std::uint64_t, kBins>;

    // Four tables one after the other, zero at creation (2 MiB in all: keep it on the heap).
    Table luminance{};
    Table red{};
    Table green{};
    Table blue{};
};

// Counts every pixel of the buffer into the four tables. Runs the range scan first when
// maxValue is infinite or NaN. Throws std::bad_alloc when the tables cannot be had.
std::unique_ptr<Histogram> buildHistogram(ImageBuffer &buffer);

// The value above which the fraction 1 - p of the pixels lies (0 < p < 1), read from one
// table: p = 0.999 gives the level that only the brightest 0.1 % exceed.
float clipLuminance(const Histogram &histogram, const ImageBuffer &buffer, float p);
float clipRed(const Histogram &histogram, const ImageBuffer &buffer, float p);
float clipGreen(const Histogram &histogram, const ImageBuffer &buffer, float p);
float clipBlue(const Histogram &histogram, const ImageBuffer &buffer, float p);
