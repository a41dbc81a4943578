#pragma once
// Sub-pixel resampling of registered frames. By default an output pixel takes the source pixel
// found by truncating its inverse-transformed position toward zero ("Nearest", resampleRows in
// bandcalibration.h). Bilinear and Lanczos-3 instead interpolate the calibrated source around
// the exact position, which keeps a registered frame from being shifted and blurred by up to a
// pixel.
//
// Units: pixel index units, origin top-left, y down; (5.0, 7.0) is the centre of column 5,
// row 7, so the exact position FrameRotation::inverse gives is used as it is, with no
// half-pixel shift. The kernel taps lie at floor(x) - 2 .. floor(x) + 3 (Lanczos-3) or
// floor(x) .. floor(x) + 1 (bilinear), and the same for rows.
//
// Edges: an output pixel is inside the frame exactly when Nearest would read a source pixel
// for it (the truncated position is a column and a held row of the frame). Inside, taps that
// leave the frame read the frame's edge pixel (replicated edge), so a frame's border keeps its
// brightness and a constant frame stays constant up to its last pixel. Outside, the pixel gets
// the value Nearest gives there (zero colour through the masters, alpha 1.0). Both modes thus
// cover the same output pixels as Nearest, and the combination sees the same samples.
//
// Calibration: the source rows are calibrated (bias, dark, flat: the arithmetic of a Nearest
// sample) before they are interpolated (prepareInterpolationRows), so every tap meets the
// masters at its own frame position.
//
// Ringing: a result is clamped per colour to the range of the 2 x 2 source pixels nearest the
// position, so Lanczos-3 gives no dark ring or overshoot around a saturated star or a hot
// pixel, and a flat sky stays exactly flat in both modes.
//
// Threads: pure functions over borrowed rows; each loader calls them on its own band.
#include <atomic>
#include <memory>

class ImageBuffer;
struct BandMasters;
struct FrameRotation;
struct OutputBounds;
struct SourceRowTable;

enum class StackInterpolation { Nearest, Bilinear, Lanczos3 };

// Source rows a band needs beyond those Nearest reads, on each side: 0, 1 or 3.
int interpolationMargin(StackInterpolation interpolation);

// The six normalised Lanczos-3 weights (summing to 1) of the taps floor - 2 .. floor + 3 for a
// position whose fraction beyond its floor is t (0 <= t <= 1). Taken from a table of 1024
// phases in double precision, interpolated linearly between phases (error below 1e-6).
void lanczos3Weights(float t, float weights[6]);

// Whether an interpolating band is faster with the grey rows of a grey frame
// (SourceRowTable::greyRows): Lanczos3 on processors with the wide kernel. The result is the
// same either way.
bool interpolationKeepsGreyRows(StackInterpolation interpolation);

// Rows just read for an interpolating band: minus bias and dark, divided by the flat, each when
// given (the dark flat is not used, as with Nearest), rows firstRow .. meeting the masters at
// their own rows; NaN then reads as 0, so that no tap spreads it. With keepGrey, returns the
// rows' grey values (one float per pixel, then 8 zeros) when every pixel's r, g and b have the
// same bits; else null.
std::unique_ptr<float[]> prepareInterpolationRows(ImageBuffer &rows, int firstRow, const BandMasters &masters,
                                                  bool keepGrey = false);

// As resampleRows, with Bilinear or Lanczos3: band rows firstBandRow .. firstBandRow +
// rowCount - 1 (standing for output rows first + j) interpolated from `calibrated`, rows
// prepared by prepareInterpolationRows and held interpolationMargin rows beyond those Nearest
// needs. `masters` only gives the value outside the frame. Every pixel gets alpha 1.0.
// Returns false when abort was set before the rows were done.
bool resampleRowsInterpolated(const SourceRowTable &calibrated, ImageBuffer &band, int firstBandRow, int rowCount,
                              int first, const FrameRotation &rotation, const OutputBounds &bounds,
                              const BandMasters &masters, StackInterpolation interpolation,
                              const std::atomic<bool> *abort);
