// Pattern matching between frames and the clipped estimate of each frame's transformation.
#include "calib/calibarithmetic.h"
#include "image/imageloader.h"
#include "stars/starcompare.h"
#include "stars/starfinder.h"
#include "support/capturinglog.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

using testsupport::CapturingLog;

namespace {
// The patterns of 60 stars on 1000 x 800, in whole pixels so that shifts are exact in float.
std::vector<StarPattern> shiftedPatterns(float shiftX, float shiftY)
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> column(40, 960), row(40, 760);
    std::vector<StarRecord> stars;
    for (int i = 0; i < 60; ++i) {
        const float x = static_cast<float>(column(rng)), y = static_cast<float>(row(rng));
        stars.push_back(StarRecord{x + shiftX, y + shiftY, 3.0f, static_cast<float>(60 - i), true});
    }
    return buildPatterns(stars, kPatternsByNeighbours);
}

// longest side, third and fourth star's distance, their turned coordinates
StarPattern patternWith(const std::array<float, 7> &m)
{
    StarPattern p;
    p.longestSide = p.stars[1].distance = m[0];
    p.stars[2].distance = m[1];
    p.stars[3].distance = m[2];
    std::tie(p.rotX3, p.rotY3, p.rotX4, p.rotY4) = std::tie(m[3], m[4], m[5], m[6]);
    return p;
}
} // namespace

TEST(StarCompare, MatchesWithinToleranceMoveAShiftedFrameBackAndClippingLeavesNoMatchWhenTheSpreadStaysAboveTen)
{
    CapturingLog log;
    StarCompare compare(2, 1000, 800, &log);
    EXPECT_TRUE(compare.addFrame(shiftedPatterns(0, 0)) && compare.addFrame(shiftedPatterns(5, -3)));
    EXPECT_FALSE(compare.addFrame(shiftedPatterns(0, 0))) << "only two slots";
    EXPECT_TRUE(compare.matchPatterns(5).empty());
    const std::vector<PatternMatch> found = compare.matchPatterns(1);
    ASSERT_GE(found.size(), 3u);
    // A deviation of 0 in the first pass: every match is the movement itself.
    const Transformation t = compare.computeTransformation(found);
    EXPECT_TRUE(t.offsetX == -5.0f && t.offsetY == 3.0f && t.angle == 0.0f && t.stackable()
                && t.matchCount == static_cast<int>(found.size()));
    const QStringList expected = {"(Pass 1) Deviation: 0, 0, 0",
                                  QString("Calculated transformation from %1 matches.").arg(found.size()),
                                  "Average Movement: -5,3", "Average Rotation: 0 degree"};
    EXPECT_EQ(log.lines().join('\n').toStdString(), expected.join('\n').toStdString());
    // Clipping drops outliers and reports each pass; a spread still above 10 after five passes leaves no match.
    std::vector<PatternMatch> set;
    for (int i = 0; i < 20; ++i)
        set.push_back(PatternMatch{2.0f + 0.01f * (i % 5), -1.0f, 0.5f});
    set.push_back(PatternMatch{300.0f, 50.0f, 40.0f}); // a false match far away
    CapturingLog clipLog, spreadLog;
    const Transformation clipped = estimateTransformation(set, clipLog);
    EXPECT_TRUE(clipped.matchCount == 20 && clipped.offsetY == -1.0f);
    EXPECT_NEAR(clipped.offsetX, 2.02, 1e-5);
    EXPECT_FLOAT_EQ(clipped.angle, -0.5f) << "the log shows the mean angle difference, the result its negative";
    EXPECT_TRUE(clipLog.contains("Average Rotation: 0.5 degree")
                && clipLog.contains("Calculated transformation from 20 matches."));
    EXPECT_TRUE(clipLog.lines().first().startsWith("(Pass 1) Deviation: 0.014"));
    // Matches spread evenly over 2000 px: each one-sigma pass keeps the middle part, and five
    // passes do not bring the spread down to 10; the angles' spread counts the same.
    std::vector<PatternMatch> spread, turned;
    for (int i = 0; i < 400; ++i) {
        spread.push_back(PatternMatch{-1000.0f + 5.0f * i, 1000.0f - 5.0f * ((i * 7) % 400), 0.0f});
        turned.push_back(PatternMatch{2.0f, -1.0f, -1000.0f + 5.0f * i});
    }
    const Transformation unstackable = estimateTransformation(spread, spreadLog);
    EXPECT_TRUE(unstackable.matchCount == 0 && !unstackable.stackable());
    EXPECT_EQ(spreadLog.lines().filter("Deviation:").size(), 5);
    EXPECT_TRUE(spreadLog.lines()[4].startsWith("(Pass 5) "));
    EXPECT_EQ(estimateTransformation(turned, spreadLog).matchCount, 0);
    // No match at all: no numbers, no matches, and the loop still ends.
    const Transformation none = estimateTransformation({}, clipLog);
    EXPECT_TRUE(std::isnan(none.offsetX) && none.matchCount == 0
                && clipLog.contains("Calculated transformation from 0 matches."));
    // Measures must differ by less than the tolerance to match.
    const std::array<float, 7> values = {100, 60, 70, 20, -30, -25, -40};
    const StarPattern r = patternWith(values);
    for (std::size_t measure = 0; measure < 7; ++measure)
        for (float delta : {10.0f, -10.0f, 9.99f, -9.99f}) {
            std::array<float, 7> v = values;
            v[measure] += delta;
            EXPECT_EQ(matchPatternLists({r}, {patternWith(v)}, 1000, 800).size(), std::fabs(delta) < 10.0f ? 1u : 0u)
                << "measure " << measure << " delta " << delta;
        }
    StarPattern rotated = r;
    rotated.angle = 120.0f;
    EXPECT_EQ(matchPatternLists({r}, {rotated}, 1000, 800).size(), 1u) << "the angle is no measure of shape";
    EXPECT_EQ(matchPatternLists({r, r}, {r, r, r, r}, 1000, 800).size(), 2u) << "one match per reference pattern";
    // A frame pattern rotated 30 degrees counter-clockwise against the reference, its first star 100 px
    // right of the centre (500, 400): rotated back clockwise it goes to (100 cos 30, 100 sin 30)
    // from the centre; the offset is the rest of the way to (600, 400).
    std::tie(rotated.stars[0].x, rotated.stars[0].y, rotated.angle) = std::tuple{600.0f, 400.0f, 10.0f};
    StarPattern reference = rotated;
    reference.angle = 40.0f;
    const std::vector<PatternMatch> matched = matchPatternLists({reference}, {rotated}, 1001, 801);
    ASSERT_EQ(matched.size(), 1u);
    EXPECT_EQ(matched[0].dAngle, 30.0f);
    EXPECT_NEAR(matched[0].dx, 100.0 - 100.0 * std::cos(M_PI / 6), 1e-3);
    EXPECT_NEAR(matched[0].dy, -100.0 * std::sin(M_PI / 6), 1e-3);
}

TEST(StarCompare, FindsTheStarsAndRecoversTheCropOffsetOfARealClusterImage)
{
    const QString path = QDir(QStringLiteral(VERDANIX_DATA_DIR)).filePath("fits/singles/M6707HH.fits");
    if (!QFileInfo::exists(path))
        GTEST_SKIP() << "real data not available";
    ImageLoader loader;
    std::unique_ptr<ImageBuffer> reference = loader.loadFile(path, false);
    ASSERT_TRUE(reference && normalizeImage(*reference));
    // The frame lacks the reference's first 7 columns and 4 rows: its stars lie 7 and 4 px further up-left.
    ImageBuffer frame(reference->width - 7, reference->height - 4);
    for (int y = 0; y < frame.height; ++y)
        std::copy_n(reference->pixel(7, y + 4), frame.width * ImageBuffer::kFloatsPerPixel, frame.pixel(0, y));
    frame.channels = reference->channels;
    starFinder referenceFinder(reference.get(), nullptr), frameFinder(&frame, nullptr);
    referenceFinder.searchStars(10, 0.01f, 0.98f);
    frameFinder.searchStars(10, 0.01f, 0.98f);
    EXPECT_TRUE(referenceFinder.starCount > 300 && referenceFinder.patternCount == 497) << referenceFinder.starCount;
    CapturingLog log;
    StarCompare compare(2, reference->width, reference->height, &log);
    EXPECT_TRUE(compare.addFrame(referenceFinder.patterns) && compare.addFrame(frameFinder.patterns));
    const Transformation t = compare.computeTransformation(compare.matchPatterns(1));
    EXPECT_TRUE(t.stackable() && std::abs(t.offsetX - 7.0f) < 0.05f && std::abs(t.offsetY - 4.0f) < 0.05f
                && std::abs(t.angle) < 0.01f)
        << t.offsetX << ", " << t.offsetY << ", " << t.angle;
}
