#include "autostretch.h"

#include "image/histogram.h"

#include <cmath>

StretchPoints autoStretchPoints(ImageBuffer &buffer, float clip)
{
    buffer.scanRange();
    const auto histogram = buildHistogram(buffer);
    StretchPoints points;
    points.white = clipLuminance(*histogram, buffer, 1.0f - clip);
    points.black = clipLuminance(*histogram, buffer, clip);
    return points;
}

StretchPoints normalisedStretch(const StretchPoints &points, float whiteLevel)
{
    StretchPoints result = points;
    if (whiteLevel != 1.0f) {
        result.black = points.black / whiteLevel;
        if (std::isinf(result.black))
            result.black = 0.0f;
        result.white = points.white / whiteLevel;
    }
    return result;
}
