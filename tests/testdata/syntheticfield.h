#pragma once
// Synthetic star fields with known stars, for the tests and the benchmarks of star detection
// and registration (the program itself never calls this). A field is a sky with a gradient,
// Gaussian noise from a fixed seed, hot pixels, and stars with Gaussian or Moffat profiles
// over a range of brightnesses. Frames of one "night" share a star catalogue (starSeed) and
// may be shifted and turned against it; each frame has its own noise (noiseSeed).
//
// Units: pixels, origin top-left, y down, pixel index units (a star at x = 5.0 is centred on
// column 5); values normalised (sky and peaks as fractions of full scale) and then multiplied
// by whiteLevel. Pure: any thread may call it; the caller owns the image.
#include <cstdint>
#include <memory>
#include <vector>

class ImageBuffer;

enum class StarProfile { Gaussian, Moffat };

struct SyntheticFieldOptions {
    int width = 1024;
    int height = 768;
    // Three channels (stars slightly coloured), or a grey image (channels 2, as a grey FITS file).
    bool colour = true;
    // Stars per frame area; the catalogue covers the frame and a margin around it at the same
    // density, so that shifted and turned frames have stars up to their edges.
    int starCount = 300;
    StarProfile profile = StarProfile::Moffat;
    double moffatBeta = 3.0;
    // Each star's FWHM is drawn uniformly from this range (pixels).
    double fwhmMin = 2.5, fwhmMax = 4.0;
    // Each star's peak above the sky, drawn log-uniformly from this range; peaks above the
    // headroom saturate at full scale.
    double peakMin = 0.01, peakMax = 0.8;
    // Sky level at the top-left corner, rising by gradientX across the width and gradientY
    // down the height.
    double sky = 0.05, gradientX = 0.02, gradientY = 0.01;
    // Standard deviation of the Gaussian noise of each channel.
    double noiseSigma = 0.002;
    // Single pixels at 0.3 ... 0.95 of full scale in every channel.
    int hotPixels = 20;
    // Full scale of the stored values (65535 gives camera-like numbers); the buffer's
    // whiteLevel, blackLevel 0.
    float whiteLevel = 1.0f;
    std::uint32_t starSeed = 1, noiseSeed = 1;
    // Where the catalogue lies in this frame: turned by rotationDegrees about the frame centre
    // (width / 2, height / 2 in whole pixels), counter-clockwise on screen for a positive angle
    // (from +x towards -y), then shifted by (shiftX, shiftY).
    double shiftX = 0.0, shiftY = 0.0, rotationDegrees = 0.0;
};

struct SyntheticStar {
    double x = 0.0, y = 0.0;       // position in this frame
    double skyX = 0.0, skyY = 0.0; // in the catalogue, which is the frame without shift or turn
    double fwhm = 0.0;
    // Peak and total flux above the sky in the gray image the star finder sees (normalised).
    double peak = 0.0, flux = 0.0;
    // Signal-to-noise of the whole star in that gray image with optimal weighting:
    // flux / (gray noise x sqrt(noise-equivalent area)).
    double snr = 0.0;
    bool saturated = false; // some pixel of it reached full scale
};

struct SyntheticField {
    std::unique_ptr<ImageBuffer> image;
    // The stars whose centres lie inside the frame, in catalogue order.
    std::vector<SyntheticStar> stars;
};

// Throws AllocationFailure when the image cannot be had.
SyntheticField makeSyntheticField(const SyntheticFieldOptions &options);

// The registration this frame should get against a frame of the same size and starSeed
// without shift or turn, in StarCompare's convention: angle = -rotationDegrees and the offset
// that brings the turned, shifted catalogue back.
struct SyntheticRegistration {
    double offsetX = 0.0, offsetY = 0.0, angle = 0.0;
};
SyntheticRegistration trueRegistration(const SyntheticFieldOptions &frame);

// Fraction of this frame's area that shows sky also seen by the unshifted, unturned frame.
double overlapWithReference(const SyntheticFieldOptions &frame);
