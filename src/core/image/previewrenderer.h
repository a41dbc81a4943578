#pragma once
// The 8-bit rendering of an image through the view correction: one 32-bit pixel 0xFFRRGGBB
// per image pixel (the layout of a 32-bit RGB QImage), rows top to bottom.
//
// Pure functions: the caller owns the output and fills PreviewParams, including the preview
// gamma from the settings file; nothing here reads settings or touches widgets. Rows are
// spread over worker threads that only read the buffer and each write their own rows; the
// result does not depend on the thread count. The buffer must not change during a render.
#include "platform/machine.h"
#include "platform/settingsfile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class ImageBuffer;

struct PreviewParams {
    // Per channel (r, g, b), in normalised units: 0 is the buffer's blackLevel, 1 its whiteLevel.
    float vcBlack[3] = {0.0f, 0.0f, 0.0f};
    float vcGamma[3] = {1.0f, 1.0f, 1.0f};
    float vcWhite[3] = {1.0f, 1.0f, 1.0f};
    // When set, every 8-bit level n is shown as 255 * (n / 255)^(1 / previewGamma).
    bool usePreviewGamma = false;
    float previewGamma = settingsfile::kDefaultPreviewGamma;
};

constexpr std::uint32_t kOpaquePixel = 0xFF000000u;

// An approximation of a^b with a relative error of several per cent, fast because it only
// rewrites the exponent word of the double. Used for the view-correction gamma, where the
// image on screen is what the user tunes by eye. NaN stays NaN.
double fastPow(double a, double b);

// Renders buffer into `pixels`, whose rows are `pixelsPerRow` pixels apart (at least
// buffer.width). threadCount <= 0 means one thread per hardware thread. Returns false, and
// writes nothing, when the buffer has no pixel array or the rows are too short.
bool renderPreview(const ImageBuffer &buffer, const PreviewParams &params, std::uint32_t *pixels,
                   std::ptrdiff_t pixelsPerRow, int threadCount = hardwareThreads());

// As above into a vector resized to width x height, rows packed. Throws std::bad_alloc when
// the vector cannot grow.
bool renderPreview(const ImageBuffer &buffer, const PreviewParams &params, std::vector<std::uint32_t> &pixels,
                   int threadCount = hardwareThreads());
