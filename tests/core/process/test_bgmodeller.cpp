// The background model: the per-pixel interpolation on known geometries, the automatic
// offset, the fast square root, the generation's log and its independence of the thread
// count and of the vector path, and the two buffer operations that follow it.
#include "process/bgmodeller.h"
#include "processfixtures.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <algorithm>

using namespace processtest;

namespace {

// Markers as {x, y, r, g, b}.
void addMarkers(bgmodeller &model, std::initializer_list<std::array<float, 5>> markers)
{
    for (const auto &m : markers) {
        model.markerX << static_cast<int>(m[0]);
        model.markerY << static_cast<int>(m[1]);
        model.markerR << m[2];
        model.markerG << m[3];
        model.markerB << m[4];
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

bool sameValue(const ModelValue &a, const ModelValue &b)
{
    const float fa[6] = {a.smooth.r, a.smooth.g, a.smooth.b, a.plain.r, a.plain.g, a.plain.b};
    const float fb[6] = {b.smooth.r, b.smooth.g, b.smooth.b, b.plain.r, b.plain.g, b.plain.b};
    return std::memcmp(fa, fb, sizeof fa) == 0 && std::memcmp(&a.ratio, &b.ratio, sizeof a.ratio) == 0;
}

// The generation's lines with the two that depend on the clock replaced.
QStringList untimedLines(QStringList lines)
{
    for (QString &line : lines)
        if (line.startsWith("Benchmark: Duration:") || line.startsWith("Benchmark:    Speed:"))
            line = "(timing)";
    return lines;
}

} // namespace

TEST(BackgroundModel, TwoMarkersMeetMidwayAPixelOnOneIsZeroAndExponentOneHalfExactlyTakesTheFastRoot)
{
    bgmodeller model;
    addMarkers(model, {{0, 0, 0.2f, 0.4f, 0.6f}, {10, 0, 1, 1, 1}});
    model.exponent = 1.0;
    const FloatRGB mid = model.evaluateModel(5, 0);
    EXPECT_FLOAT_EQ(mid.r, 0.6f);
    EXPECT_FLOAT_EQ(mid.b, 0.8f);
    EXPECT_FLOAT_EQ(model.lastPlain.r, 0.6f);
    EXPECT_NEAR(model.lastRatio, 1.0, 1e-6);
    model.exponent = 0.5;
    EXPECT_FLOAT_EQ(model.evaluateModel(5, 3).g, 0.7f) << "the fast root weighs equal distances equally";
    // On a marker with offset 0 the smooth weight is infinite, so the colour is NaN and becomes
    // 0, and so does the ratio.
    EXPECT_EQ(rgbOf(model.evaluateModel(0, 0)), (RGB{0, 0, 0}));
    EXPECT_EQ(model.lastRatio, 0.0);
    EXPECT_EQ(model.lastPlain.g, 0.0f);
    // With an offset only the plain weight is infinite: the ratio becomes the sum of smooth
    // weights, 1/4 + 1/5 for markers at 0 and 3 (within the fast root's accuracy).
    model.markerX[1] = 3;
    model.offset = 16;
    EXPECT_NEAR(model.evaluateModel(0, 0).r, (0.2 / 4 + 1.0 / 5) / 0.45, 1e-3);
    EXPECT_NEAR(model.lastRatio, 0.45, 1e-3);
    EXPECT_TRUE(std::isfinite(model.lastPlain.r));

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
    bgmodeller model;
    // Squared distances from (0, 0): 25, 49, 36.
    addMarkers(model, {{5, 0, 0, 0, 0}, {0, 7, 0, 0, 0}, {0, -6, 0, 0, 0}});
    EXPECT_EQ(model.nearestTwo(0, 0), 0);
    EXPECT_TRUE(model.nearestSq == 25 && model.secondSq == 36) << model.nearestSq << " " << model.secondSq;
    // Two markers at the same distance: the first is the nearest and the second candidate
    // starts at the same distance, so both are 25.
    bgmodeller tie;
    addMarkers(tie, {{-5, 0, 0, 0, 0}, {5, 0, 1, 1, 1}});
    EXPECT_EQ(tie.nearestTwo(0, 0), 0);
    EXPECT_TRUE(tie.nearestSq == 25 && tie.secondSq == 25) << tie.nearestSq << " " << tie.secondSq;
    // The automatic offset at (0, 3), 34 from both, is (2 * 34) / 4.
    tie.offset = kAutomaticOffset;
    tie.exponent = 1.3;
    const ModelValue automatic = tie.modelValueAt(0, 3);
    tie.offset = (2 * 34) / 4;
    EXPECT_TRUE(sameValue(automatic, tie.modelValueAt(0, 3)));
    EXPECT_EQ(bgmodeller().nearestTwo(1, 1), -1);
}

TEST(BackgroundModel, RowKernelEqualsPixelEvaluationBitForBit)
{
    // Both group widths: the SSE2 one and the widest this processor offers. The markers are
    // more than one chunk of the wide kernel, whose sums must carry across chunks.
    bgmodeller model;
    addScatteredMarkers(model);
    for (int i = 0; i < 70; ++i)
        addMarkers(model, {{(i * 7) % 41 - 2.0f, (i * 5) % 27 - 2.0f, 0.01f * i, 0.5f, 1.0f - 0.01f * i}});
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
    for (const auto &[exponent, offset] : {std::pair{0.5, 0}, {0.5, kAutomaticOffset}, {1.3, 100}}) {
        std::unique_ptr<ImageBuffer> reference;
        double referenceFactor = 0.0;
        QStringList referenceLines;
        for (int threads : {1, 2, 3}) {
            CapturingLog log;
            bgmodeller model;
            addScatteredMarkers(model);
            model.exponent = exponent;
            model.offset = offset;
            model.multiplier = 1.5;
            model.console = &log;
            model.threadCount = threads;
            bool delivered = false;
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [&] { delivered = true; }, Qt::QueuedConnection);
            auto result = model.getSmoothBg(*image);
            ASSERT_TRUE(result);
            EXPECT_TRUE(delivered) << threads << " threads: events are processed during the generation";
            const QList<float> progress = log.progressValues();
            ASSERT_FALSE(progress.isEmpty());
            EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
            EXPECT_TRUE(progress.first() >= 0.0f && progress.last() < 100.0f);
            EXPECT_EQ(progress.last(), std::trunc(progress.last()));
            if (reference) {
                EXPECT_TRUE(samePixels(*result, *reference)) << threads << " threads, exponent " << exponent;
                EXPECT_EQ(std::memcmp(&model.compensationFactor, &referenceFactor, sizeof referenceFactor), 0);
                EXPECT_EQ(untimedLines(log.lines()), referenceLines);
                continue;
            }
            const QStringList lines = log.lines();
            ASSERT_EQ(lines.size(), 11) << lines.join('|').toStdString();
            EXPECT_TRUE(QRegularExpression("^Benchmark: Duration: [0-9.e+-]+s$").match(lines[5]).hasMatch());
            EXPECT_TRUE(
                QRegularExpression("^Benchmark:    Speed: [0-9.e+]+ lookups/millisecond$").match(lines[6]).hasMatch());
            const double *f = model.colourCorrection;
            referenceLines = untimedLines(lines);
            EXPECT_EQ(referenceLines,
                      QStringList({"Benchmark: Starting getSmoothBg() main loop", "Benchmark:      Pixels: 12800",
                                   "Benchmark: Box markers: 7", "Benchmark:    Look-Ups: 89600",
                                   "Benchmark: getSmoothBg() main loop end", "(timing)", "(timing)",
                                   "compensation factor = " + logNumber(model.compensationFactor),
                                   "color correction factors: " + logNumber(f[0]) + "; " + logNumber(f[1]) + "; "
                                       + logNumber(f[2]),
                                   "applying color correction to background...", "Finished background generation."}));
            // The scale is C times the multiplier times the single-precision 2.2; the colour
            // factors change nothing.
            EXPECT_DOUBLE_EQ(model.outputScale, model.compensationFactor * 1.5 * 2.200000047683716);
            EXPECT_EQ(result->getPixel(5, 3).g,
                      static_cast<float>(model.modelValueAt(5, 3).smooth.g * model.outputScale));
            EXPECT_EQ(result->getPixel(4, 4).a, 1.0f);
            EXPECT_EQ(levels(*result), levels(*image));
            if (offset == 0) {
                // The two weight sums agree except on the seven marker pixels, whose ratio is 0.
                EXPECT_NEAR(model.compensationFactor, (12800 - 7) / 12800.0, 1e-5);
                EXPECT_EQ(result->getPixel(20, 11).r, 0.0f);
            }
            referenceFactor = model.compensationFactor;
            reference = std::move(result);
        }
    }
    EXPECT_FALSE(bgmodeller().getSmoothBg(ImageBuffer(0, 0)));
}

TEST(BackgroundModel, SubtractChannelMinimumAndSubtractClamped)
{
    auto image = filledImage(2, 2, 10.0f, 10.0f, 10.0f);
    setPixel(*image, 0, 0, 3.0f, 12.0f, 9.0f, 0.5f);
    setPixel(*image, 1, 0, 4.0f, 5.0f, 8.0f);
    setPixel(*image, 0, 1, 6.0f, 6.0f, 7.0f);
    auto shifted = subtractChannelMinimum(*image);
    EXPECT_EQ(rgb(*shifted, 0, 0), (RGB{0, 7, 2}));
    EXPECT_EQ(rgb(*shifted, 0, 1), (RGB{3, 1, 0}));
    EXPECT_EQ(rgb(*shifted, 1, 1), (RGB{7, 5, 3}));
    EXPECT_EQ(shifted->getPixel(0, 0).a, 0.5f);
    EXPECT_EQ(image->getPixel(0, 0).r, 3.0f);

    // Never negative, never NaN, alpha 1, the image's levels.
    image->whiteLevel = 255.0f;
    image->blackLevel = 1.0f;
    image->channels = 2;
    setPixel(*image, 1, 0, std::nanf(""), 5.0f, kInf, 0.0f);
    auto model = filledImage(2, 2, 2.0f, 7.0f, 5.0f);
    setPixel(*model, 1, 0, 2.0f, 1.0f, kInf);
    auto flat = subtractClamped(*image, *model);
    EXPECT_EQ(rgb(*flat, 0, 0), (RGB{1, 5, 4}));
    EXPECT_EQ(rgb(*flat, 1, 1), (RGB{8, 3, 5}));
    EXPECT_EQ(rgb(*flat, 0, 1), (RGB{4, 0, 2})) << "6 - 7 is clamped";
    EXPECT_EQ(rgb(*flat, 1, 0), (RGB{0, 4, 0})) << "NaN reads as 0; inf - inf";
    EXPECT_EQ(flat->getPixel(1, 0).a, 1.0f);
    EXPECT_TRUE(flat->whiteLevel == 255.0f && flat->blackLevel == 1.0f && flat->channels == 2);
}
