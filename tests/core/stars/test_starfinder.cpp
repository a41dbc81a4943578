// The star search phase by phase (candidates, their measures, four-star patterns) and as a
// whole: its log, its results and the marked image.
#include "stars/starfinder.h"
#include "stars/starmapping.h"
#include "stars/starmarks.h"
#include "stars/starmeasure.h"
#include "stars/starpattern.h"
#include "support/capturinglog.h"
#include "testdata/starfield.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numeric>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {
struct Mapped {
    std::vector<StarRecord> candidates;
    int marks = 0;
};

// Maps the image with background 0, threshold 0.1.
Mapped mapImage(const ImageBuffer &image, int s = 10, float maxBrightness = 0.98f)
{
    std::vector<std::uint8_t> marks;
    Mapped result{mapStars(makeGrayImage(image), 0.0f, StarSearchParameters{s, 0.1f, maxBrightness}, marks)};
    result.marks = std::accumulate(marks.begin(), marks.end(), 0);
    return result;
}

// A black image with one blob of `core` bright pixels whose rim pixel lies at (x, y).
std::unique_ptr<ImageBuffer> blob(int core, int x = 30, int y = 30, int width = 60, int height = 60)
{
    auto image = flatImage(width, height, 0.0f);
    testsupport::addCountedBlob(*image, x, y, core);
    return image;
}

StarRecord star(float x, float y, float brightness) { return StarRecord{x, y, 3.0f, brightness, true}; }

bool samePattern(const StarPattern &a, const StarPattern &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

StarPattern patternOf(const double (&xy)[4][2], const std::array<int, 4> &order = {0, 1, 2, 3})
{
    const std::vector<PatternStar> s = testsupport::patternStars(xy);
    return makePattern(s[order[0]], s[order[1]], s[order[2]], s[order[3]]);
}

// Five separated round stars on a 0.05 sky, well above the default threshold of 0.1.
std::unique_ptr<ImageBuffer> fiveStars(bool colour)
{
    auto image = flatImage(200, 160, 0.05f, colour);
    const double positions[5][2] = {{40.3, 40.6}, {120.2, 35.1}, {160.7, 90.4}, {70.5, 120.2}, {110.1, 80.8}};
    for (int i = 0; i < 5; ++i)
        addGaussianStar(*image, positions[i][0], positions[i][1], 0.55 + 0.08 * i, 2.0, 2.0);
    return image;
}

std::string joined(const QStringList &lines) { return lines.join('\n').toStdString(); }
} // namespace

TEST(StarMapping, ABlobNeedsSixteenPixelsAboveItsFirstPixelPlusTheThresholdNoSaturationNoCutAndRoomFromTheEdges)
{
    const Mapped kept = mapImage(*blob(16));
    ASSERT_EQ(kept.candidates.size(), 1u);
    // The centroid of the 4 x 4 core (columns 29 ... 32, rows 31 ... 34) without the rim; the peak.
    const StarRecord &c = kept.candidates[0];
    EXPECT_TRUE(c.x == 30.5f && c.y == 32.5f && c.brightness == 0.5f && kept.marks == 16) << c.x << ", " << c.y;
    const Mapped dropped = mapImage(*blob(15));
    EXPECT_TRUE(dropped.candidates.empty() && dropped.marks == 0) << "a dropped blob gives its marks back";
    auto image = blob(20);
    setGray(*image, 31, 33, 0.99f);
    const Mapped saturated = mapImage(*image);
    EXPECT_TRUE(saturated.candidates.empty() && saturated.marks == 0);
    EXPECT_EQ(mapImage(*image, 10, 1.5f).candidates.size(), 1u) << "not saturated at a higher limit";
    // Bright on the window's bottom row (30 + s): the window cuts something larger; one row up: part of the blob.
    auto border = blob(16);
    setGray(*border, 25, 40, 0.9f);
    EXPECT_TRUE(mapImage(*border).candidates.empty());
    setGray(*border, 25, 40, 0.0f);
    setGray(*border, 25, 39, 0.9f);
    EXPECT_EQ(mapImage(*border).marks, 17);
    // With s = 10 on 100 x 100, windows open at the rim pixel on rows and columns 20 ... 79 only;
    // narrower than 4s + 1, nothing is scanned.
    const struct {
        int width, x, y, s;
        std::size_t found;
    } cases[] = {{100, 20, 50, 10, 1}, {100, 19, 50, 10, 0}, {100, 79, 50, 10, 1}, {100, 80, 50, 10, 0},
                 {100, 50, 20, 10, 1}, {100, 50, 19, 10, 0}, {100, 50, 79, 10, 1}, {100, 50, 80, 10, 0},
                 {40, 20, 50, 10, 0},  {40, 20, 50, 9, 1}};
    for (const auto &c : cases)
        EXPECT_EQ(mapImage(*blob(16, c.x, c.y, c.width, 100), c.s).candidates.size(), c.found)
            << c.width << " wide, " << c.x << ", " << c.y;
}

TEST(StarMeasure, KnownAnswersOfSkyApertureEdgesWidthsAsymmetryAndTheCandidatesSkippedNearEdgesDimOrElongated)
{
    for (float v : {1e-6f, 0.5f, 2.0f, 1e4f})
        EXPECT_TRUE(fastSquareRoot(v) <= std::sqrt(v) && fastSquareRoot(v) / std::sqrt(v) > 1 - 0.0018) << v;
    // A 2 x 2 box of 0, 0, 0, 8: mean 2, sigma 3.46; the zeros within one sigma count twice: 8 / 7.
    auto image = flatImage(6, 6, 5.0f);
    for (int i = 0; i < 4; ++i)
        setGray(*image, 2 + i % 2, 2 + i / 2, i == 3 ? 8.0f : 0.0f);
    EXPECT_FLOAT_EQ(localBackground(makeGrayImage(*image), 2, 2, 2, 2), 8.0f / 7.0f);
    // 5 x 5 cutout, radii 1 and 2: the centre and its four neighbours are the aperture, the
    // diagonals and the pixels two steps out the annulus.
    std::vector<float> cutout(25, 9.0f);
    const auto at = [&](int i, int j) -> float & { return cutout[j * 5 + i]; };
    at(2, 2) = 1.0f;
    at(1, 2) = at(3, 2) = at(2, 1) = at(2, 3) = 0.5f;
    at(1, 1) = at(3, 1) = at(1, 3) = at(3, 3) = 0.2f;
    at(0, 2) = at(4, 2) = at(2, 0) = at(2, 4) = 0.3f;
    // Sky median 0.2 (lower middle, in 1/65535 steps), mean 0.25: 3 x 0.2 - 2 x 0.25 = 0.1;
    // the aperture's mean is 3 / 5.
    EXPECT_NEAR(aperturePhotometry(cutout.data(), 5, 5, 1.0f, 2.0f), 0.6 - 0.1, 1e-4);
    at(1, 2) = -0.5f; // counts as 0
    EXPECT_NEAR(aperturePhotometry(cutout.data(), 5, 5, 1.0f, 2.0f), 0.5 - 0.1, 1e-4);
    // Lit above 0.1; the right edge ends at the first unlit sample past the centre (14), not at the dip (12).
    const float profile[] = {0.0f, 0.05f, 0.3f, 0.05f, 1.0f, 0.7f, 0.2f, 0.04f, 0.0f};
    const ProfileEdges edges = profileEdges(profile, 9, 10, 14.0f, 0.1f);
    EXPECT_TRUE(edges.left == 2 && edges.right == 6) << edges.left << " ... " << edges.right;
    const float dark[] = {0.0f, 0.0f, 0.0f};
    EXPECT_EQ(profileEdges(dark, 3, 0, 1.0f, 0.1f).right, 3);
    // s = 2: the first four samples 0, 1, 0, 1 spread sqrt(1 / 3); edges 1 and 3.
    const float steps[] = {0.0f, 1.0f, 0.0f, 1.0f, 7.0f};
    EXPECT_NEAR(profileWidth(steps, 2, ProfileEdges{1, 3}), 0.588705 * std::sqrt(1.0 / 3.0) * 2, 1e-6);
    EXPECT_EQ(edgeAsymmetry(ProfileEdges{7, 13}, ProfileEdges{7, 13}, 10), 0.0);
    EXPECT_NEAR(edgeAsymmetry(ProfileEdges{2, 13}, ProfileEdges{7, 13}, 10), 5.0 / 3.0, 1e-12);
    // A left edge past the centre counts by its signed distance: |-2 - 2| = 4.
    EXPECT_NEAR(edgeAsymmetry(ProfileEdges{12, 13}, ProfileEdges{7, 13}, 10), 7.0 / 3.0, 1e-12);
    // Candidates near edges, not above 1.1 times their sky or elongated are skipped.
    auto bright = flatImage(80, 80, 0.3f);
    addGaussianStar(*bright, 40.2, 40.4, 0.5, 2.0, 2.0);
    const GrayImage gray = makeGrayImage(*bright);
    StarRecord candidate{40.2f, 40.4f, 0.0f, 0.8f, false};
    const std::optional<StarMeasurement> measured = measureCandidate(gray, candidate, 10);
    ASSERT_TRUE(measured);
    candidate.brightness = 1.1f * measured->sky;
    EXPECT_FALSE(measureCandidate(gray, candidate, 10));
    candidate.brightness = std::nextafter(1.1f * measured->sky, 2.0f);
    EXPECT_TRUE(measureCandidate(gray, candidate, 10));
    // With s = 10 on 80 pixels, centroids must lie strictly between 20 and 60; a centroid that
    // is not a number (a blob holding an infinity, with no saturation level) lies nowhere.
    for (float x : {20.0f, 20.01f, 59.99f, 60.0f, NAN}) {
        const bool inside = x > 20.0f && x < 60.0f;
        EXPECT_EQ(measureCandidate(gray, StarRecord{x, 40.0f, 0.0f, 0.9f, false}, 10).has_value(), inside) << x;
        EXPECT_EQ(measureCandidate(gray, StarRecord{40.0f, x, 0.0f, 0.9f, false}, 10).has_value(), inside) << x;
    }
    // Round stars are kept, elongated ones dropped.
    auto field = flatImage(120, 80, 0.05f);
    addGaussianStar(*field, 40.3, 40.2, 0.6, 1.8, 1.8);
    addGaussianStar(*field, 80.1, 40.4, 0.6, 0.6, 5.0);
    const GrayImage shapes = makeGrayImage(*field);
    const StarRecord round{40.3f, 40.2f, 0.0f, 0.65f, false}, elongated{80.1f, 40.4f, 0.0f, 0.65f, false};
    const std::optional<StarMeasurement> roundMeasure = measureCandidate(shapes, round, 10),
                                         longMeasure = measureCandidate(shapes, elongated, 10);
    const std::optional<StarRecord> star = measureStar(shapes, round, 10);
    ASSERT_TRUE(roundMeasure && longMeasure && star);
    EXPECT_TRUE(roundMeasure->roundness > 0.8f && longMeasure->roundness < kMinRoundness && star->accepted);
    // The width figure is the sum of both profiles' widths, not their mean.
    EXPECT_FLOAT_EQ(star->fwhm, roundMeasure->widthX + roundMeasure->widthY);
    EXPECT_FALSE(measureStar(shapes, elongated, 10));
    EXPECT_EQ(measureStars(shapes, {elongated, round}, 10).size(), 1u);
}

TEST(StarPatterns, TheLongestPairComesFirstTheRestAreTurnedToItOrderDoesNotMatterAndEachStarMakesOnePattern)
{
    const StarPattern p = makePattern({100, 100, 1, 0}, {160, 100, 4, 0}, {120, 110, 2, 0}, {130, 90, 3, 0});
    // A-B is the longest side; B is brighter than A, D brighter than C.
    EXPECT_TRUE(p.stars[0].x == 160 && p.stars[1].x == 100 && p.stars[2].x == 130 && p.stars[3].x == 120);
    EXPECT_FLOAT_EQ(p.longestSide, 60.0f);
    EXPECT_FLOAT_EQ(p.stars[2].distance, std::sqrt(1000.0f));
    EXPECT_FLOAT_EQ(p.angle, -90.0f) << "0 degrees is straight up (-y), +90 towards +x: A lies towards -x from B";
    // Turned so that A lies at (0, -60): D (-30, -10 from B) goes to (10, -30), C (-40, 10) to (-10, -40).
    const float turned[] = {p.rotX3, p.rotY3, p.rotX4, p.rotY4}, expected[] = {10, -30, -10, -40};
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(turned[i], expected[i], 1e-4) << i;
    // The same four stars in any order give the same pattern.
    const double xy[4][2] = {{512.3, 200.7}, {530.1, 260.2}, {470.9, 231.4}, {505.5, 240.0}};
    std::array<int, 4> order = {0, 1, 2, 3};
    do
        EXPECT_TRUE(samePattern(patternOf(xy), patternOf(xy, order)));
    while (std::next_permutation(order.begin(), order.end()));
    // Equal sides: of a square's diagonals the later pair wins; first-third must beat first-second outright.
    EXPECT_EQ(patternOf({{0, 0}, {10, 0}, {10, 10}, {0, 10}}).stars[1].y, 10.0f);
    EXPECT_EQ(patternOf({{0, 0}, {6, 8}, {8, 6}, {1, 0}}).stars[1].x, 6.0f);
    // From the fourth star on, each gives one pattern of its nearest four or of the next four.
    std::vector<StarRecord> stars = {star(10, 10, 9), star(50, 12, 8), star(30, 45, 7)};
    int steps = -1;
    EXPECT_TRUE(buildPatterns(stars, kPatternsByNeighbours, &steps).empty() && steps == 0);
    stars.push_back(star(70, 60, 6));
    EXPECT_EQ(buildPatterns(stars, kPatternsByNeighbours).size(), 1u);
    stars.push_back(star(90, 20, 5));
    EXPECT_EQ(buildPatterns(stars, kPatternsByNeighbours).size(), 2u);
    EXPECT_EQ(buildPatterns(stars, kPatternsByRuns).size(), 2u);
    EXPECT_TRUE(buildPatterns(stars, 2, &steps).empty() && steps == 2) << "another mode makes the steps only";
    // Two tight groups of four far apart, listed interleaved in brightness order.
    stars = {star(100, 100, 10), star(900, 900, 9), star(110, 104, 8), star(905, 912, 7),
             star(96, 115, 6),   star(890, 905, 5), star(120, 118, 4), star(912, 897, 3)};
    EXPECT_GT(buildPatterns(stars, kPatternsByRuns)[0].longestSide, 1000.0f);
    const std::vector<StarPattern> neighbours = buildPatterns(stars, kPatternsByNeighbours);
    ASSERT_EQ(neighbours.size(), 5u);
    EXPECT_TRUE(neighbours[0].longestSide < 40.0f && neighbours[1].stars[0].x > 800.0f);
    EXPECT_TRUE(samePattern(neighbours[0], neighbours[2])) << "star 2 is in star 0's group: the same four stars";
    // Distances are whole pixels from the star's pixel corner: from (10.9, 10.9), measured
    // from (10, 10), (10.5, 10.5) is at 0 like the star itself (list order breaks the tie),
    // (12.8, 10) at trunc(-2.8) = -2, (10, 13.5) at -3.
    const std::vector<StarRecord> close = {star(10.9f, 10.9f, 5), star(10.5f, 10.5f, 4), star(30, 10, 3),
                                           star(10, 13.5f, 2), star(12.8f, 10.0f, 1)};
    EXPECT_EQ(nearestFour(close, 0), (std::vector<int>{0, 1, 4, 3}));
    EXPECT_EQ(nearestFour(close, 1)[0], 0);
}

TEST(StarFinder, LogsEachPhaseInOrderMarksStarsOnlyWhenAskedAndMakesPatternsOfTheBrightestFiveHundredOnly)
{
    auto image = fiveStars(true);
    CapturingLog log;
    starFinder finder(image.get(), &log);
    EXPECT_EQ(finder.searchStars(10, 0.1f, 0.98f), 0);
    EXPECT_TRUE(finder.starCount == 5 && finder.patternCount == 2 && !finder.outputImage) << "marks only when asked";
    EXPECT_EQ(joined(log.lines()),
              joined({"Calculating background color...", "Converting buffer to grayscale...",
                      "Phase 1: Mapping stars...", "Mapping done.", "Detected 5 star candidates.",
                      "Phase 2: Star matching", "Search done. Stars remaining: 5",
                      "Average FWHM: " + logNumber(finder.averageFwhm), "Phase 3: Triangulation",
                      "List generation done (i=2)."}));
    // Asked for, the marked image rings every star in red at the image's own scale.
    image->whiteLevel = 2.0f;
    finder.markStars = true;
    finder.searchStars(10, 0.1f, 0.98f);
    ASSERT_TRUE(finder.outputImage && finder.starCount == 5);
    for (const StarRecord &star : finder.acceptedStars()) {
        const int cx = static_cast<int>(std::lround(star.x)), cy = static_cast<int>(std::lround(star.y));
        const float *ring = finder.outputImage->pixel(static_cast<int>(std::lround(star.x + starRingRadius(star))), cy);
        EXPECT_TRUE(ring[0] == 2.0f && ring[1] == 0.0f);
        EXPECT_EQ(finder.outputImage->pixel(cx, cy)[0], image->pixel(cx, cy)[0]) << "the star itself stays";
    }
    EXPECT_EQ(image->pixel(0, 0)[0], 0.05f) << "the searched image is not touched";
    // 1.5 x the width figure, between 3 and 50 pixels.
    for (const auto &[fwhm, radius] : {std::pair{4.0f, 6.0f}, std::pair{NAN, 3.0f}, std::pair{90.0f, 50.0f}})
        EXPECT_EQ(starRingRadius(StarRecord{0, 0, fwhm, 1, true}), radius) << fwhm;
    // A grey image is not converted; one too small for the margins finds nothing and builds no pattern.
    auto grey = fiveStars(false), tiny = flatImage(40, 40, 0.1f);
    CapturingLog greyLog, tinyLog;
    starFinder(grey.get(), &greyLog).searchStars(StarSearchParameters{});
    EXPECT_FALSE(greyLog.contains("Converting buffer to grayscale..."));
    starFinder none(tiny.get(), &tinyLog);
    none.searchStars(10, 0.1f, 0.98f);
    EXPECT_TRUE(none.starCount == 0 && none.patternCount == 0 && std::isnan(none.averageFwhm));
    EXPECT_EQ(joined(tinyLog.lines().mid(3)), "Detected 0 star candidates.\nPhase 2: Star matching\n"
                                              "Search done. Stars remaining: 0\nAverage FWHM: nan");
    // Six hundred stars are counted, but only the brightest five hundred make patterns.
    // A grid of 30 x 20 round stars, 32 px apart, each a little brighter than the one before.
    auto grid = flatImage(30 * 32 + 64, 20 * 32 + 64, 0.05f);
    for (int j = 0; j < 20; ++j)
        for (int i = 0; i < 30; ++i)
            addGaussianStar(*grid, 48.0 + 32 * i + 0.1 * (j % 7), 48.0 + 32 * j + 0.13 * (i % 5),
                            0.55 + 0.0006 * (j * 30 + i), 2.0, 2.0);
    starFinder gridFinder(grid.get(), nullptr);
    gridFinder.searchStars(10, 0.1f, 0.98f);
    // The accepted list keeps all 600, brightest first; the patterns use the first 500 only.
    const std::vector<StarRecord> &stars = gridFinder.acceptedStars();
    ASSERT_TRUE(gridFinder.starCount == 600 && gridFinder.patternCount == 497 && stars.size() == 600u);
    EXPECT_TRUE(std::is_sorted(stars.begin(), stars.end(),
                               [](const StarRecord &a, const StarRecord &b) { return a.brightness > b.brightness; }));
    for (const StarPattern &pattern : gridFinder.patterns)
        for (const PatternStar &s : pattern.stars)
            EXPECT_GE(s.brightness, stars[499].brightness);
}
