#include "stack/rowcombiner.h"
#include "stack/stackstatistics.h"
#include "stackfixtures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

using stacktest::sameBits;

TEST(RowCombiner, EveryPathGivesTheStatisticOfThePixelsSamples)
{
    std::mt19937 random(31);
    std::uniform_real_distribution<float> value(-0.5f, 2.0f);
    std::uniform_int_distribution<int> kind(0, 40);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int frames : {1, 2, 5, 20}) {
        for (int width : {1, 3, 4, 9, 17}) {
            // Frame rows with NaN colours, pixels without a sample (alpha 0) and, once, no row.
            std::vector<std::vector<float>> data(static_cast<std::size_t>(frames));
            std::vector<const float *> rows;
            for (int i = 0; i < frames; ++i) {
                auto &row = data[static_cast<std::size_t>(i)];
                for (int x = 0; x < width; ++x) {
                    const int k = kind(random);
                    row.push_back(k == 0 ? nan : value(random));
                    row.push_back(value(random));
                    row.push_back(k == 1 ? std::numeric_limits<float>::infinity() : value(random));
                    row.push_back(k == 2 ? 0.0f : 1.0f);
                }
                rows.push_back(frames > 2 && i == 1 ? nullptr : row.data());
            }
            for (int mode : {stackstats::CombineAverage, stackstats::CombineMedian, stackstats::CombineSigma}) {
                for (int rejection : {stackstats::RejectNone, stackstats::RejectWinsorize, stackstats::RejectTrim}) {
                    RowCombiner combiner(frames, width, CombineSettings{mode, rejection, 0.2f, 1.2f});
                    std::vector<float> out(static_cast<std::size_t>(width) * 4);
                    combiner.combineRow(rows.data(), out.data());
                    for (int x = 0; x < width; ++x) {
                        for (int c = 0; c < 3; ++c) {
                            std::vector<float> samples;
                            for (int i = 0; i < frames; ++i) {
                                const float *row = rows[static_cast<std::size_t>(i)];
                                if (!row || !(row[4 * x + 3] > 0.0f))
                                    continue;
                                const float v = row[4 * x + c];
                                samples.push_back(std::isnan(v) ? 0.0f : v);
                            }
                            const float expected = stackstats::combine(samples.data(), static_cast<int>(samples.size()),
                                                                       mode, rejection, 0.2f, 1.2f);
                            EXPECT_TRUE(sameBits(out[static_cast<std::size_t>(4 * x + c)], expected))
                                << frames << " frames, width " << width << ", mode " << mode << ", rejection "
                                << rejection << ", x " << x << ", channel " << c;
                        }
                        EXPECT_EQ(out[static_cast<std::size_t>(4 * x + 3)], 1.0f);
                    }
                }
            }
        }
    }
}
