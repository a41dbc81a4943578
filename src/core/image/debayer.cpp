#include "debayer.h"

#include "imagebuffer.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kRed = 0;
constexpr std::uint8_t kGreen = 1;
constexpr std::uint8_t kBlue = 2;

// What a pixel inside the image (not on its border) interpolates, by the colour it saw and
// the colour of its left and right neighbours.
enum class Site { Red, Blue, GreenBetweenReds, GreenBetweenBlues };

Site siteOf(const BayerLayout &layout, int x, int y)
{
    switch (layout.colourAt(x, y)) {
    case kRed: return Site::Red;
    case kBlue: return Site::Blue;
    default: return layout.colourAt(x + 1, y) == kRed ? Site::GreenBetweenReds : Site::GreenBetweenBlues;
    }
}

// Any pixel, the border included: the mean of the neighbours within the image that saw each
// colour.
void interpolateAnywhere(const float *const rows[3], int x, int y, int width, int height, const BayerLayout &layout,
                         float *out)
{
    float sum[3] = {0.0f, 0.0f, 0.0f};
    int count[3] = {0, 0, 0};
    for (int dy = -1; dy <= 1; ++dy) {
        if (y + dy < 0 || y + dy >= height)
            continue;
        for (int dx = -1; dx <= 1; ++dx) {
            if ((dx == 0 && dy == 0) || x + dx < 0 || x + dx >= width)
                continue;
            const int colour = layout.colourAt(x + dx, y + dy);
            sum[colour] += rows[dy + 1][x + dx];
            ++count[colour];
        }
    }
    for (int colour = 0; colour < 3; ++colour)
        out[colour] = count[colour] > 0 ? sum[colour] / static_cast<float>(count[colour]) : 0.0f;
    out[layout.colourAt(x, y)] = rows[1][x];
    out[3] = 1.0f;
}

// A pixel with all 8 neighbours inside the image.
inline void interpolateInside(const float *up, const float *row, const float *down, int x, Site site, float *out)
{
    const float own = row[x];
    switch (site) {
    case Site::Red:
    case Site::Blue: {
        const float cross = (up[x] + down[x] + row[x - 1] + row[x + 1]) * 0.25f;
        const float diagonal = (up[x - 1] + up[x + 1] + down[x - 1] + down[x + 1]) * 0.25f;
        out[0] = site == Site::Red ? own : diagonal;
        out[1] = cross;
        out[2] = site == Site::Red ? diagonal : own;
        break;
    }
    case Site::GreenBetweenReds:
    case Site::GreenBetweenBlues: {
        const float across = (row[x - 1] + row[x + 1]) * 0.5f;
        const float upDown = (up[x] + down[x]) * 0.5f;
        out[0] = site == Site::GreenBetweenReds ? across : upDown;
        out[1] = own;
        out[2] = site == Site::GreenBetweenReds ? upDown : across;
        break;
    }
    }
    out[3] = 1.0f;
}

} // namespace

std::optional<BayerLayout> bayerLayout(const QString &pattern, int offsetX, int offsetY)
{
    const QString name = pattern.trimmed().toUpper();
    static const char *const patterns[] = {"RGGB", "BGGR", "GRBG", "GBRG"};
    if (std::none_of(std::begin(patterns), std::end(patterns), [&](const char *p) { return name == QLatin1String(p); }))
        return std::nullopt;
    BayerLayout layout;
    layout.pattern = name;
    layout.offsetX = offsetX & 1; // two's complement: -1 & 1 == 1, as (-1 mod 2) should be
    layout.offsetY = offsetY & 1;
    auto colourOf = [](QChar c) { return c == QLatin1Char('R') ? kRed : c == QLatin1Char('G') ? kGreen : kBlue; };
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            const int inPattern = ((y + layout.offsetY) & 1) * 2 + ((x + layout.offsetX) & 1);
            layout.cell[static_cast<std::size_t>(y * 2 + x)] = colourOf(name.at(inPattern));
        }
    }
    return layout;
}

RowRange debayerSourceRows(int firstRow, int rows, int height)
{
    const int first = std::max(firstRow - 1, 0);
    const int end = std::min(firstRow + rows + 1, height);
    return RowRange{first, std::max(end - first, 0)};
}

void debayerBilinear(const float *mosaic, int mosaicFirstRow, int width, int height, const BayerLayout &layout,
                     int firstRow, int rows, ImageBuffer &out, int outRow)
{
    auto rowAt = [&](int y) { return mosaic + static_cast<std::int64_t>(y - mosaicFirstRow) * width; };
    for (int y = firstRow; y < firstRow + rows; ++y) {
        // Rows outside the image are never dereferenced: the border path checks y first.
        const float *const around[3] = {y > 0 ? rowAt(y - 1) : nullptr, rowAt(y),
                                        y + 1 < height ? rowAt(y + 1) : nullptr};
        float *target = out.pixel(0, outRow + y - firstRow);
        if (y == 0 || y == height - 1 || width < 3) {
            for (int x = 0; x < width; ++x)
                interpolateAnywhere(around, x, y, width, height, layout, target + x * ImageBuffer::kFloatsPerPixel);
            continue;
        }
        interpolateAnywhere(around, 0, y, width, height, layout, target);
        const Site odd = siteOf(layout, 1, y);
        const Site even = siteOf(layout, 2, y);
        int x = 1;
        for (; x + 1 < width - 1; x += 2) {
            interpolateInside(around[0], around[1], around[2], x, odd, target + x * ImageBuffer::kFloatsPerPixel);
            interpolateInside(around[0], around[1], around[2], x + 1, even,
                              target + (x + 1) * ImageBuffer::kFloatsPerPixel);
        }
        if (x < width - 1)
            interpolateInside(around[0], around[1], around[2], x, odd, target + x * ImageBuffer::kFloatsPerPixel);
        interpolateAnywhere(around, width - 1, y, width, height, layout,
                            target + (width - 1) * ImageBuffer::kFloatsPerPixel);
    }
}
