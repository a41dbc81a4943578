#pragma once
// Master calibration frames: several single frames (flats, darks, bias frames or dark flats)
// stacked into one master, then post-processed by type. The desktop program's master-frame
// panel and `verdanix-cli master` share this run.
//
// Threads: generateMasterFrame runs a MultiFB driver, so it is called where that may run (see
// multifb.h); it returns when the master is done or the stack has ended.
#include <QString>

#include <memory>

class ImageBuffer;
class MessageLog;
class MultiFB;

enum class MasterType { Flat = 0, Dark = 1, Bias = 2, DarkFlat = 3 };

struct MasterFrameOptions {
    MasterType type = MasterType::Flat;
    int method = 0;    // 0 median, 1 average, 2 sigma
    int rejection = 0; // 0 none, 1 winsorize, 2 trim; not used by the median
    // Flats only: scale each channel so that its 99.9 % point becomes 1.0.
    bool normalizeChannels = false;
    QString biasPath;     // flat, dark and dark flat: subtracted from each single frame
    QString darkFlatPath; // flat: subtracted from each single frame
};

// "Master Flat", "Master Dark", "Master Bias", "Master Darkflat".
QString masterFrameTitle(MasterType type);

// The rejection mode a master run uses: the box's choice for the average and sigma, none for
// the median.
int masterRejectionMode(const MasterFrameOptions &options);

// Stacks the frames of `fb` into a master: the masters the type takes, the rejection, the
// status line and driver of the method, then a range scan, "Generating histogram...", and by
// type: a flat optionally normalised per channel at its 99.9 % points (values above 1.0
// limited to 1.0); a dark, bias or dark flat logs "Highest pixel data: " with the highest of
// its three 99 % points. The result has white level 1.0 and black level 0.0. Null on error or
// abort; the caller reports that ("Aborted.").
std::unique_ptr<ImageBuffer> generateMasterFrame(MultiFB &fb, const MasterFrameOptions &options, MessageLog &log);

// The post-processing alone, on a stacked master (exposed for tests): returns false when the
// histogram could not be had.
bool finishMasterFrame(ImageBuffer &master, const MasterFrameOptions &options, MessageLog &log);
