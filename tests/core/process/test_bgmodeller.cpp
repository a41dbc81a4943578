// The background model: the per-pixel interpolation on known geometries, the automatic
// offset, the fast square root, the generation's log and its independence of the thread
// count, and the two buffer operations that follow it.
#include "process/bgmodeller.h"

#include "processfixtures.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using namespace processtest;

namespace {

struct Marker {
    int x;
    int y;
    float r;
    float g;
    float b;
};

void addMarkers(bgmodeller &model, std::initializer_list<Marker> markers)
{
    for (const Marker &m : markers) {
        model.markerX << m.x;
        model.markerY << m.y;
        model.markerR << m.r;
        model.markerG << m.g;
        model.markerB << m.b;
    }
}

// Seven markers with unlike colours, some on pixels of a 37 x 23 image, one outside it.
void addScatteredMarkers(bgmodeller &model)
{
    addMarkers(model, {{0, 0, 0.1f, 0.2f, 0.3f},
                       {36, 0, 0.4f, 0.1f, 0.2f},
                       {5, 17, 0.25f, 0.35f, 0.15f},
                       {20, 11, 0.9f, 0.8f, 0.7f},
                       {30, 22, 0.05f, 0.5f, 0.45f},
                       {12, 3, 0.33f, 0.66f, 0.99f},
                       {45, 30, 0.6f, 0.6f, 0.6f}});
}

bool sameBits(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameValue(const ModelValue &a, const ModelValue &b)
{
    return sameBits(a.smooth.r, b.smooth.r) && sameBits(a.smooth.g, b.smooth.g) && sameBits(a.smooth.b, b.smooth.b)
           && sameBits(a.plain.r, b.plain.r) && sameBits(a.plain.g, b.plain.g) && sameBits(a.plain.b, b.plain.b)
           && std::memcmp(&a.ratio, &b.ratio, sizeof a.ratio) == 0;
}

// The generation's lines without the two that depend on the clock.
QStringList untimedLines(const QStringList &lines)
{
    QStringList kept;
    for (const QString &line : lines)
        if (!line.startsWith("Benchmark: Duration:") && !line.startsWith("Benchmark:    Speed:"))
            kept << line;
    return kept;
}

} // namespace

TEST(BackgroundModel, MidwayBetweenTwoMarkersIsTheirMean)
{
    bgmodeller model;
    addMarkers(model, {{0, 0, 0, 0, 0}, {10, 0, 1, 1, 1}});
    model.offset = 0;
    model.exponent = 1.0;
    const FloatRGB mid = model.evaluateModel(5, 0);
    EXPECT_EQ(mid.r, 0.5f);
    EXPECT_EQ(mid.g, 0.5f);
    EXPECT_EQ(mid.b, 0.5f);
    EXPECT_EQ(model.lastPlain.r, 0.5f);
    EXPECT_NEAR(model.lastRatio, 1.0, 1e-6);

    // The fast square root weighs equal distances equally as well.
    model.exponent = 0.5;
    EXPECT_EQ(model.evaluateModel(5, 3).g, 0.5f);
}

TEST(BackgroundModel, PixelOnAMarker)
{
    bgmodeller model;
    addMarkers(model, {{0, 0, 0.2f, 0.4f, 0.6f}, {3, 0, 1, 1, 1}});
    // Offset 0: the smooth weight is infinite there, so the colour is NaN and becomes 0, and
    // so does the ratio.
    model.offset = 0;
    const FloatRGB onMarker = model.evaluateModel(0, 0);
    EXPECT_EQ(onMarker.r, 0.0f);
    EXPECT_EQ(onMarker.b, 0.0f);
    EXPECT_EQ(model.lastRatio, 0.0);
    EXPECT_EQ(model.lastPlain.g, 0.0f);

    // With an offset only the plain weight is infinite: the ratio becomes the sum of smooth
    // weights, 1/4 + 1/5 here (within the fast root's accuracy).
    model.offset = 16;
    const FloatRGB smooth = model.evaluateModel(0, 0);
    EXPECT_NEAR(model.lastRatio, 0.45, 1e-3);
    EXPECT_NEAR(smooth.r, (0.2 / 4 + 1.0 / 5) / 0.45, 1e-3);
    EXPECT_TRUE(std::isfinite(model.lastPlain.r));
}

TEST(BackgroundModel, NearestTwoAndTheAutomaticOffset)
{
    bgmodeller model;
    // Squared distances from (0, 0): 25, 49, 36.
    addMarkers(model, {{5, 0, 0, 0, 0}, {0, 7, 0, 0, 0}, {0, -6, 0, 0, 0}});
    EXPECT_EQ(model.nearestTwo(0, 0), 0);
    EXPECT_EQ(model.nearestSq, 25);
    EXPECT_EQ(model.secondSq, 36);

    // Two markers at the same distance: the first is the nearest and the second candidate
    // starts at the same distance, so both are 25.
    bgmodeller tie;
    addMarkers(tie, {{-5, 0, 0, 0, 0}, {5, 0, 1, 1, 1}});
    EXPECT_EQ(tie.nearestTwo(0, 0), 0);
    EXPECT_EQ(tie.nearestSq, 25);
    EXPECT_EQ(tie.secondSq, 25);

    // Automatic offset there: (2 * 25) / 4 = 12, the same as asking for 12.
    tie.offset = kAutomaticOffset;
    tie.exponent = 1.3;
    const ModelValue automatic = tie.modelValueAt(0, 3);
    tie.offset = (2 * 34) / 4; // (0, 3) is 34 from both
    EXPECT_TRUE(sameValue(automatic, tie.modelValueAt(0, 3)));

    bgmodeller none;
    EXPECT_EQ(none.nearestTwo(1, 1), -1);
}

TEST(BackgroundModel, ExponentOneHalfExactlyUsesTheFastSquareRoot)
{
    // Markers at distance 3 and 4 from the pixel, offset 3: exact weights 1/sqrt(12), 1/sqrt(19).
    bgmodeller model;
    addMarkers(model, {{0, 0, 0, 0, 0}, {7, 0, 1, 1, 1}});
    model.offset = 3;
    const double exact = (1 / std::sqrt(19.0)) / (1 / std::sqrt(12.0) + 1 / std::sqrt(19.0));

    model.exponent = 0.5;
    const double fast = model.evaluateModel(3, 0).r;
    EXPECT_GT(std::fabs(fast - exact), 1e-6);
    EXPECT_LT(std::fabs(fast - exact), 2e-3);

    model.exponent = 0.5000001;
    const double power = model.evaluateModel(3, 0).r;
    EXPECT_LT(std::fabs(power - exact), 1e-6);
}

TEST(BackgroundModel, RowKernelEqualsPixelEvaluationBitForBit)
{
    // Both group widths: the SSE2 one and the widest this processor offers. The markers are
    // more than one chunk of the wide kernel, whose sums must carry across chunks.
    for (int lanes : {4, 0}) {
        for (double exponent : {0.5, 1.3}) {
            for (int offset : {0, 10, kAutomaticOffset}) {
                bgmodeller model;
                addScatteredMarkers(model);
                for (int i = 0; i < 70; ++i)
                    addMarkers(model, {{(i * 7) % 41 - 2, (i * 5) % 27 - 2, 0.01f * i, 0.5f, 1.0f - 0.01f * i}});
                model.vectorLanes = lanes;
                model.exponent = exponent;
                model.offset = offset;
                std::vector<ModelValue> row(37);
                for (int y = 0; y < 23; ++y) {
                    model.modelRow(y, 37, row.data());
                    for (int x = 0; x < 37; ++x)
                        ASSERT_TRUE(sameValue(row[x], model.modelValueAt(x, y)))
                            << lanes << " lanes, exponent " << exponent << " offset " << offset << " at " << x << ","
                            << y;
                }
            }
        }
    }
}

TEST(BackgroundModel, ThreadCountDoesNotChangeAnyBit)
{
    auto image = filledImage(37, 23, 0.0f, 0.0f, 0.0f);
    const struct {
        double exponent;
        int offset;
    } settings[] = {{0.5, 0}, {0.5, kAutomaticOffset}, {1.3, 100}};
    for (const auto &s : settings) {
        std::unique_ptr<ImageBuffer> reference;
        double referenceFactor = 0.0;
        QStringList referenceLines;
        for (int threads : {1, 2, 3}) {
            CapturingLog log;
            bgmodeller model;
            addScatteredMarkers(model);
            model.exponent = s.exponent;
            model.offset = s.offset;
            model.multiplier = 1.5;
            model.console = &log;
            model.threadCount = threads;
            auto result = model.getSmoothBg(*image);
            ASSERT_TRUE(result);
            if (!reference) {
                reference = std::move(result);
                referenceFactor = model.compensationFactor;
                referenceLines = untimedLines(log.lines());
                continue;
            }
            EXPECT_TRUE(samePixels(*result, *reference)) << threads << " threads, exponent " << s.exponent;
            EXPECT_EQ(std::memcmp(&model.compensationFactor, &referenceFactor, sizeof referenceFactor), 0);
            EXPECT_EQ(untimedLines(log.lines()), referenceLines);
        }
    }
}

TEST(BackgroundModel, GenerationLogsCountsResultsAndScalesTheModel)
{
    auto image = filledImage(10, 10, 0.0f, 0.0f, 0.0f);
    image->whiteLevel = 65535.0f;
    image->blackLevel = 3.0f;
    CapturingLog log;
    bgmodeller model;
    addMarkers(model, {{2, 2, 0.2f, 0.4f, 0.6f}, {7, 6, 0.3f, 0.3f, 0.3f}});
    model.offset = 0;
    model.multiplier = 3.0;
    model.console = &log;
    model.threadCount = 2;
    auto result = model.getSmoothBg(*image);
    ASSERT_TRUE(result);

    QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 11) << lines.join('|').toStdString();
    EXPECT_TRUE(QRegularExpression("^Benchmark: Duration: [0-9.e+-]+s$").match(lines[5]).hasMatch());
    EXPECT_TRUE(QRegularExpression("^Benchmark:    Speed: [0-9.e+]+ lookups/millisecond$").match(lines[6]).hasMatch());
    lines[5] = lines[6] = "(timing)";
    const QString c = logNumber(model.compensationFactor);
    const double *f = model.colourCorrection;
    EXPECT_EQ(
        lines,
        QStringList({"Benchmark: Starting getSmoothBg() main loop", "Benchmark:      Pixels: 100",
                     "Benchmark: Box markers: 2", "Benchmark:    Look-Ups: 200",
                     "Benchmark: getSmoothBg() main loop end", "(timing)", "(timing)", "compensation factor = " + c,
                     "color correction factors: " + logNumber(f[0]) + "; " + logNumber(f[1]) + "; " + logNumber(f[2]),
                     "applying color correction to background...", "Finished background generation."}));

    // With offset 0 the two weight sums agree except on the two marker pixels, whose ratio is 0.
    EXPECT_NEAR(model.compensationFactor, 98.0 / 100.0, 1e-5);
    // The scale is C times the multiplier times the single-precision 2.2; the colour factors
    // change nothing.
    EXPECT_DOUBLE_EQ(model.outputScale, model.compensationFactor * 3.0 * 2.200000047683716);
    EXPECT_EQ(result->getPixel(5, 3).g, static_cast<float>(model.modelValueAt(5, 3).smooth.g * model.outputScale));
    EXPECT_EQ(result->getPixel(2, 2).r, 0.0f);
    EXPECT_EQ(result->getPixel(4, 4).a, 1.0f);
    EXPECT_EQ(result->whiteLevel, 65535.0f);
    EXPECT_EQ(result->blackLevel, 3.0f);

    EXPECT_FALSE(model.getSmoothBg(ImageBuffer(0, 0)));
}

TEST(BackgroundModel, ProgressRisesAndEventsAreProcessedDuringGeneration)
{
    auto image = filledImage(64, 200, 0.0f, 0.0f, 0.0f);
    for (int threads : {1, 2}) {
        CapturingLog log;
        bgmodeller model;
        addScatteredMarkers(model);
        model.console = &log;
        model.threadCount = threads;
        bool delivered = false;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [&] { delivered = true; }, Qt::QueuedConnection);
        ASSERT_TRUE(model.getSmoothBg(*image));
        EXPECT_TRUE(delivered) << threads << " threads";
        const QList<float> progress = log.progressValues();
        ASSERT_FALSE(progress.isEmpty());
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_GE(progress.first(), 0.0f);
        EXPECT_LT(progress.last(), 100.0f);
        EXPECT_EQ(progress.last(), std::trunc(progress.last()));
    }
}

TEST(BackgroundModel, SubtractChannelMinimumShiftsEachChannelToZero)
{
    auto image = filledImage(2, 2, 10.0f, 10.0f, 10.0f);
    setPixel(*image, 0, 0, 3.0f, 12.0f, 9.0f, 0.5f);
    setPixel(*image, 1, 0, 4.0f, 5.0f, 8.0f);
    setPixel(*image, 0, 1, 6.0f, 6.0f, 7.0f);
    auto shifted = subtractChannelMinimum(*image);
    EXPECT_EQ(shifted->getPixel(0, 0).r, 0.0f);
    EXPECT_EQ(shifted->getPixel(1, 0).g, 0.0f);
    EXPECT_EQ(shifted->getPixel(0, 1).b, 0.0f);
    EXPECT_EQ(shifted->getPixel(1, 1).r, 7.0f);
    EXPECT_EQ(shifted->getPixel(1, 1).g, 5.0f);
    EXPECT_EQ(shifted->getPixel(1, 1).b, 3.0f);
    EXPECT_EQ(shifted->getPixel(0, 0).a, 0.5f);
    EXPECT_EQ(image->getPixel(0, 0).r, 3.0f);
}

TEST(BackgroundModel, SubtractClampedIsNeverNegativeAndNeverNan)
{
    auto image = filledImage(4, 1, 5.0f, 5.0f, 5.0f);
    image->whiteLevel = 255.0f;
    image->blackLevel = 1.0f;
    image->channels = 2;
    const float inf = std::numeric_limits<float>::infinity();
    setPixel(*image, 1, 0, std::nanf(""), 5.0f, inf, 0.0f);
    auto model = filledImage(4, 1, 2.0f, 7.0f, 5.0f);
    setPixel(*model, 1, 0, 2.0f, 1.0f, inf);
    auto flat = subtractClamped(*image, *model);
    EXPECT_EQ(flat->getPixel(0, 0).r, 3.0f);
    EXPECT_EQ(flat->getPixel(0, 0).g, 0.0f); // 5 - 7
    EXPECT_EQ(flat->getPixel(0, 0).b, 0.0f);
    EXPECT_EQ(flat->getPixel(1, 0).r, 0.0f); // NaN reads as 0, minus 2
    EXPECT_EQ(flat->getPixel(1, 0).g, 4.0f);
    EXPECT_EQ(flat->data[6], 0.0f); // inf - inf
    EXPECT_EQ(flat->getPixel(1, 0).a, 1.0f);
    EXPECT_EQ(flat->whiteLevel, 255.0f);
    EXPECT_EQ(flat->blackLevel, 1.0f);
    EXPECT_EQ(flat->channels, 2);
    for (std::int64_t i = 0; i < flat->floatCount; ++i)
        EXPECT_GE(flat->data[i], 0.0f);
}
