// The whole search: its log, its results, the marked output image, and how well it finds the
// stars of a synthetic field and of a real one.
#include "calib/calibarithmetic.h"
#include "image/imageloader.h"
#include "stars/starfinder.h"
#include "stars/starmarks.h"
#include "support/capturinglog.h"
#include "testdata/starfield.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

using testsupport::addGaussianStar;
using testsupport::CapturingLog;
using testsupport::flatImage;

namespace {

// Five separated round stars on a 0.05 sky. At the default threshold of 0.1 a star needs 16
// pixels 0.2 above the sky, so these are bright ones.
std::unique_ptr<ImageBuffer> fiveStars(bool colour)
{
    auto image = flatImage(200, 160, 0.05f, colour);
    const double positions[5][2] = {{40.3, 40.6}, {120.2, 35.1}, {160.7, 90.4}, {70.5, 120.2}, {110.1, 80.8}};
    for (int i = 0; i < 5; ++i)
        addGaussianStar(*image, positions[i][0], positions[i][1], 0.55 + 0.08 * i, 2.0, 2.0);
    return image;
}

std::string joined(const QStringList &lines)
{
    return lines.join('\n').toStdString();
}

} // namespace

TEST(StarFinder, LogsEachPhaseWithItsCountsInOrder)
{
    auto image = fiveStars(true);
    CapturingLog log;
    starFinder finder(image.get(), &log);
    EXPECT_EQ(finder.searchStars(10, 0.1f, 0.98f), 0);
    EXPECT_TRUE(finder.starCount == 5 && finder.patternCount == 2);
    EXPECT_EQ(joined(log.lines()),
              joined({"Calculating background color...", "Converting buffer to grayscale...",
                      "Phase 1: Mapping stars...", "Mapping done.", "Detected 5 star candidates.",
                      "Phase 2: Star matching", "Search done. Stars remaining: 5",
                      "Average FWHM: " + logNumber(finder.averageFwhm), "Phase 3: Triangulation",
                      "List generation done (i=2)."}));

    // A grey image skips the conversion line; an image too small for the margins finds
    // nothing, averages no FWHM and builds no pattern.
    auto grey = fiveStars(false);
    CapturingLog greyLog;
    starFinder(grey.get(), &greyLog).searchStars(StarSearchParameters{});
    EXPECT_FALSE(greyLog.contains("Converting buffer to grayscale..."));
    auto tiny = flatImage(40, 40, 0.1f);
    CapturingLog tinyLog;
    starFinder none(tiny.get(), &tinyLog);
    none.searchStars(10, 0.1f, 0.98f);
    EXPECT_TRUE(none.starCount == 0 && none.patternCount == 0 && std::isnan(none.averageFwhm));
    EXPECT_EQ(joined(tinyLog.lines()), joined({"Calculating background color...", "Phase 1: Mapping stars...",
                                               "Mapping done.", "Detected 0 star candidates.",
                                               "Phase 2: Star matching", "Search done. Stars remaining: 0",
                                               "Average FWHM: nan"}));
}

TEST(StarFinder, SixHundredStarsAreCountedButOnlyTheBrightestFiveHundredMakePatterns)
{
    // A grid of 30 x 20 round stars, 32 px apart, each a little brighter than the one before.
    auto image = flatImage(30 * 32 + 64, 20 * 32 + 64, 0.05f);
    for (int j = 0; j < 20; ++j)
        for (int i = 0; i < 30; ++i)
            addGaussianStar(*image, 48.0 + 32 * i + 0.1 * (j % 7), 48.0 + 32 * j + 0.13 * (i % 5),
                            0.55 + 0.0006 * (j * 30 + i), 2.0, 2.0);
    starFinder finder(image.get(), nullptr);
    finder.searchStars(10, 0.1f, 0.98f);
    EXPECT_TRUE(finder.starCount == 600 && finder.patternCount == 497);
    // The accepted list keeps all 600, brightest first; the patterns use the first 500 only.
    const std::vector<StarRecord> &stars = finder.acceptedStars();
    ASSERT_EQ(stars.size(), 600u);
    EXPECT_TRUE(std::is_sorted(stars.begin(), stars.end(),
                               [](const StarRecord &a, const StarRecord &b) { return a.brightness > b.brightness; }));
    for (const StarPattern &pattern : finder.patterns)
        for (const PatternStar &s : pattern.stars)
            EXPECT_GE(s.brightness, stars[499].brightness);
}

TEST(StarFinder, TheMarkedImageRingsEveryStarInRedAtTheImagesOwnScale)
{
    auto image = fiveStars(true);
    image->whiteLevel = 2.0f;
    starFinder finder(image.get(), nullptr);
    finder.searchStars(10, 0.1f, 0.98f);
    EXPECT_FALSE(finder.outputImage) << "made only when asked for";
    finder.markStars = true;
    finder.searchStars(10, 0.1f, 0.98f);
    ASSERT_TRUE(finder.outputImage);
    ASSERT_EQ(finder.starCount, 5);
    for (const StarRecord &star : finder.acceptedStars()) {
        const float *ring = finder.outputImage->pixel(static_cast<int>(std::lround(star.x + starRingRadius(star))),
                                                      static_cast<int>(std::lround(star.y)));
        EXPECT_TRUE(ring[0] == 2.0f && ring[1] == 0.0f);
        const int cx = static_cast<int>(std::lround(star.x));
        const int cy = static_cast<int>(std::lround(star.y));
        EXPECT_EQ(finder.outputImage->pixel(cx, cy)[0], image->pixel(cx, cy)[0]) << "the star itself stays";
    }
    EXPECT_EQ(image->pixel(0, 0)[0], 0.05f) << "the searched image is not touched";
    // 1.5 x the width figure, between 3 and 50 pixels.
    EXPECT_EQ(starRingRadius(StarRecord{0, 0, 4.0f, 1, true}), 6.0f);
    EXPECT_EQ(starRingRadius(StarRecord{0, 0, NAN, 1, true}), 3.0f);
    EXPECT_EQ(starRingRadius(StarRecord{0, 0, 90.0f, 1, true}), 50.0f);
}

TEST(StarFinder, FindsTheBrightIsolatedStarsOfASyntheticFieldAtTheirPlaces)
{
    SyntheticFieldOptions options; // 1024 x 768, 300 stars, Moffat profiles, noise 0.002
    const SyntheticField field = makeSyntheticField(options);
    starFinder finder(field.image.get(), nullptr);
    finder.searchStars(10, 0.01f, 0.98f);
    int wanted = 0, found = 0;
    double squares = 0.0;
    for (const SyntheticStar &star : field.stars) {
        const bool isolated = std::none_of(field.stars.begin(), field.stars.end(), [&](const SyntheticStar &o) {
            return &o != &star && std::hypot(o.x - star.x, o.y - star.y) < 15.0;
        });
        if (star.saturated || star.peak < 0.1 || !isolated || star.x < 25 || star.y < 25
            || star.x > options.width - 25 || star.y > options.height - 25)
            continue;
        ++wanted;
        const int match = testsupport::nearestStar(finder.acceptedStars(), star.x, star.y, 1.0);
        if (match >= 0) {
            ++found;
            const StarRecord &s = finder.acceptedStars()[match];
            squares += (s.x - star.x) * (s.x - star.x) + (s.y - star.y) * (s.y - star.y);
        }
    }
    ASSERT_GT(wanted, 50);
    EXPECT_GE(found, 0.95 * wanted) << found << " of " << wanted;
    EXPECT_LT(std::sqrt(squares / found), 0.3);
}

TEST(StarFinder, FindsManyStarsInARealClusterImage)
{
    const QString path = QDir(QStringLiteral(VERDANIX_DATA_DIR)).filePath("fits/singles/M6707HH.fits");
    if (!QFileInfo::exists(path))
        GTEST_SKIP() << "real data not available";
    ImageLoader loader;
    std::unique_ptr<ImageBuffer> image = loader.loadFile(path, false);
    ASSERT_TRUE(image && normalizeImage(*image));
    starFinder finder(image.get(), nullptr);
    finder.searchStars(10, 0.01f, 0.98f);
    EXPECT_GT(finder.starCount, 300);
    EXPECT_EQ(finder.patternCount, 497);
}
