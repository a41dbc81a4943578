#pragma once
// Weighing a night's frames by their quality: a frame taken through thin cloud or in poor
// seeing adds more noise than signal. A frame's weight is the inverse of its sky variance
// (framenormalization.h measures the noise once before the stack), divided by the square of
// its FWHM from the registration when asked; the weights are then scaled to a mean of 1, so
// that frames of equal noise weigh exactly 1 and give the unweighted result. The average and
// the sigma-clipped mean use them (weightedstatistics.h), the median does not.
// Pure functions; any thread.
#include "framenormalization.h"

#include <QString>

#include <vector>

enum class StackWeighting { None, Noise, NoiseFwhm };

// One weight per frame (all 1 for None). A frame whose noise or FWHM cannot be had (0, not a
// number) counts as an average frame in that respect.
std::vector<float> frameWeights(StackWeighting mode, const std::vector<FrameSky> &skies,
                                const std::vector<float> &fwhm);

QString weightingName(StackWeighting mode);
// "Weight of <path>: 0.83"
QString weightLine(const QString &path, float weight);
