#pragma once
// The resource rules of the batch runs: how many worker threads and how much memory a run
// may take, from the user's preferences and the machine's figures. Memory figures are bytes
// or megabytes (MB = 2^20 bytes) as each name says.
//
// A run calls readRunPreferences() once, on the GUI thread, when it starts, and passes the
// result and the machine figures of that moment (platform/machine.h) to the pure functions
// below; nothing else reads the settings file for a run, and a change saved during a run
// counts from the next one. The functions keep no state and may be called from any thread.
#include <cstdint>

struct MachineMemory;

struct ResourcePreferences {
    int maxThreads = 8;  // worker threads at a time
    int maxMem = 1024;   // MB the run may use
    int memPercent = 50; // share of the available physical memory the run may use
    // FITS colour mosaics (BAYERPAT) load as colour images; the front end hands this to the
    // loaders (setDefaultLoadOptions in image/imageloader.h) when a run starts.
    bool debayerFits = false;
};

// Group Preferences of verdanix.ini with the runs' defaults (8 threads, 1024 MB, 50 %, no
// debayering). The values are used as stored, even when an edited file holds ones the dialog
// would not offer.
ResourcePreferences readRunPreferences();

// Stacking: maxMem MB when that is below the available memory, else availableBytes x
// memPercent / 100 (computed exactly in 64-bit integers). Negative preferences give 0.
std::uint64_t stackingMemoryBudgetBytes(const ResourcePreferences &prefs, std::uint64_t availableBytes);

// Light-frame calibration: maxMem, lowered to trunc(available MB x memPercent / 100) when it
// is above that.
int calibrationMemoryLimitMB(const ResourcePreferences &prefs, std::uint64_t availableBytes);

// Memory a calibration thread is reckoned to need: 43 bytes per pixel (the frame as loaded,
// its FITS planes and the RAW decoder's own buffers).
constexpr std::int64_t kCalibrationBytesPerPixel = 43;

struct CalibrationThreads {
    std::int64_t perFrameMB = 0; // width x height x 43 / 2^20, integer division
    int threads = 1;             // threads to run at once, at least 1
    bool reduced = false;        // the memory limit lowered maxThreads to `threads`
};

// threads = min(maxThreads, limitMB / perFrameMB), at least 1. A frame reckoned at 0 MB (an
// image under 24386 pixels, or a size that could not be read) never reduces the count.
CalibrationThreads calibrationThreads(const ResourcePreferences &prefs, int limitMB, int width, int height);

// What the preferences dialog proposes while nothing is stored: half the hardware threads
// (at least 1), half the total physical memory in MB, 50 %. The runs' defaults differ
// (ResourcePreferences above): until the dialog is saved once, runs use 8 threads and 1024 MB.
ResourcePreferences dialogDefaults(int hardwareThreads, const MachineMemory &memory);
