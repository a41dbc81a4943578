#pragma once
// The calibration arithmetic every calibrating path shares: range normalisation of a freshly
// loaded frame, subtraction of a master (bias, dark, dark flat) and division by a master flat.
//
// All three work in place on the target and only read the master; single-precision floats;
// nothing is clamped (results below 0 or above 1 stay). The walk covers the target's width
// and height, pixels addressed (x, y) from the top-left; a master may be smaller or larger:
// a position outside the master reads as all zero. Every pixel written gets alpha 1.0.
// Masters are used in the units they were loaded in; they are never normalised here.
//
// Threads: several threads may read one master at once; each thread owns its target.
class ImageBuffer;

// Maps r, g, b to (v - blackLevel) * (1 / (whiteLevel - blackLevel)) and sets whiteLevel 1.0,
// blackLevel 0.0; raw samples are used (a NaN stays NaN). The walk runs on the target's
// readCursor. Returns false and leaves the target untouched when the levels give no scale
// (whiteLevel equal to blackLevel), which would otherwise fill the frame with infinities.
// Callers call it only when whiteLevel is not exactly 1.0.
bool normalizeImage(ImageBuffer &target);

// target := target - master per colour channel. Both are read as getPixel reads them: a NaN
// colour sample counts as 0.
void subtractImage(ImageBuffer &target, const ImageBuffer &master);

// target := target / flat per colour channel, read as in subtractImage. An infinite quotient
// (a zero flat sample under a non-zero one) is stored as 1.0; 0 / 0 stays NaN.
void divideImage(ImageBuffer &target, const ImageBuffer &flat);
