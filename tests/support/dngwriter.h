#pragma once
// Tiny uncompressed DNG files that LibRaw develops, for tests of the RAW path. LibRaw
// recognises files by their content, so tests may name them .cr2 or .nef. The white balance
// recorded is neutral (1, 1, 1), black is 0 and white 65535, so developed values equal the
// samples written wherever LibRaw does not need to interpolate.
#include <QString>

#include <cstdint>
#include <vector>

namespace testsupport {

enum class DngLayout {
    BayerRggb, // one sample per pixel behind an RGGB colour filter array
    LinearRgb  // three samples per pixel, already demosaiced
};

struct DngImage {
    int width = 64;
    int height = 48;
    DngLayout layout = DngLayout::LinearRgb;
    // Row-major; one sample per pixel for Bayer, three (r, g, b) for linear RGB.
    std::vector<std::uint16_t> samples;
};

// An image whose linear RGB pixel (x, y) is (rgbAt(x, y, 0), rgbAt(x, y, 1), rgbAt(x, y, 2)),
// or for Bayer whose photosite carries the value of its filter colour.
DngImage dngImage(int width, int height, DngLayout layout);
std::uint16_t rgbAt(int x, int y, int colour);
// A Bayer image whose red, green and blue photosites hold one constant each.
DngImage flatBayerDng(int width, int height, std::uint16_t red, std::uint16_t green, std::uint16_t blue);

// Returns false if the file cannot be written.
bool writeDng(const QString &path, const DngImage &image);

} // namespace testsupport
