// Pattern matching between frames and the clipped estimate of each frame's transformation.
#include "calib/calibarithmetic.h"
#include "image/imageloader.h"
#include "stars/starcompare.h"
#include "stars/starfinder.h"
#include "support/capturinglog.h"
#include "testdata/starfield.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <random>

#include <gtest/gtest.h>

using testsupport::CapturingLog;

namespace {

// A star list in whole pixels (so that shifting it is exact in float), brightest first.
std::vector<StarRecord> starList(int count, int width, int height, double shiftX = 0, double shiftY = 0)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> column(40, width - 40);
    std::uniform_int_distribution<int> row(40, height - 40);
    std::vector<StarRecord> stars;
    for (int i = 0; i < count; ++i) {
        const float x = static_cast<float>(column(rng));
        const float y = static_cast<float>(row(rng));
        stars.push_back(StarRecord{static_cast<float>(x + shiftX), static_cast<float>(y + shiftY), 3.0f,
                                   static_cast<float>(count - i), true});
    }
    return stars;
}

StarPattern patternWith(float longestSide, float distance3, float distance4, float rotX3, float rotY3, float rotX4,
                        float rotY4)
{
    StarPattern p;
    p.longestSide = longestSide;
    p.stars[1].distance = longestSide;
    p.stars[2].distance = distance3;
    p.stars[3].distance = distance4;
    p.rotX3 = rotX3;
    p.rotY3 = rotY3;
    p.rotX4 = rotX4;
    p.rotY4 = rotY4;
    return p;
}

// Searches both images and estimates how the frame lies against the reference.
Transformation registerPair(const ImageBuffer &reference, const ImageBuffer &frame, float threshold)
{
    starFinder referenceFinder(&reference, nullptr);
    starFinder frameFinder(&frame, nullptr);
    referenceFinder.searchStars(10, threshold, 0.98f);
    frameFinder.searchStars(10, threshold, 0.98f);
    CapturingLog log;
    StarCompare compare(2, reference.width, reference.height, &log);
    compare.addFrame(referenceFinder.patterns);
    compare.addFrame(frameFinder.patterns);
    return compare.computeTransformation(compare.matchPatterns(1));
}

} // namespace

TEST(StarCompare, IdenticalPatternListsGiveNoMovementAndAStackableFrame)
{
    const std::vector<StarPattern> patterns = buildPatterns(starList(40, 1000, 800), kPatternsByNeighbours);
    CapturingLog log;
    StarCompare compare(2, 1000, 800, &log);
    EXPECT_TRUE(compare.addFrame(patterns));
    EXPECT_TRUE(compare.addFrame(patterns));
    EXPECT_FALSE(compare.addFrame(patterns)) << "only two slots";
    EXPECT_TRUE(compare.matchPatterns(5).empty());

    const std::vector<PatternMatch> found = compare.matchPatterns(1);
    ASSERT_GE(found.size(), 3u);
    for (const PatternMatch &m : found)
        EXPECT_TRUE(m.dx == 0.0f && m.dy == 0.0f && m.dAngle == 0.0f);
    const Transformation t = compare.computeTransformation(found);
    EXPECT_TRUE(t.offsetX == 0.0f && t.offsetY == 0.0f && t.angle == 0.0f);
    EXPECT_EQ(t.matchCount, static_cast<int>(found.size()));
    EXPECT_TRUE(t.stackable());
    const QStringList expected = {"(Pass 1) Deviation: 0, 0, 0",
                                  QString("Calculated transformation from %1 matches.").arg(found.size()),
                                  "Average Movement: 0,0", "Average Rotation: 0 degree"};
    EXPECT_EQ(log.lines().join('\n').toStdString(), expected.join('\n').toStdString());
}

TEST(StarCompare, AFrameShiftedByFiveAndMinusThreeMovesBackByMinusFiveAndThree)
{
    const std::vector<StarPattern> reference = buildPatterns(starList(60, 1000, 800), kPatternsByNeighbours);
    const std::vector<StarPattern> frame = buildPatterns(starList(60, 1000, 800, 5, -3), kPatternsByNeighbours);
    const std::vector<PatternMatch> found = matchPatternLists(reference, frame, 1000, 800);
    ASSERT_GE(found.size(), 3u);
    for (const PatternMatch &m : found)
        EXPECT_TRUE(m.dx == -5.0f && m.dy == 3.0f && m.dAngle == 0.0f) << m.dx << ", " << m.dy;
    CapturingLog log;
    const Transformation t = estimateTransformation(found, log);
    EXPECT_TRUE(t.offsetX == -5.0f && t.offsetY == 3.0f && t.angle == 0.0f);
    EXPECT_TRUE(t.stackable());
    EXPECT_TRUE(log.contains("Average Movement: -5,3"));
}

TEST(StarCompare, MeasuresMustDifferByLessThanTheToleranceToMatch)
{
    const StarPattern r = patternWith(100, 60, 70, 20, -30, -25, -40);
    const float values[7] = {100, 60, 70, 20, -30, -25, -40};
    for (int measure = 0; measure < 7; ++measure) {
        for (float delta : {10.0f, -10.0f, 9.99f, -9.99f}) {
            float v[7];
            std::copy(values, values + 7, v);
            v[measure] += delta;
            const StarPattern p = patternWith(v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
            const bool matched = !matchPatternLists({r}, {p}, 1000, 800).empty();
            EXPECT_EQ(matched, std::fabs(delta) < 10.0f) << "measure " << measure << " delta " << delta;
        }
    }
    // The angle is what a match measures, not a measure of shape.
    StarPattern turned = r;
    turned.angle = 120.0f;
    EXPECT_EQ(matchPatternLists({r}, {turned}, 1000, 800).size(), 1u);
    // No more matches than the reference has patterns.
    EXPECT_EQ(matchPatternLists({r, r}, {r, r, r, r}, 1000, 800).size(), 2u);
}

TEST(StarCompare, TheFrameIsTurnedAboutItsCentreBeforeTheOffsetIsTaken)
{
    // A frame pattern turned 30 degrees counter-clockwise against the reference, its first star 100 px
    // right of the centre (500, 400): turned back it lies 100 px along the reference direction.
    StarPattern r = patternWith(100, 60, 70, 20, -30, -25, -40);
    r.stars[0].x = 600.0f;
    r.stars[0].y = 400.0f;
    StarPattern p = r;
    r.angle = 40.0f;
    p.angle = 10.0f;
    const std::vector<PatternMatch> found = matchPatternLists({r}, {p}, 1001, 801);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].dAngle, 30.0f);
    // Turned back clockwise on screen by 30 degrees, (100, 0) from the centre goes to
    // (100 cos 30, 100 sin 30); the offset is the rest of the way to (600, 400).
    EXPECT_NEAR(found[0].dx, 100.0 - 100.0 * std::cos(M_PI / 6), 1e-3);
    EXPECT_NEAR(found[0].dy, -100.0 * std::sin(M_PI / 6), 1e-3);
}

TEST(StarCompare, ClippingDropsOutliersAndReportsEachPass)
{
    std::vector<PatternMatch> set;
    for (int i = 0; i < 20; ++i)
        set.push_back(PatternMatch{2.0f + 0.01f * (i % 5), -1.0f, 0.5f});
    set.push_back(PatternMatch{300.0f, 50.0f, 40.0f}); // a false match far away
    CapturingLog log;
    const Transformation t = estimateTransformation(set, log);
    EXPECT_EQ(t.matchCount, 20);
    EXPECT_NEAR(t.offsetX, 2.02, 1e-5);
    EXPECT_FLOAT_EQ(t.offsetY, -1.0f);
    // The log shows the mean angle difference, the result stores its negative.
    EXPECT_FLOAT_EQ(t.angle, -0.5f);
    EXPECT_TRUE(log.contains("Average Rotation: 0.5 degree"));
    EXPECT_TRUE(log.contains("Calculated transformation from 20 matches."));
    EXPECT_TRUE(log.lines().first().startsWith("(Pass 1) Deviation: 0.014"));
}

TEST(StarCompare, ASpreadStillAboveTenAfterFivePassesMakesTheFrameUnstackable)
{
    // Matches spread evenly over 2000 px: each one-sigma pass keeps the middle part, and five
    // passes do not bring the spread down to 10.
    std::vector<PatternMatch> set;
    for (int i = 0; i < 400; ++i)
        set.push_back(PatternMatch{-1000.0f + 5.0f * i, 1000.0f - 5.0f * ((i * 7) % 400), 0.0f});
    CapturingLog log;
    const Transformation t = estimateTransformation(set, log);
    EXPECT_EQ(t.matchCount, 0);
    EXPECT_FALSE(t.stackable());
    EXPECT_EQ(log.lines().filter("Deviation:").size(), 5);
    EXPECT_TRUE(log.lines()[4].startsWith("(Pass 5) "));
    // The angles' spread counts the same as the offsets'.
    std::vector<PatternMatch> turned;
    for (int i = 0; i < 400; ++i)
        turned.push_back(PatternMatch{2.0f, -1.0f, -1000.0f + 5.0f * i});
    EXPECT_EQ(estimateTransformation(turned, log).matchCount, 0);

    // No match at all: no numbers, no matches, and the loop still ends.
    const Transformation none = estimateTransformation({}, log);
    EXPECT_TRUE(std::isnan(none.offsetX));
    EXPECT_EQ(none.matchCount, 0);
    EXPECT_TRUE(log.contains("Calculated transformation from 0 matches."));
}

TEST(StarCompare, RecoversTheCropOffsetOfARealClusterImage)
{
    const QString path = QDir(QStringLiteral(VERDANIX_DATA_DIR)).filePath("fits/singles/M6707HH.fits");
    if (!QFileInfo::exists(path))
        GTEST_SKIP() << "real data not available";
    ImageLoader loader;
    std::unique_ptr<ImageBuffer> reference = loader.loadFile(path, false);
    ASSERT_TRUE(reference && normalizeImage(*reference));
    // The frame lacks the reference's first 7 columns and 4 rows: a star at (x, y) in the
    // reference lies at (x - 7, y - 4) in the frame.
    ImageBuffer frame(reference->width - 7, reference->height - 4);
    for (int y = 0; y < frame.height; ++y)
        std::copy_n(reference->pixel(7, y + 4), frame.width * ImageBuffer::kFloatsPerPixel, frame.pixel(0, y));
    frame.channels = reference->channels;
    const Transformation t = registerPair(*reference, frame, 0.01f);
    EXPECT_TRUE(t.stackable());
    EXPECT_NEAR(t.offsetX, 7.0, 0.05);
    EXPECT_NEAR(t.offsetY, 4.0, 0.05);
    EXPECT_NEAR(t.angle, 0.0, 0.01);
}
