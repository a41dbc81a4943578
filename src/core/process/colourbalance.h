#pragma once
// Colour balance of a whole image: background neutralization (scale the channels so that the
// sigma-clipped sky colour becomes grey) and per-channel gain. Pure functions over buffers;
// the caller opens the results in new windows and does the logging around them.
#include "image/floatrgb.h"
#include "process/regionstats.h"

#include <memory>

class ImageBuffer;

enum class ReferenceChannel { Red, Green, Blue };

// How a background colour is neutralized. The reference channel keeps its values; the other
// two are multiplied by background(reference) / background(channel).
struct NeutralizationFactors {
    ReferenceChannel reference = ReferenceChannel::Green;
    // The background divided by its reference component (R', G', B'; the reference is 1.0).
    FloatRGB scaledBackground;
    // 1/R', 1/G', 1/B': what each channel is multiplied by.
    float red = 1.0f;
    float green = 1.0f;
    float blue = 1.0f;
    // False when a factor is infinite or NaN: a background component of 0 makes that
    // channel's factor infinite (all three when it is the reference), and the image there.
    // The operation still runs as asked; the caller may warn first.
    bool allFinite = true;
};

// Reference: blue if bg.b > bg.g; otherwise red if bg.r > bg.g; otherwise green (a tie of red
// and green chooses green). The tests run in this order, so blue wins over a larger red
// whenever it is above green; keep the order, earlier results of the tool depend on it.
NeutralizationFactors neutralizationFactors(const FloatRGB &background);

// Multiplies every pixel's r, g, b in place (alpha stays). Pixels are read as getPixel reads
// them, so a NaN component is written back as 0. Returns the buffer.
ImageBuffer &applyGain(ImageBuffer &buffer, float red, float green, float blue);

struct NeutralizedImage {
    std::unique_ptr<ImageBuffer> image; // null when the region has no measurable background
    FloatRGB background;                // clipped mean over the region (k = 1)
    NeutralizationFactors factors;
};

// The sigma-clipped mean (k = 1.0) over `region` as the background, then a clone of the
// source with the neutralization factors applied as applyGain applies them.
NeutralizedImage neutralizedCopy(const ImageBuffer &source, const PixelRegion &region);

// Clipping factor of the background measurement: one standard deviation keeps the sky and
// drops stars and nebulosity above it.
constexpr float kNeutralizationClipSigma = 1.0f;
