#pragma once
// Camera RAW files developed by LibRaw into linear 16-bit camera RGB: no gamma, no automatic
// brightening, the camera's white balance, the camera's own colour space, no rotation.
// Pixel values stay in 0 ... 65535 (whiteLevel 65535). Rows are 0-based from the top.
// Sensor data that LibRaw finds damaged fails the load with LIBRAW_DATA_ERROR.
//
// Threads: each reader uses its own LibRaw processor for one call and keeps nothing between
// calls, so any number of readers may run on as many threads.
#include "imagebuffer.h"

#include <QString>

#include <cstdint>
#include <memory>

class RawReader {
public:
    // The whole image, sizes.width x sizes.height after unpacking; null on failure.
    std::unique_ptr<ImageBuffer> loadImage(const QString &path);
    // Rows firstRow ... firstRow + rowCount - 1 clipped at the last row, `width` pixels wide.
    // Only the band is developed.
    std::unique_ptr<ImageBuffer> loadBand(const QString &path, int firstRow, int width, int rowCount);
    // The image size after unpacking; false (and 0 x 0) on failure.
    bool readSize(const QString &path, int &width, int &height);

    // 0, a LibRaw error code, or one of the loader's codes (imageloader.h).
    int errorCode = 0;
    // With kNotEnoughMemory: the bytes that could not be had, 0 when not known.
    std::uint64_t bytesNeeded = 0;

private:
    std::unique_ptr<ImageBuffer> develop(const QString &path, bool band, int firstRow, int width, int rowCount);
};
