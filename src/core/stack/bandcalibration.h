#pragma once
// What a stack's frame loader does to one band of one frame after reading it: calibration by
// the masters, placing it in the stack's band geometry, and for registered frames resampling
// into the common frame.
//
// A band holds frame rows firstRow .. firstRow + height - 1; masters are full frames, so band
// row y meets master row firstRow + y. The arithmetic is the calibration's (calibarithmetic.h):
// colours read as getPixel reads them (NaN as 0, outside the master as 0), single precision,
// an infinite quotient stored as 1.0, alpha 1.0 wherever a master was applied.
//
// Threads: the masters are only read, so many loaders may share them; each band belongs to one.
#include "sourcewindow.h"

#include <atomic>
#include <memory>

class ImageBuffer;
struct FrameRotation;
struct NormalizationFactors;
struct OutputBounds;

// The masters a stack applies, borrowed; null = not given.
struct BandMasters {
    const ImageBuffer *bias = nullptr;
    const ImageBuffer *dark = nullptr;
    const ImageBuffer *flat = nullptr;
    const ImageBuffer *darkFlat = nullptr;
    bool any() const { return bias || dark || flat || darkFlat; }
};

// band := band - bias - dark - dark flat, then / flat, each when given, band row y against
// master row firstRow + y. The same bits as subtractImage and divideImage on a whole frame.
void calibrateBand(ImageBuffer &band, int firstRow, const BandMasters &masters);

// A band of exactly width x rows pixels: the given one when it has that size, else a new one
// with its pixels copied where the two overlap and alpha 0 (no sample) elsewhere. Null in gives
// an all-empty band. Levels and channels are kept. Throws AllocationFailure.
std::unique_ptr<ImageBuffer> fitBand(std::unique_ptr<ImageBuffer> band, int width, int rows);

// Registered frames: fills band rows firstBandRow .. firstBandRow + rowCount - 1 (band row j
// standing for output row first + j) from the source rows a window holds. Output column u,
// row j samples the frame at the position the inverse transform gives for the reference point
// (u + trunc(minX), first + j + minY), truncated toward zero: colour from the source (0 where
// no row is held or outside the frame), minus bias and dark, divided by the flat at that
// frame position; every pixel gets alpha 1.0, also where the position lies outside the frame
// (zero colour). Returns false when abort was set before the rows were done.
bool resampleRows(const SourceRowTable &source, ImageBuffer &band, int firstBandRow, int rowCount, int first,
                  const FrameRotation &rotation, const OutputBounds &bounds, const BandMasters &masters,
                  const std::atomic<bool> *abort);

// One registered sample's colours through the masters at frame position (x, y), as a Nearest
// sample meets them (bias, dark, flat; a master not reaching (x, y) reads as zero there).
void calibrateSample(float rgb[3], const BandMasters &masters, int x, int y);

// Registered frames, after resampleRows (or its interpolating kind) filled those band rows:
// v x scale + offset for the pixels inside the frame, those whose truncated source position is
// a column and a held row of `source`; pixels outside keep their value, or with excludeOutside
// become (0, 0, 0, alpha 0): no sample.
void finishRegisteredRows(const SourceRowTable &source, ImageBuffer &band, int firstBandRow, int rowCount, int first,
                          const FrameRotation &rotation, const OutputBounds &bounds,
                          const NormalizationFactors &factors, bool excludeOutside);
