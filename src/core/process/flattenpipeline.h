#pragma once
// The flatten tool's work apart from its widgets, shared by the desktop program and the
// command line: automatic marker placement on a grid that skips bright boxes, sampling the
// markers, the model's smoothing offset, and the background model with the flattened image.
//
// Coordinates are pixels, origin top-left, y down; a marker is the centre of a square box.
// Everything runs on the caller's thread except the model's rows (see bgmodeller.h); nothing
// here touches the source image's pixels. Allocation failure throws AllocationFailure.
#include "image/floatrgb.h"

#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>
#include <vector>

class ImageBuffer;
class MessageLog;

struct GridMarker {
    int x = 0; // marker centre: the grid position truncated
    int y = 0;
    float gridX = 0.0f; // the grid position itself; the box outline is drawn from (gridX - size / 2, ...)
    float gridY = 0.0f;
};

// Automatic placement of `count` boxes of `size` x `size` pixels. The grid spacing `step`
// (set even when no box is accepted) is chosen so that about `count` boxes cover the image:
// with a = W / H, step = H / (sqrt(count * a) * (1 / a)), in float, which is sqrt(W * H /
// count). Grid points run from (size, size) by step while below (W, H). A box is kept when
// its clipped mean (factor sigma) is in no channel above the whole image's clipped mean plus
// sigma times its standard deviation; a box without a clipped mean is not kept. Returns the
// kept boxes in grid order (rows outer); none for an image without pixels.
std::vector<GridMarker> gridMarkerPositions(const ImageBuffer &image, int size, int count, double sigma, float &step);

// The sky colour at each marker: the clipped mean (factor 1.0) of the boxSize x boxSize box
// from (trunc(x - half), trunc(y - half)), half = floor(boxSize * 0.5). Pixels outside the
// image count as black. std::nullopt where the box has no clipped mean.
std::vector<std::optional<FloatRGB>> sampleMarkers(const ImageBuffer &image, const QVector<int> &xs,
                                                   const QVector<int> &ys, int boxSize);

// The model's offset: trunc(autoStep)² when an automatic placement has set a step, otherwise
// distance², except that a distance of -1 (the "Auto Distance" setting) stays -1, the
// automatic per-pixel offset.
int modelOffset(float autoStep, int distance);

// What "Apply" of the flatten tool hands over.
struct FlattenParams {
    int boxSize = 11;        // marker box edge, pixels
    double exponent = 0.5;   // weight exponent of the model
    int distance = 100;      // smoothing distance, pixels; -1 automatic
    double multiplier = 1.0; // user factor of the model's scaling
    float autoStep = 0.0f;   // grid spacing of the window's last automatic placement, 0 if none
    int threadCount = 0;     // model threads; 0 or less: one per hardware thread
};

enum class FlattenStatus {
    Done,
    TooFewMarkers, // fewer than two markers, or fewer than two that could be sampled
    NoImage,       // the image has no pixels
};

struct FlattenResult {
    FlattenStatus status = FlattenStatus::TooFewMarkers;
    std::unique_ptr<ImageBuffer> background; // the model shifted to a zero minimum per channel
    std::unique_ptr<ImageBuffer> flat;       // image minus background, clamped at 0
};

// The lines the caller logs for a refused flattening (empty for Done).
QStringList flattenRefusalLines(FlattenStatus status);

// Samples the markers, builds the model (logging "Calculating background model from <n>
// markers...", "Generating background...", "Calculating smooth background..." and the
// model's own lines), shifts it and subtracts it. Refuses an image without pixels and fewer
// than two markers before logging anything. Markers whose box has no clipped mean are left out with one log line.
FlattenResult flattenImage(const ImageBuffer &image, const QVector<int> &markerXs, const QVector<int> &markerYs,
                           const FlattenParams &params, MessageLog &log);
