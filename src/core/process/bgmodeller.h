#pragma once
// The background model: a smooth full-size image interpolated from marker samples (marker
// centres with the sky colour measured around each) by inverse-distance weighting with a
// smoothing offset, then rescaled by a compensation factor. The flatten tool shifts it to a
// zero minimum and subtracts it from the image (subtractChannelMinimum, subtractClamped).
//
// Coordinates are pixels, origin top-left, y down. Usage: fill the marker lists, set offset,
// exponent, multiplier and console, call getSmoothBg once. getSmoothBg runs on the caller's
// thread (the GUI thread in the desktop program) and spreads the rows over worker threads,
// while the caller's thread reports progress and keeps its events flowing; the result does
// not depend on the number of threads, bit for bit. modelValueAt is const and may be called
// from any thread as long as nobody changes the lists meanwhile.
#include "image/floatrgb.h"

#include <QObject>
#include <QVector>

#include <cstdint>
#include <memory>

class ImageBuffer;
class MessageLog;

// One pixel of the model.
struct ModelValue {
    FloatRGB smooth;    // weights 1 / (d + D²)^p: the model colour (r, g, b; alpha 0)
    FloatRGB plain;     // weights 1 / (D²)^p: the colour without the smoothing offset
    double ratio = 0.0; // sum of plain weights / sum of smooth weights (see evaluateModel)
};

// offset value that asks for an automatic offset per pixel: a quarter of the sum of the
// squared distances to the nearest marker and to the next farther one.
constexpr int kAutomaticOffset = -1;
// The exponent at which the weights use the fast square root instead of the power function.
constexpr double kFastRootExponent = 0.5;
// The constant of the final scaling. It is the single-precision 2.2 (2.200000047683716 as a
// double), not the double 2.2: models made before must come out the same.
constexpr float kBackgroundGain = 2.2f;

class bgmodeller : public QObject {
    Q_OBJECT

public:
    explicit bgmodeller(QObject *parent = nullptr);

    // The samples, one entry per marker in each list; the marker count is the length of the
    // shortest list. The caller refuses fewer than two markers.
    QVector<int> markerX;
    QVector<int> markerY;
    QVector<float> markerR;
    QVector<float> markerG;
    QVector<float> markerB;
    // Where the generation's lines and progress go; not owned. Null: the process-wide log.
    MessageLog *console = nullptr;
    // d, added to every squared distance; kAutomaticOffset (-1) means automatic per pixel.
    int offset = 0;
    // p, applied to the squared distance (so 0.5 weighs by distance, 1.0 by its square).
    double exponent = kFastRootExponent;
    // The user's factor of the final scaling.
    double multiplier = 1.0;
    // Left by evaluateModel: the weight ratio and the plain colour of the last pixel.
    double lastRatio = 0.0;
    FloatRGB lastPlain;
    // Left by nearestTwo: squared distance of the nearest marker and of the next farther one.
    // 64-bit so that images wider than 32767 pixels cannot overflow them.
    std::int64_t nearestSq = 0;
    std::int64_t secondSq = 0;
    // Worker threads of getSmoothBg, as the front end allows them (the model reads no
    // settings); 0 or less: one per hardware thread. 1 evaluates on the calling thread alone.
    int threadCount = 0;
    // Pixels the fast-root evaluation handles together: 0 the widest the processor offers (8
    // with AVX2), 4 the SSE2 width of every x86-64. The results are the same either way.
    int vectorLanes = 0;

    // Results of the last getSmoothBg: the compensation factor C (mean weight ratio), the
    // colour correction factors it logs (plain sum / smooth sum per channel, reported only),
    // and the factor every model pixel was multiplied by (C * multiplier * 2.2f).
    double compensationFactor = 0.0;
    double colourCorrection[3] = {0.0, 0.0, 0.0};
    double outputScale = 0.0;

    // The scaled model, the size of `image`, with its whiteLevel and blackLevel (the image is
    // used for nothing else). Logs the benchmark and result lines. Null for an image without
    // pixels. Throws AllocationFailure before any work starts when memory is short.
    std::unique_ptr<ImageBuffer> getSmoothBg(const ImageBuffer &image);

    // The model colour at one pixel, before the final scaling; also leaves lastRatio and
    // lastPlain (and nearestSq/secondSq when the offset is automatic). Non-finite components
    // come back as 0; a ratio that is not finite (the pixel lies on a marker) becomes the sum
    // of smooth weights when that is finite, else 0.
    FloatRGB evaluateModel(int x, int y);
    // The same evaluation without side effects.
    ModelValue modelValueAt(int x, int y) const;
    // Row y evaluated exactly as getSmoothBg evaluates it (several pixels at a time where the
    // fast square root applies) into values[0 .. width - 1]; equal to modelValueAt per pixel.
    void modelRow(int y, int width, ModelValue *values) const;

    // Index of the nearest marker (the first of equals); sets nearestSq and secondSq. secondSq
    // starts at marker 0's squared distance (marker 1's when marker 0 is the nearest) and
    // takes every one below it and above nearestSq. With one marker secondSq = nearestSq;
    // without markers returns -1 and sets both to 0.
    int nearestTwo(int x, int y);

    int markerCount() const;
};

// A copy shifted so that each channel's minimum is 0: the minimum per channel over all pixels
// (read as getPixel reads them, starting from the first pixel), subtracted from r, g and b;
// alpha stays.
std::unique_ptr<ImageBuffer> subtractChannelMinimum(const ImageBuffer &buffer);

// image - model per pixel and channel, negative results and NaN set to 0, alpha 1.0; both read
// as getPixel reads them. The result has the image's size, whiteLevel, blackLevel and channels.
std::unique_ptr<ImageBuffer> subtractClamped(const ImageBuffer &image, const ImageBuffer &model);
