#pragma once
// The invalid-value scan behind the console's "checkvals": every infinite, not-a-number and
// zero colour component of an image, one line each, then the smallest and largest value of
// each channel.
//
// Lines, by pixel in row order and, per pixel, in the order of the tests and then red, green,
// blue: "Infinite Red: x,y", "'Not a number' Green: x,y", "Zero Blue: x,y", ...; at the end
// "Minimum color values: R=r G=g B=b" and "Maximum color values: ...". A NaN component is not
// a zero and counts as 0 for the extremes; infinities count as they are.
// Threads: reads the buffer only; any thread, the log being thread-safe.
#include "image/floatrgb.h"

#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>

class ImageBuffer;
class MessageLog;

// Lines handed to the log at a time: an image of zeros has three lines per pixel, and one
// call per line would keep the console busy for hours.
constexpr int kInvalidValueBatchLines = 4096;

struct InvalidValueScan {
    FloatRGB minimum; // 0 for an image without pixels
    FloatRGB maximum;
    std::int64_t reported = 0; // invalid or zero components found
    bool aborted = false;      // the abort flag ended the scan; no extremes were logged
};

// Scans `image`, logging through log.logMessages in batches of at most
// kInvalidValueBatchLines. `betweenBatches` (may be empty) runs after each batch, so that a
// caller on the GUI thread can keep the window live; the abort flag (may be null) is looked at
// there too.
InvalidValueScan scanInvalidValues(const ImageBuffer &image, MessageLog &log,
                                   const std::function<void()> &betweenBatches = {},
                                   const std::atomic<bool> *abort = nullptr);
