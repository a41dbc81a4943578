#pragma once
// Star-field fixtures for the star detection and registration tests: hand-placed stars and
// blobs on flat skies, and frames of the synthetic fields with known stars (syntheticfield.h).
#include "image/imagebuffer.h"
#include "stars/starpattern.h"
#include "stars/starrecord.h"
#include "syntheticfield.h"

#include <QStringList>

#include <memory>
#include <vector>

namespace testsupport {

// A width x height image at `level` in r, g and b (alpha 1): grey (channels 2) or colour.
std::unique_ptr<ImageBuffer> flatImage(int width, int height, float level, bool colour = false);

// Sets r, g and b of one pixel.
void setGray(ImageBuffer &image, int x, int y, float value);

// Adds a Gaussian star centred at (x, y) with `peak` above what is there and the given
// standard deviations along x and y (equal for a round star), in r, g and b.
void addGaussianStar(ImageBuffer &image, double x, double y, double peak, double sigmaX, double sigmaY);

// A blob the mapping phase sees as exactly `corePixels` pixels: one rim pixel at (x, y) with
// value `rim` (the first pixel the row scan meets), and below it, starting on row y + 1, the
// core: rows of four pixels at columns x - 1 ... x + 2 with value `core`, the last row shorter.
void addCountedBlob(ImageBuffer &image, int x, int y, int corePixels, float rim = 0.2f, float core = 0.5f);

// Index of the star nearest to (x, y) if it lies within maxDistance, else -1.
int nearestStar(const std::vector<StarRecord> &stars, double x, double y, double maxDistance);

// Four pattern stars at the given positions with distinct brightnesses 4, 3, 2, 1.
std::vector<PatternStar> patternStars(const double (&xy)[4][2]);

// Grey synthetic frames of one night (300 stars per 400 x 300 pixels), frame i moved by
// moves[i] and with noise seed i + 1, written as float FITS "<prefix>-<i>.fits" (replacing
// files an earlier test left), with the registration that undoes each move.
struct FieldMove {
    double shiftX, shiftY, degrees;
};
struct SyntheticFrames {
    QStringList paths;
    std::vector<SyntheticRegistration> truth;
};
SyntheticFrames writeSyntheticFrames(const QString &prefix, const std::vector<FieldMove> &moves, int width = 400,
                                     int height = 300);

} // namespace testsupport
