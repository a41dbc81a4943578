// Refining a registration with all stars: precise centres, the least-squares fit and outlier
// rejection against known transformations.
#include "stars/grayimage.h"
#include "stars/precisecentroid.h"
#include "stars/transformrefinement.h"
#include "testdata/starfield.h"

#include <cmath>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

namespace {
constexpr int kFrameWidth = 2000;
constexpr int kFrameHeight = 1500;
constexpr double kCx = kFrameWidth / 2, kCy = kFrameHeight / 2;

// How far apart two transformations put frame point (x, y) on the reference.
double mappingDistance(const Transformation &t, const Transformation &u, double x, double y)
{
    const auto mapped = [&](const Transformation &m) {
        const double a = m.angle * M_PI / 180.0;
        return std::pair{(x - kCx) * std::cos(a) + (y - kCy) * std::sin(a) + kCx + m.offsetX,
                         (y - kCy) * std::cos(a) - (x - kCx) * std::sin(a) + kCy + m.offsetY};
    };
    const auto [X0, Y0] = mapped(t);
    const auto [X1, Y1] = mapped(u);
    return std::hypot(X1 - X0, Y1 - Y0);
}

// The frame's view of `reference`: frame star i lies where t maps it onto reference star i.
std::vector<PreciseStar> frameStars(const std::vector<PreciseStar> &reference, const Transformation &t)
{
    const double a = t.angle * M_PI / 180.0;
    std::vector<PreciseStar> frame;
    for (const PreciseStar &star : reference) {
        const double X = star.x - kCx - t.offsetX, Y = star.y - kCy - t.offsetY;
        frame.push_back(PreciseStar{X * std::cos(a) - Y * std::sin(a) + kCx, X * std::sin(a) + Y * std::cos(a) + kCy,
                                    star.flux});
    }
    return frame;
}

std::vector<PreciseStar> randomStars(int count, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> x(0.0, kFrameWidth - 1.0), y(0.0, kFrameHeight - 1.0);
    std::vector<PreciseStar> stars;
    for (int i = 0; i < count; ++i)
        stars.push_back(PreciseStar{x(random), y(random), 1.0f});
    return stars;
}

Transformation transformation(float dx, float dy, float degrees)
{
    Transformation t;
    std::tie(t.offsetX, t.offsetY, t.angle, t.matchCount) = std::tuple{dx, dy, degrees, 5};
    return t;
}
} // namespace

TEST(TransformRefinement, ExactFromARoughEstimateStarsWithoutPartnersTakeNoPartAndTooFewPairsKeepTheEstimate)
{
    const std::vector<PreciseStar> reference = randomStars(300, 1);
    for (const Transformation &truth : {transformation(0, 0, 0), transformation(12.375f, -7.125f, 0.0f),
                                        transformation(-40.5f, 33.25f, 1.75f), transformation(3.0f, 2.0f, -179.5f)}) {
        // The pattern estimate is off by a few tenths of a pixel and, on the second run, by so
        // much angle that the corners are four pixels off: the centre's pairs put it right.
        for (const float angleError : {0.02f, 0.2f}) {
            const Transformation rough =
                transformation(truth.offsetX + 0.4f, truth.offsetY - 0.3f, truth.angle + angleError);
            const RefinedTransformation refined =
                refineTransformation(reference, frameStars(reference, truth), rough, kFrameWidth, kFrameHeight);
            ASSERT_TRUE(refined.refined) << refined.failure.toStdString();
            EXPECT_TRUE(refined.pairs == 300 && refined.residualRms < 1e-6 && refined.transformation.matchCount == 5)
                << refined.pairs;
            EXPECT_NEAR(refined.transformation.angle, truth.angle, 1e-5);
            EXPECT_LT(mappingDistance(truth, refined.transformation, 0, 0), 1e-3) << "angle " << truth.angle;
            EXPECT_LT(mappingDistance(truth, refined.transformation, kFrameWidth - 1.0, kFrameHeight - 1.0), 1e-3);
        }
    }
    // Stars without partners or moved by a pixel take no part.
    const std::vector<PreciseStar> crowded = randomStars(200, 2);
    const Transformation truth = transformation(5.5f, -3.25f, 0.3f);
    std::vector<PreciseStar> frame = frameStars(crowded, truth);
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0.0, 0.02);
    // Twenty stars moved by a pixel (a double star, a hot pixel) and forty without partner.
    for (std::size_t i = 0; i < frame.size(); ++i)
        std::tie(frame[i].x, frame[i].y) = std::pair{frame[i].x + noise(random) + (i < 20), frame[i].y + noise(random)};
    for (const PreciseStar &star : randomStars(40, 4))
        frame.push_back(star);
    const RefinedTransformation refined = refineTransformation(crowded, frame, transformation(5.0f, -3.0f, 0.28f),
                                                              kFrameWidth, kFrameHeight);
    ASSERT_TRUE(refined.refined);
    EXPECT_TRUE(refined.pairs >= 170 && refined.pairs <= 185 && refined.residualRms < 0.05) << refined.pairs;
    EXPECT_LT(mappingDistance(truth, refined.transformation, kFrameWidth - 1.0, kFrameHeight - 1.0), 0.01);
    // Too few pairs or a wrong estimate keep the pattern estimate.
    const Transformation moved = transformation(1.0f, 1.0f, 0.0f);
    const std::vector<PreciseStar> sparse = randomStars(100, 5), exact = frameStars(sparse, moved);
    const std::vector<PreciseStar> few(exact.begin(), exact.begin() + kMinRefinementPairs - 1);
    const struct {
        const std::vector<PreciseStar> &frame;
        Transformation estimate;
        const char *failure;
    } cases[] = {{few, moved, "only 7 star pairs (8 needed)"},
                 {exact, transformation(9.0f, 1.0f, 0.0f), "only 0 star pairs (8 needed)"},
                 {exact, transformation(NAN, 0.0f, 0.0f), "the pattern estimate is not a number"}};
    for (const auto &c : cases) {
        const auto failed = refineTransformation(sparse, c.frame, c.estimate, kFrameWidth, kFrameHeight);
        EXPECT_TRUE(!failed.refined && failed.failure == c.failure) << failed.failure.toStdString();
        EXPECT_EQ(failed.transformation.offsetY, c.estimate.offsetY) << "the estimate stays";
        EXPECT_EQ(refinementLine(2, "f.fits", failed).toStdString(),
                  std::string("Frame 2 (f.fits) keeps its pattern estimate: ") + c.failure + ".");
    }
}

TEST(PreciseCentroid, GaussianStarsAreCentredToAThousandthOfAPixelOnAnySky)
{
    auto image = testsupport::flatImage(120, 60, 0.1f);
    const double centres[][2] = {{8.0, 30.0}, {50.37, 31.81}, {80.5, 25.25}, {100.93, 40.06}};
    std::vector<StarRecord> found;
    for (const auto &c : centres) {
        testsupport::addGaussianStar(*image, c[0], c[1], 0.5, 1.6, 1.6);
        // The finder's centroid is a few tenths off; a star it reports twice is measured once.
        found.push_back(StarRecord{static_cast<float>(c[0] + 0.3), static_cast<float>(c[1] - 0.2), 3.0f, 1.0f, true});
        found.push_back(StarRecord{static_cast<float>(c[0] - 0.4), static_cast<float>(c[1] + 0.3), 3.0f, 0.9f, true});
    }
    const GrayImage gray = makeGrayImage(*image);
    EXPECT_NEAR(estimateStarSigma(gray, found), 1.6, 0.2);
    const std::vector<PreciseStar> precise = measurePreciseStars(gray, found);
    ASSERT_EQ(precise.size(), 3u) << "the star at (8, 30) lies too near the edge for the sky ring";
    for (std::size_t i = 0; i < precise.size(); ++i)
        EXPECT_LT(std::hypot(precise[i].x - centres[i + 1][0], precise[i].y - centres[i + 1][1]), 1e-3) << i;
}
