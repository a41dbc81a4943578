#include "stackbudget.h"

#include "platform/machine.h"

#include <cmath>
#include <limits>

namespace {

// 2^20 x 0.05: maxMem in MB times this is the budget in bytes divided by 20.
constexpr float kMegabyteTwentieth = 52428.8f;
// 2^20 / 28.
constexpr float kMegabyteTwentyEighth = 37449.145f;

// trunc(value), limited to 0 .. INT_MAX (a NaN gives 0).
int truncatedRows(float value)
{
    if (!(value >= 1.0f))
        return 0;
    if (value >= static_cast<float>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

} // namespace

StackBandPlan planStackBands(const ResourcePreferences &prefs, std::uint64_t availableBytes, int frames, int width,
                             int height)
{
    StackBandPlan plan;
    if (frames <= 0 || width <= 0 || height <= 0)
        return plan;
    const auto availableMB = static_cast<std::int64_t>(bytesToMegabytes(availableBytes));
    const float memFraction = static_cast<float>(prefs.memPercent) * 0.01f;
    float rows = 0.0f;
    if (prefs.maxMem >= availableMB) {
        const float budget = static_cast<float>(availableBytes) * memFraction;
        const float budgetMB = std::floor(static_cast<float>(availableBytes) / 1048576.0f * memFraction);
        plan.budgetMB = budgetMB > 0.0f ? static_cast<std::int64_t>(budgetMB) : 0;
        rows = budget * 0.05f / static_cast<float>(frames) / static_cast<float>(width);
    } else {
        plan.fromMaxMem = true;
        plan.budgetMB = prefs.maxMem;
        rows = static_cast<float>(prefs.maxMem) * kMegabyteTwentieth / static_cast<float>(frames)
               / static_cast<float>(width);
    }
    plan.rows = truncatedRows(rows);
    plan.maxScanlines = plan.rows < height ? plan.rows : height;
    plan.fullFrameLoadMB = static_cast<std::int64_t>(width) * prefs.maxThreads * height * kStackBytesPerPixel
                           / (std::int64_t{1} << 20);
    return plan;
}

int registeredBandRows(const ResourcePreferences &prefs, std::uint64_t availableBytes, int frames, int frameWidth)
{
    if (frames <= 0 || frameWidth <= 0)
        return 0;
    const float perFrame = 1.0f / static_cast<float>(frames);
    const float perColumn = 1.0f / static_cast<float>(frameWidth);
    const auto availableMB = static_cast<std::int64_t>(bytesToMegabytes(availableBytes));
    if (prefs.maxMem < availableMB)
        return truncatedRows(static_cast<float>(prefs.maxMem) * kMegabyteTwentyEighth * perFrame * perColumn);
    const float share = static_cast<float>(prefs.memPercent) / 100.0f;
    return truncatedRows(static_cast<float>(availableBytes) * share * (1.0f / kRegisteredBytesPerPixel) * perFrame
                         * perColumn);
}
