#pragma once
// Bringing a night's frames to a common level before they are combined: the Moon rising or a
// gradient moving changes a frame's sky, and rejection then compares unlike samples. Each
// frame's sky level and noise are measured once, robustly, before the stack starts; the band
// loaders then apply each frame's factors to its calibrated pixels, so the band budget holds.
//
// Per colour channel c, with the reference (the stack's first frame) ref and the frame f:
//   Additive:               v + (level_ref - level_f)
//   Multiplicative:         v x level_ref / level_f
//   Additive with scaling:  (v - level_f) x noise_ref / noise_f + level_ref
// A factor that cannot be had (a level or noise of 0 or not a number) leaves that channel as
// it is. Values in normalised units (0 ... 1), after calibration by the masters.
// Threads: measureFrameSky reads one file and may run on any thread; the rest are pure.
#include "bandcalibration.h"

#include <QString>

class ImageBuffer;

enum class StackNormalization { None, Additive, Multiplicative, AdditiveScaling };

// Sky statistics of one calibrated frame, per colour channel (grey frames repeat the red one).
struct FrameSky {
    float level[3] = {0.0f, 0.0f, 0.0f}; // median
    float noise[3] = {0.0f, 0.0f, 0.0f}; // 1.4826 x the median absolute deviation
};

// What the loaders do to one frame: v x scale + offset per channel.
struct NormalizationFactors {
    float scale[3] = {1.0f, 1.0f, 1.0f};
    float offset[3] = {0.0f, 0.0f, 0.0f};
    bool identity() const;
};

// Measures a frame from kSkyBlocks blocks of kSkyBlockRows rows spread evenly over its height
// (every fourth pixel of them), read, normalised and calibrated as the stack reads bands.
// 0 on success, else the loader's code (kFrameNotNormalizable for a frame without range).
constexpr int kSkyBlocks = 8;
constexpr int kSkyBlockRows = 8;
int measureFrameSky(const QString &path, int frameWidth, int frameHeight, const BandMasters &masters,
                    FrameSky &sky);

NormalizationFactors normalizationFactors(StackNormalization mode, const FrameSky &reference, const FrameSky &frame);

// v x scale + offset for every colour of every pixel (alpha is kept); NaN stays NaN.
void applyNormalization(ImageBuffer &band, const NormalizationFactors &factors);

// "Additive" and so on, and the log line of one frame's factors:
// "Normalization of <path>: scale 1.02, 0.99, 1.01; offset -0.0012, 0, 0.0003".
QString normalizationName(StackNormalization mode);
QString normalizationLine(const QString &path, const NormalizationFactors &factors);
