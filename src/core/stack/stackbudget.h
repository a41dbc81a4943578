#pragma once
// How many rows of every frame a stack holds at once (one band), from the user's memory
// preferences and the available physical memory. Pure functions of their inputs, so that each
// decision can be checked row by row; the frame buffer calls them once per run.
//
// The arithmetic is single precision on purpose: the band size has always been computed that
// way, and a double would move the truncation at a few boundaries (and with it the bands).
#include "calib/resourcelimits.h"

#include <cstdint>

// Bytes a stack reckons per pixel and frame: the band itself (16) plus what loading it costs.
constexpr int kStackBytesPerPixel = 20;
// The same for registered frames, whose loaders hold the source rows beside the band.
constexpr int kRegisteredBytesPerPixel = 28;

struct StackBandPlan {
    // True when maxMem set the budget (it is below the available memory), false when the
    // share MemPercent of the available memory did.
    bool fromMaxMem = false;
    // The budget in MB as the log shows it: maxMem, or floor(available MB x MemPercent / 100).
    std::int64_t budgetMB = 0;
    // Rows of every frame the budget holds: trunc(budget / 20 / frames / width), at least 0.
    int rows = 0;
    // Rows per band: min(rows, height). 0 when not even one row of every frame fits.
    int maxScanlines = 0;
    // What loading every frame whole on maxThreads threads would take, for the log:
    // width x maxThreads x height x 20 / 2^20 MB.
    std::int64_t fullFrameLoadMB = 0;
};

StackBandPlan planStackBands(const ResourcePreferences &prefs, std::uint64_t availableBytes, int frames, int width,
                             int height);

// Rows of every registered frame the budget holds, by the same choice of budget at 28 bytes
// per pixel: trunc(maxMem x 2^20 / 28 / frames / frameWidth) when maxMem is below the available
// memory, else trunc(available x MemPercent / 100 / 28 / frames / frameWidth). At least 0.
int registeredBandRows(const ResourcePreferences &prefs, std::uint64_t availableBytes, int frames, int frameWidth);
