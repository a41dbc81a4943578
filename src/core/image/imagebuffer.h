#pragma once
// The in-memory image: width x height pixels of four interleaved floats (r, g, b, a),
// row-major, origin top-left, y down. Pixel (x, y) starts at float (y * width + x) * 4.
// Values keep the units of their source; whiteLevel/blackLevel say what full scale and black
// are (1.0/0.0 means normalised). One owner at a time: hand buffers on as unique_ptr.
// A buffer is not synchronised; threads may read one concurrently but not write it.
#include "floatrgb.h"

#include <cstdint>
#include <memory>
#include <new>

// Thrown when a pixel array cannot be had: the system is out of memory, or the size asked
// for does not even fit in an address. Caught where an operation starts (see outofmemory.h).
class AllocationFailure : public std::bad_alloc {
public:
    explicit AllocationFailure(std::uint64_t requestedBytes) : bytes(requestedBytes) {}
    const char *what() const noexcept override { return "Not enough memory"; }
    std::uint64_t bytes; // UINT64_MAX when the byte count itself overflows
};

class ImageBuffer {
public:
    static constexpr int kFloatsPerPixel = 4;
    static constexpr int kBytesPerPixel = kFloatsPerPixel * sizeof(float);

    // Allocates width x height pixels, every float 0.0 (alpha too, until a producer writes
    // it). A zero or negative dimension gives an empty buffer without a pixel array.
    // Throws AllocationFailure when the memory cannot be had.
    ImageBuffer(int width, int height);

    // A buffer whose pixels are not written yet, for producers that write every float
    // (loaders): it skips the zero fill and asks the kernel for huge pages, which makes
    // touching a fresh multi-hundred-megabyte image much cheaper. Throws AllocationFailure.
    static std::unique_ptr<ImageBuffer> createUnfilled(int width, int height);

    ImageBuffer(const ImageBuffer &) = delete;
    ImageBuffer &operator=(const ImageBuffer &) = delete;

    // Bytes that a width x height buffer needs, or UINT64_MAX when that overflows.
    static std::uint64_t bytesFor(int width, int height);

    bool hasPixels() const { return floatCount > 0; }
    bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }

    // The one bounds-checked read: outside the image, or without pixels, all four are 0;
    // a NaN colour component reads as 0, infinities and alpha come back as stored.
    FloatRGB getPixel(int x, int y) const;

    // Unchecked address of pixel (x, y); callers check contains() themselves.
    float *pixel(int x, int y) { return data.get() + (static_cast<std::int64_t>(y) * width + x) * kFloatsPerPixel; }
    const float *pixel(int x, int y) const { return data.get() + (static_cast<std::int64_t>(y) * width + x) * kFloatsPerPixel; }

    // A copy sharing no storage. minValue and readCursor are not carried over: the minimum
    // is only valid again after a range scan. Throws AllocationFailure.
    std::unique_ptr<ImageBuffer> clone() const;

    // Keeps only the first `rows` rows (1 .. height), so that a buffer can be reused for a
    // shorter band without new memory; the storage itself stays until the buffer goes.
    void keepFirstRows(int rows);

    // Sets maxValue and minValue over r, g and b of every pixel (NaN counts as 0,
    // infinities count as they are) and returns maxValue. Without pixels returns 0.
    float scanRange();

    std::unique_ptr<float[]> data;
    int width = 0;
    int height = 0;
    // width * height * 4; 64 bits wide so that very large stacks cannot wrap it.
    std::int64_t floatCount = 0;
    float whiteLevel = 1.0f;
    float blackLevel = 0.0f;
    // Float index of the whole-array walks of normalisation; each walk resets it to 0.
    std::int64_t readCursor = 0;
    // 3 for colour; below 3 marks a grey image (a grey FITS file stores 2).
    int channels = 3;
    float maxValue = 0.0f;
    float minValue = 0.0f;
};
