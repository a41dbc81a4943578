// The invalid-value scan: one line per infinite, not-a-number or zero component, in pixel order, then the extremes of
// each channel.
#include "process/invalidvalues.h"
#include "processfixtures.h"

using namespace processtest;

TEST(InvalidValues, EachHitIsOneLineInPixelAndTestOrderThenTheExtremes)
{
    // A NaN first pixel starts the extremes at 0.
    auto image = pixelsOf(3, 2, {kNaN, 0.1f,  0.2f,  1, 0.5f, 0.25f, 0.75f, 1, 0,    -kInf, kNaN,  1,
                                 0.5f, 0.25f, 0.75f, 1, kInf, 0,     0,     1, 0.5f, 0.25f, 0.75f, 1});
    CapturingLog log;
    EXPECT_EQ(scanInvalidValues(*image, log).reported, 7);
    EXPECT_EQ(log.lines(),
              QStringList({"'Not a number' Red: 0,0", "Infinite Green: 2,0", "'Not a number' Blue: 2,0",
                           "Zero Red: 2,0", "Infinite Red: 1,1", "Zero Green: 1,1", "Zero Blue: 1,1",
                           "Minimum color values: R=0 G=-inf B=0", "Maximum color values: R=inf G=0.25 B=0.75"}));

    // An image of zeros comes in batches, and the abort flag stops it between them.
    ImageBuffer zeros(100, 100);
    CapturingLog many;
    int batches = 0;
    scanInvalidValues(zeros, many, [&] { ++batches; });
    EXPECT_EQ(many.lines().size(), 3 * 100 * 100 + 2);
    EXPECT_EQ(batches, 3 * 100 * 100 / kInvalidValueBatchLines);
    std::atomic<bool> abort{true};
    CapturingLog stopped;
    EXPECT_TRUE(scanInvalidValues(zeros, stopped, {}, &abort).aborted);
    const int lines = stopped.lines().size();
    EXPECT_TRUE(lines >= kInvalidValueBatchLines && lines < kInvalidValueBatchLines + 3) << "one batch, no extremes";
}
