#pragma once
// Star detection: the measured star, the search parameters and their defaults.
//
// Coordinates are pixels, origin top-left, y down, in pixel index units: x = 5.0 is the
// centre of column 5. Plain values: copy them freely between threads.

// One star. During mapping it is a candidate (brightness = its peak gray value, fwhm 0);
// after measuring, brightness is the mean aperture value above the local sky.
struct StarRecord {
    float x = 0.0f;
    float y = 0.0f;
    float fwhm = 0.0f;
    float brightness = 0.0f;
    bool accepted = false;
};

// The registration and star-search dialogs' defaults: a search window of 2 x 10 + 1 pixels,
// a star 0.1 above the sky, saturation at 0.98 (values of a normalised image, 0 ... 1).
constexpr int kDefaultStarSize = 10;
constexpr float kDefaultStarThreshold = 0.1f;
constexpr float kDefaultMaxBrightness = 0.98f;
// The range of the dialogs' star-size box.
constexpr int kMinStarSize = 1;
constexpr int kMaxStarSize = 20;

// What one search looks for. The same struct is filled by the dialogs, the console and the
// command line.
struct StarSearchParameters {
    // s: half width of the search window in pixels; the window is (2s + 1) x (2s + 1) and
    // nothing nearer than 2s to an edge is searched.
    int maxStarSize = kDefaultStarSize;
    // Brightness step above the background (and above a star's first pixel) that marks a star,
    // in the image's units.
    float threshold = kDefaultStarThreshold;
    // Gray value at or above which a star counts as saturated and is not used.
    float maxBrightness = kDefaultMaxBrightness;
    // Take the threshold from the frame's own sky noise instead (autothreshold.h); the value
    // above is then not used.
    bool autoThreshold = false;
};
