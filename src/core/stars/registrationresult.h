#pragma once
// What a registration found for one frame, in frame order; frame 0 is the reference.
// Offsets in pixels and the angle in degrees map the frame onto the reference as a
// Transformation does (starcompare.h). Plain values: copy them freely between threads.
#include <limits>

struct RegistrationResult {
    float offsetX = 0.0f; // 0 for the reference
    float offsetY = 0.0f;
    float angle = 0.0f;
    // More than two pattern matches survived the estimate; always true for the reference.
    bool stackable = false;
    float fwhm = 0.0f;  // the frame's average FWHM, not a number when no star was found
    float stars = 0.0f; // the frame's star count, held as a float as the table shows it
    // When the registration was refined with all stars (transformrefinement.h): the star pairs
    // of the fit and their RMS residual in pixels; 0 and not a number when it was not.
    int starPairs = 0;
    float residualRms = std::numeric_limits<float>::quiet_NaN();
    // The star threshold chosen for the frame when it was chosen automatically.
    float threshold = std::numeric_limits<float>::quiet_NaN();
};
