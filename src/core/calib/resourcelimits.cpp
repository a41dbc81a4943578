#include "resourcelimits.h"

#include "platform/machine.h"
#include "platform/settingsfile.h"

#include <algorithm>
#include <limits>

namespace {
constexpr std::uint64_t kBytesPerMB = std::uint64_t{1} << 20;
constexpr int kPercent = 100;
} // namespace

ResourcePreferences readRunPreferences()
{
    ResourcePreferences prefs;
    prefs.maxThreads = settingsfile::maxThreads(settingsfile::kRunMaxThreads);
    prefs.maxMem = settingsfile::maxMem(settingsfile::kRunMaxMemMB);
    prefs.memPercent = settingsfile::memPercent();
    prefs.debayerFits = settingsfile::debayerFits();
    return prefs;
}

std::uint64_t stackingMemoryBudgetBytes(const ResourcePreferences &prefs, std::uint64_t availableBytes)
{
    const std::int64_t availableMB = static_cast<std::int64_t>(bytesToMegabytes(availableBytes));
    if (prefs.maxMem < availableMB)
        return prefs.maxMem > 0 ? static_cast<std::uint64_t>(prefs.maxMem) * kBytesPerMB : 0;
    if (prefs.memPercent <= 0)
        return 0;
    // Split so that the product cannot overflow even for absurd percentages.
    const auto percent = static_cast<std::uint64_t>(prefs.memPercent);
    return availableBytes / kPercent * percent + availableBytes % kPercent * percent / kPercent;
}

int calibrationMemoryLimitMB(const ResourcePreferences &prefs, std::uint64_t availableBytes)
{
    const auto availableMB = static_cast<std::int64_t>(bytesToMegabytes(availableBytes));
    // Integer percent on purpose: a float factor of MemPercent x 0.01 would make 29 % of
    // 100 MB come out as 28 MB.
    const std::int64_t limit = availableMB * prefs.memPercent / kPercent;
    if (prefs.maxMem > limit)
        return static_cast<int>(std::max<std::int64_t>(limit, std::numeric_limits<int>::min()));
    return prefs.maxMem;
}

CalibrationThreads calibrationThreads(const ResourcePreferences &prefs, int limitMB, int width, int height)
{
    CalibrationThreads result;
    const std::int64_t pixels = std::int64_t{std::max(width, 0)} * std::max(height, 0);
    // pixels x 43 / 2^20 without the product, which could overflow for absurd sizes.
    const auto mb = static_cast<std::int64_t>(kBytesPerMB);
    result.perFrameMB = pixels / mb * kCalibrationBytesPerPixel + pixels % mb * kCalibrationBytesPerPixel / mb;
    result.threads = std::max(prefs.maxThreads, 1);
    std::int64_t wanted = 0;
    const bool overflows = __builtin_mul_overflow(result.perFrameMB, std::int64_t{prefs.maxThreads}, &wanted);
    if (result.perFrameMB > 0 && (overflows || wanted > limitMB)) {
        const std::int64_t fitting = limitMB / result.perFrameMB;
        result.threads = static_cast<int>(std::max<std::int64_t>(fitting, 1));
        result.reduced = true;
    }
    return result;
}

ResourcePreferences dialogDefaults(int hardwareThreads, const MachineMemory &memory)
{
    ResourcePreferences prefs;
    prefs.maxThreads = std::max(hardwareThreads / 2, 1);
    const std::uint64_t halfMB = bytesToMegabytes(memory.totalBytes) / 2;
    prefs.maxMem = static_cast<int>(std::min<std::uint64_t>(halfMB, std::numeric_limits<int>::max()));
    prefs.memPercent = settingsfile::kDefaultMemPercent;
    return prefs;
}
