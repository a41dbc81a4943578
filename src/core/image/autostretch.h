#pragma once
// The automatic stretch: black and white points from the luminance histogram, so that the
// fraction `clip` of the pixels lies below black and the same fraction above white.
#include "image/imagebuffer.h"

struct StretchPoints {
    float black = 0.0f;
    float white = 1.0f;
};

// In the buffer's own units. Runs a range scan on the buffer first.
StretchPoints autoStretchPoints(ImageBuffer &buffer, float clip);

// Points in the buffer's units turned into the 0..1 units of the view correction: divided
// by the white level unless the buffer is already normalised; an infinite black becomes 0.
StretchPoints normalisedStretch(const StretchPoints &points, float whiteLevel);
