#pragma once
// Stacking light frames: the run that the registration dialog's "Stack" button and
// `verdanix-cli stack` share. Unregistered, the frames (of equal size) are combined pixel by
// pixel; with one transform per frame, every frame is resampled into the common frame of all
// of them first (registeredgeometry.h).
//
// Threads: runs a MultiFB driver, so it is called where that may run (see multifb.h).
#include "framenormalization.h"
#include "frameweights.h"
#include "subpixelresample.h"

#include <QString>

#include <memory>
#include <vector>

class ImageBuffer;
class MessageLog;
class MultiFB;

struct StackOptions {
    int algorithm = 0; // 0 average, 1 median, 2 sigma
    int rejection = 0; // 0 none, 1 winsorize, 2 trim
    float sigma = 1.0f;
    float fraction = 0.1f;
    QString flatPath; // masters, each optional
    QString darkPath;
    QString biasPath;
    // How registered frames are sampled; unregistered stacks ignore it.
    StackInterpolation interpolation = StackInterpolation::Nearest;
    // Frames brought to the first frame's sky before they are combined (framenormalization.h).
    StackNormalization normalization = StackNormalization::None;
    // Registered stacks: pixels outside a frame give no sample (MultiFB::setCoverage).
    bool coverage = false;
    // Frame weights (frameweights.h); NoiseFwhm takes the FWHM of the transforms.
    StackWeighting weighting = StackWeighting::None;
};

// A frame's registration: offset in pixels and angle in degrees, as the registration reports.
struct StackTransform {
    float offsetX = 0.0f;
    float offsetY = 0.0f;
    float angle = 0.0f;
    // The frame's average FWHM from its registration, for weighting by noise and FWHM.
    float fwhm = 0.0f;
};

// Sets the masters named in the options, the interpolation, the transforms (none:
// unregistered; else one per frame of fb, in its order), sigma, fraction and rejection on fb,
// then logs "Doing AVERAGE-Stacking..." (or MEDIAN, SIGMA), sets the status
// "Average-Stacking..." (or Median-, Sigma-) and runs the driver. Returns the stack, or null on error or abort (the
// caller reports "Stacking aborted."). A transform list of the wrong length is an error
// (kStackTransformIndexInvalid) before anything is read.
std::unique_ptr<ImageBuffer> runStack(MultiFB &fb, const StackOptions &options,
                                      const std::vector<StackTransform> &transforms, MessageLog &log);
