#include "registeredgeometry.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>

namespace {

// Degrees to radians. The constant is the one the registration's angles were always turned
// with; it differs from pi / 180 in the 11th digit, which no coordinate here can see.
constexpr double kRadiansPerDegree = 0.017453292522222223;

// A float coordinate as a whole row index within lo .. hi (NaN and huge values included).
int clampedIndex(double value, int lo, int hi)
{
    if (!(value >= lo))
        return lo;
    if (value >= hi)
        return hi;
    return static_cast<int>(value);
}

} // namespace

FrameRotation::FrameRotation(const FramePlacement &placement, int frameWidth, int frameHeight)
{
    const double theta = static_cast<double>(placement.angle) * kRadiansPerDegree;
    cosine = static_cast<float>(std::cos(theta));
    sine = static_cast<float>(std::sin(theta));
    cx = static_cast<float>(frameWidth / 2);
    cy = static_cast<float>(frameHeight / 2);
    tx = placement.offsetX;
    ty = placement.offsetY;
}

void widenBounds(OutputBounds &bounds, const FramePlacement &placement, int frameWidth, int frameHeight)
{
    const FrameRotation rotation(placement, frameWidth, frameHeight);
    const float w = static_cast<float>(frameWidth);
    const float h = static_cast<float>(frameHeight);
    float lowX = 0.0f;
    float highX = 0.0f;
    float lowY = 0.0f;
    float highY = 0.0f;
    for (const auto &corner : {std::pair<float, float>{0.0f, 0.0f}, {w - 1.0f, 0.0f}, {0.0f, h - 1.0f},
                               {w - 1.0f, h - 1.0f}}) {
        float X = 0.0f;
        float Y = 0.0f;
        rotation.forward(corner.first, corner.second, X, Y);
        lowX = std::min(lowX, X);
        highX = std::max(highX, X);
        lowY = std::min(lowY, Y);
        highY = std::max(highY, Y);
    }
    bounds.minX = std::min(bounds.minX, lowX);
    bounds.right = std::max(bounds.right, highX - w);
    bounds.minY = std::min(bounds.minY, lowY);
    bounds.bottom = std::max(bounds.bottom, highY - h);
}

int outputWidth(const OutputBounds &bounds, int frameWidth)
{
    // The float overhang on the right, truncated with the rest: a shift of 10.5 adds 9 columns.
    const float width = std::fabs(std::floor(bounds.minX)) + static_cast<float>(frameWidth) + bounds.right;
    return clampedIndex(width, 0, 1 << 30);
}

int outputHeight(const OutputBounds &bounds, int frameHeight)
{
    const double height =
        std::fabs(std::floor(static_cast<double>(bounds.minY))) + std::ceil(static_cast<double>(bounds.bottom));
    return clampedIndex(height, 0, 1 << 30) + frameHeight;
}

SourceRows bandSourceRows(const FramePlacement &placement, const OutputBounds &bounds, int outputWidth,
                          int frameWidth, int frameHeight, int first, int rows)
{
    const FrameRotation rotation(placement, frameWidth, frameHeight);
    const float left = bounds.minX;
    const float right = static_cast<float>(outputWidth - 1);
    const float top = static_cast<float>(first) + bounds.minY;
    const float bottom = static_cast<float>(first + rows - 1) + bounds.minY;
    float least = 0.0f;
    float greatest = 0.0f;
    bool firstCorner = true;
    for (const auto &corner : {std::pair<float, float>{left, top}, {right, top}, {left, bottom}, {right, bottom}}) {
        float x = 0.0f;
        float y = 0.0f;
        rotation.inverse(corner.first, corner.second, x, y);
        least = firstCorner ? y : std::min(least, y);
        greatest = firstCorner ? y : std::max(greatest, y);
        firstCorner = false;
    }
    SourceRows result;
    result.srcMin = std::max(0.0f, least);
    result.srcMax = std::min(static_cast<float>(frameHeight), std::max(0.0f, greatest));
    if (frameHeight <= 0)
        return result;
    const int firstRow = clampedIndex(std::floor(static_cast<double>(result.srcMin)) - 1.0, 0, frameHeight);
    const int lastRow = clampedIndex(std::floor(static_cast<double>(result.srcMax)) + 1.0, 0, frameHeight - 1);
    result.firstRow = firstRow;
    result.rowCount = lastRow >= firstRow ? lastRow - firstRow + 1 : 0;
    return result;
}
