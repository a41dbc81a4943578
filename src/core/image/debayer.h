#pragma once
// Colour camera mosaics: which colour each pixel of a one-plane image saw through its Bayer
// filter, and the interpolation that turns such a mosaic into a colour image.
//
// Units and origin: pixels, origin top-left, y down, rows in file order (row 0 is the file's
// first row, as the loader reads it). A pattern names the colours of a 2 x 2 cell, left to
// right and top to bottom: "GRBG" is green, red on one row and blue, green on the next. The
// cell repeats from the pixel (-offsetX, -offsetY): pixel (x, y) saw the colour the pattern
// gives to column (x + offsetX) mod 2 of row (y + offsetY) mod 2, so an odd offset shifts the
// pattern by one pixel.
//
// Everything here is a pure function of its arguments and may run on any thread.
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

class ImageBuffer;

struct BayerLayout {
    QString pattern;   // "RGGB", "BGGR", "GRBG" or "GBRG"
    int offsetX = 0;   // 0 or 1
    int offsetY = 0;   // 0 or 1
    // Colour (0 red, 1 green, 2 blue) of the pixels with even x and even y, odd x and even y,
    // even x and odd y, odd x and odd y.
    std::array<std::uint8_t, 4> cell{};

    int colourAt(int x, int y) const { return cell[((y & 1) << 1) | (x & 1)]; }
};

// The layout from a header's pattern (case and surrounding blanks ignored) and offsets (any
// integers), or nothing when the pattern is not one of the four.
std::optional<BayerLayout> bayerLayout(const QString &pattern, int offsetX, int offsetY);

// A mosaic needs at least 2 x 2 pixels, so that every pixel has a neighbour of each colour.
inline bool canDebayer(int width, int height)
{
    return width >= 2 && height >= 2;
}

struct RowRange {
    int first = 0;
    int count = 0;
};

// The mosaic rows that interpolating rows firstRow ... firstRow + rows - 1 reads: one more
// above and one more below, where the image (height rows) has them.
RowRange debayerSourceRows(int firstRow, int rows, int height);

// Bilinear interpolation. Writes rows firstRow ... firstRow + rows - 1 of the colour image as
// (r, g, b, 1.0) into `out`, from its row outRow on (out is `width` pixels wide). `mosaic`
// holds `width` floats per row for the image's rows from mosaicFirstRow on, at least those
// debayerSourceRows gives. A pixel keeps its own value for the colour it saw; each other colour
// is the mean of the pixels among its 8 neighbours (within the image) that saw it. The result
// of a pixel depends only on the image, never on the band, so bands give the whole image's
// values bit for bit.
void debayerBilinear(const float *mosaic, int mosaicFirstRow, int width, int height, const BayerLayout &layout,
                     int firstRow, int rows, ImageBuffer &out, int outRow);
