// The background model: the per-pixel interpolation on known geometries, the automatic offset, the fast square root,
// the generation's log and its independence of the thread count and of the vector path, and the two buffer operations
// that follow it.
#include "process/bgmodeller.h"
#include "processfixtures.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>

using namespace processtest;

namespace {

// Markers as x, y, r, g, b, five numbers each.
void addMarkers(bgmodeller &model, const std::vector<float> &markers)
{
    for (std::size_t i = 0; i + 4 < markers.size(); i += 5) {
        model.markerX << static_cast<int>(markers[i]);
        model.markerY << static_cast<int>(markers[i + 1]);
        model.markerR << markers[i + 2];
        model.markerG << markers[i + 3];
        model.markerB << markers[i + 4];
    }
}

// Seven markers with unlike colours, some on pixels of a 37 x 23 image, one outside it.
void addScatteredMarkers(bgmodeller &model)
{
    model.markerX = {0, 36, 5, 20, 30, 12, 45};
    model.markerY = {0, 0, 17, 11, 22, 3, 30};
    model.markerR = {0.1f, 0.4f, 0.25f, 0.9f, 0.05f, 0.33f, 0.6f};
    model.markerG = {0.2f, 0.1f, 0.35f, 0.8f, 0.5f, 0.66f, 0.6f};
    model.markerB = {0.3f, 0.2f, 0.15f, 0.7f, 0.45f, 0.99f, 0.6f};
}

// Every bit of the two colours, their alphas and the ratio.
bool sameValue(const ModelValue &a, const ModelValue &b)
{
    static_assert(sizeof(ModelValue) == 2 * sizeof(FloatRGB) + sizeof(double), "no padding to compare");
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace

TEST(BackgroundModel, TwoMarkersMeetMidwayAPixelOnOneIsZeroAndExponentOneHalfExactlyTakesTheFastRoot)
{
    bgmodeller model;
    addMarkers(model, {0, 0, 0.2f, 0.4f, 0.6f, 10, 0, 1, 1, 1});
    model.exponent = 1.0;
    const FloatRGB mid = model.evaluateModel(5, 0);
    for (float error : {mid.r - 0.6f, mid.b - 0.8f, model.lastPlain.r - 0.6f})
        EXPECT_NEAR(error, 0.0f, 3e-7f);
    EXPECT_NEAR(model.lastRatio, 1.0, 1e-6);
    model.exponent = 0.5;
    // On a marker with offset 0 the smooth weight is infinite, so the colour is NaN and becomes 0, and so does the
    // ratio.
    EXPECT_EQ(rgbOf(model.evaluateModel(0, 0)), (RGB{0, 0, 0}));
    EXPECT_TRUE(model.lastRatio == 0.0 && model.lastPlain.g == 0.0f);
    // With an offset only the plain weight is infinite: the ratio becomes the sum of smooth weights, 1/4 + 1/5 for
    // markers at 0 and 3 (within the fast root's accuracy).
    model.markerX[1] = 3;
    model.offset = 16;
    EXPECT_NEAR(model.evaluateModel(0, 0).r, (0.2 / 4 + 1.0 / 5) / 0.45, 1e-3);
    EXPECT_NEAR(model.lastRatio, 0.45, 1e-3);
    // At distances 3 and 4 with offset 3 the exact weights are 1/sqrt(12) and 1/sqrt(19).
    const double exact = (0.2 / std::sqrt(12.0) + 1 / std::sqrt(19.0)) / (1 / std::sqrt(12.0) + 1 / std::sqrt(19.0));
    model.markerX[1] = 7;
    model.offset = 3;
    const double fast = model.evaluateModel(3, 0).r;
    EXPECT_TRUE(std::fabs(fast - exact) > 1e-6 && std::fabs(fast - exact) < 2e-3) << fast;
    model.exponent = 0.5000001;
    EXPECT_NEAR(model.evaluateModel(3, 0).r, exact, 1e-6);
}

TEST(BackgroundModel, NearestTwoAndTheAutomaticOffset)
{
    // Index, nearest and second squared distance from (0, 0).
    using Nearest = std::array<std::int64_t, 3>;
    const auto nearest = [](bgmodeller &m) { return Nearest{m.nearestTwo(0, 0), m.nearestSq, m.secondSq}; };
    bgmodeller model, tie;
    addMarkers(model, {5, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0, -6, 0, 0, 0});
    EXPECT_EQ(nearest(model), (Nearest{0, 25, 36}));
    // A tie: the first is the nearest and the second candidate starts at the same distance.
    addMarkers(tie, {-5, 0, 0, 0, 0, 5, 0, 1, 1, 1});
    EXPECT_EQ(nearest(tie), (Nearest{0, 25, 25}));
    // The automatic offset at (0, 3), 34 from both, is (2 * 34) / 4.
    tie.offset = kAutomaticOffset;
    tie.exponent = 1.3;
    const ModelValue automatic = tie.modelValueAt(0, 3);
    tie.offset = (2 * 34) / 4;
    EXPECT_TRUE(sameValue(automatic, tie.modelValueAt(0, 3)));
    bgmodeller none;
    EXPECT_EQ(nearest(none), (Nearest{-1, 0, 0}));
}

TEST(BackgroundModel, RowKernelEqualsPixelEvaluationBitForBit)
{
    // Both group widths: the SSE2 one and the widest this processor offers. The markers are more than one chunk of the
    // wide kernel, whose sums must carry across chunks.
    bgmodeller model;
    addScatteredMarkers(model);
    for (int i = 0; i < 70; ++i)
        addMarkers(model, {(i * 7) % 41 - 2.0f, (i * 5) % 27 - 2.0f, 0.01f * i, 0.5f, 1.0f - 0.01f * i});
    std::vector<ModelValue> row(37);
    for (int lanes : {4, 0})
        for (double exponent : {0.5, 1.3})
            for (int offset : {0, 10, kAutomaticOffset}) {
                model.vectorLanes = lanes;
                model.exponent = exponent;
                model.offset = offset;
                for (int y = 0; y < 23; ++y) {
                    model.modelRow(y, 37, row.data());
                    for (int x = 0; x < 37; ++x)
                        ASSERT_TRUE(sameValue(row[x], model.modelValueAt(x, y)))
                            << lanes << " lanes, exponent " << exponent << " offset " << offset << " at " << x << ","
                            << y;
                }
            }
}

TEST(BackgroundModel, GenerationLogsAndScalesTheModelAndNoThreadCountChangesABit)
{
    auto image = filledImage(64, 200, 0.0f, 0.0f, 0.0f);
    setLevels(*image, {65535, 3, 3});
    // The two lines that depend on the clock are compared by their form only.
    const QRegularExpression timing("^Benchmark: Duration: [0-9.e+-]+s\\|"
                                    "Benchmark:    Speed: [0-9.e+]+ lookups/millisecond$");
    for (const auto &[exponent, offset] : {std::pair{0.5, 0}, {0.5, kAutomaticOffset}, {1.3, 100}}) {
        std::unique_ptr<ImageBuffer> first;
        double firstFactor = 0.0;
        QStringList firstLines;
        for (int threads : {1, 3}) { // 200 rows do not split evenly over 3 threads
            SCOPED_TRACE(testing::Message() << threads << " threads, exponent " << exponent << ", offset " << offset);
            CapturingLog log;
            bgmodeller model;
            addScatteredMarkers(model);
            model.exponent = exponent, model.offset = offset, model.multiplier = 1.5;
            model.console = &log, model.threadCount = threads;
            bool delivered = false;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [&] { delivered = true; }, Qt::QueuedConnection);
            auto result = model.getSmoothBg(*image);
            ASSERT_TRUE(result);
            EXPECT_TRUE(delivered) << "events are processed during the generation";
            const QList<float> progress = log.progressValues();
            EXPECT_TRUE(!progress.isEmpty() && std::is_sorted(progress.begin(), progress.end())
                        && progress.first() >= 0.0f && progress.last() < 100.0f
                        && progress.last() == std::trunc(progress.last()));
            QStringList lines = log.lines();
            ASSERT_EQ(lines.size(), 11) << lines.join('|').toStdString();
            EXPECT_TRUE(timing.match(lines[5] + '|' + lines[6]).hasMatch());
            lines[5] = lines[6] = "(timing)";
            if (first) {
                EXPECT_TRUE(samePixels(*result, *first) && lines == firstLines
                            && std::memcmp(&model.compensationFactor, &firstFactor, sizeof firstFactor) == 0);
                continue;
            }
            const double *f = model.colourCorrection;
            EXPECT_EQ(lines,
                      QStringList({"Benchmark: Starting getSmoothBg() main loop", "Benchmark:      Pixels: 12800",
                                   "Benchmark: Box markers: 7", "Benchmark:    Look-Ups: 89600",
                                   "Benchmark: getSmoothBg() main loop end", "(timing)", "(timing)",
                                   "compensation factor = " + logNumber(model.compensationFactor),
                                   "color correction factors: " + logNumber(f[0]) + "; " + logNumber(f[1]) + "; "
                                       + logNumber(f[2]),
                                   "applying color correction to background...", "Finished background generation."}));
            // The scale is C times the multiplier times the single-precision 2.2; the colour factors change nothing.
            EXPECT_DOUBLE_EQ(model.outputScale, model.compensationFactor * 1.5 * 2.200000047683716);
            const FloatRGB m = model.modelValueAt(5, 3).smooth;
            const double scale = model.outputScale;
            EXPECT_EQ(rgbOf(result->getPixel(5, 3)), (RGB{float(m.r * scale), float(m.g * scale), float(m.b * scale)}));
            EXPECT_TRUE(result->getPixel(4, 4).a == 1.0f && levels(*result) == levels(*image));
            // With offset 0 the weight sums agree except on the seven marker pixels, whose ratio is 0.
            EXPECT_TRUE(offset != 0
                        || (std::fabs(model.compensationFactor - (12800 - 7) / 12800.0) < 1e-5
                            && result->getPixel(20, 11).r == 0.0f));
            first = std::move(result), firstFactor = model.compensationFactor, firstLines = lines;
        }
    }
    EXPECT_FALSE(bgmodeller().getSmoothBg(ImageBuffer(0, 0)));
}

TEST(BackgroundModel, SubtractChannelMinimumAndSubtractClamped)
{
    auto image = pixelsOf(2, 2, {3, 12, 9, 0.5f, 4, 5, 8, 1, 6, 6, 7, 1, 10, 10, 10, 1});
    // Minus the channel minima (3, 5, 7), alpha kept; the source stays as it was.
    EXPECT_EQ(floatsOf(*subtractChannelMinimum(*image)), (Floats{0, 7, 2, 0.5f, 1, 0, 1, 1, 3, 1, 0, 1, 7, 5, 3, 1}));
    EXPECT_EQ(image->getPixel(0, 0).r, 3.0f);
    // Never negative (6 - 7), never NaN (NaN reads as 0; inf - inf), alpha 1, the image's levels.
    setLevels(*image, {255, 1, 2});
    setPixel(*image, 1, 0, kNaN, 5.0f, kInf, 0.0f);
    auto model = filledImage(2, 2, 2.0f, 7.0f, 5.0f);
    setPixel(*model, 1, 0, 2.0f, 1.0f, kInf);
    auto flat = subtractClamped(*image, *model);
    EXPECT_EQ(floatsOf(*flat), (Floats{1, 5, 4, 1, 0, 4, 0, 1, 4, 0, 2, 1, 8, 3, 5, 1}));
    EXPECT_EQ(levels(*flat), (Levels{255, 1, 2}));
}
