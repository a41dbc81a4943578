// The band size a stack takes from the memory budget, row by row.
#include "stack/stackbudget.h"
#include "stackfixtures.h"

using stacktest::preferences;

constexpr std::uint64_t kMB = std::uint64_t{1} << 20;

TEST(StackBudget, BandRowsFollowTheBudgetRowByRow)
{
    const struct {
        const char *what;
        int maxMem, memPercent;
        std::uint64_t available;
        int frames, width, height;
        bool fromMaxMem;
        std::int64_t budgetMB;
        int rows, maxScanlines;
    } cases[] = {
        {"maxMem below the free memory sets the budget", 4000, 10, 8000 * kMB, 20, 6000, 4000, true, 4000, 1747, 1747},
        {"half the free memory when maxMem is above it", 4000, 50, 2000 * kMB, 20, 6000, 4000, false, 1000, 436, 436},
        {"1000 MB for 20 frames 6000 wide", 1000, 50, 8000 * kMB, 20, 6000, 4000, true, 1000, 436, 436},
        {"maxMem equal to the free memory takes the share", 2000, 25, 2000 * kMB, 20, 6000, 4000, false, 500, 218, 218},
        {"the band holds whole frames", 1024, 50, 16000 * kMB, 5, 64, 100, true, 1024, 167772, 100},
        {"tight: one row", 1, 50, 8000 * kMB, 8, 6000, 4000, true, 1, 1, 1},
        {"nothing fits", 1, 50, 8000 * kMB, 100, 6000, 4000, true, 1, 0, 0},
        {"no memory available", 1024, 50, 0, 20, 3000, 2000, false, 0, 0, 0},
    };
    for (const auto &c : cases) {
        const StackBandPlan plan =
            planStackBands(preferences(8, c.maxMem, c.memPercent), c.available, c.frames, c.width, c.height);
        EXPECT_EQ((std::tuple{plan.fromMaxMem, plan.budgetMB, plan.rows, plan.maxScanlines}),
                  (std::tuple{c.fromMaxMem, c.budgetMB, c.rows, c.maxScanlines}))
            << c.what;
    }
    // The full-frame estimate counts every thread: 6000 x 8 x 4000 x 20 bytes = 3662.1 MB, truncated.
    EXPECT_EQ(planStackBands(preferences(8), 8000 * kMB, 20, 6000, 4000).fullFrameLoadMB, 3662);
    EXPECT_EQ(planStackBands(preferences(1), 8000 * kMB, 2, 64, 48).fullFrameLoadMB, 0);
    // Registered frames reckon 28 bytes a pixel: 1000 x 2^20 / 28 / 20 / 6000 = 312.08; half of 2000 MB.
    EXPECT_EQ(registeredBandRows(preferences(8, 1000), 8000 * kMB, 20, 6000), 312);
    EXPECT_EQ(registeredBandRows(preferences(8, 4000), 2000 * kMB, 20, 6000), 312);
    EXPECT_EQ(registeredBandRows(preferences(8, 1), 8000 * kMB, 100, 6000), 0);
    EXPECT_EQ(registeredBandRows(preferences(8, 1024), 16000 * kMB, 2, 64), 299593);
}
