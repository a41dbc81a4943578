// The measuring phase: local sky, aperture photometry, profile edges, and the tests that keep
// a candidate as a star.
#include "stars/starmeasure.h"
#include "testdata/starfield.h"

#include <cmath>

#include <gtest/gtest.h>

using testsupport::flatImage;

TEST(StarMeasure, SkyLevelsCountQuietPixelsTwiceAndUseTheFastRoot)
{
    for (float v : {1e-6f, 0.5f, 2.0f, 1e4f}) {
        EXPECT_LE(fastSquareRoot(v), std::sqrt(v)) << v;
        EXPECT_NEAR(fastSquareRoot(v) / std::sqrt(v), 1.0, 0.0018) << v;
    }
    // A 2 x 2 box of 0, 0, 0, 8: mean 2, sigma about 3.46. The zeros lie within one sigma and
    // count twice, the 8 only once: 8 / 7.
    auto image = flatImage(6, 6, 5.0f);
    testsupport::setGray(*image, 2, 2, 0.0f);
    testsupport::setGray(*image, 3, 2, 0.0f);
    testsupport::setGray(*image, 2, 3, 0.0f);
    testsupport::setGray(*image, 3, 3, 8.0f);
    EXPECT_FLOAT_EQ(localBackground(makeGrayImage(*image), 2, 2, 2, 2), 8.0f / 7.0f);
}

TEST(StarMeasure, AperturePhotometrySubtractsThreeMediansMinusTwoMeansOfTheSky)
{
    // 5 x 5 cutout, radii 1 and 2: the centre and its four neighbours form the aperture, the
    // four diagonals and the four pixels two steps out the annulus; the rest takes no part.
    std::vector<float> cutout(25, 9.0f);
    const auto at = [&](int i, int j) -> float & { return cutout[j * 5 + i]; };
    at(2, 2) = 1.0f;
    at(1, 2) = at(3, 2) = at(2, 1) = at(2, 3) = 0.5f;
    at(1, 1) = at(3, 1) = at(1, 3) = at(3, 3) = 0.2f;
    at(0, 2) = at(4, 2) = at(2, 0) = at(2, 4) = 0.3f;
    // Sky median 0.2 (the lower middle sample), mean 0.25: 3 x 0.2 - 2 x 0.25 = 0.1, up to the
    // 1/65535 steps of the median; the aperture's mean is 3 / 5.
    EXPECT_NEAR(aperturePhotometry(cutout.data(), 5, 5, 1.0f, 2.0f), 0.6 - 0.1, 1e-4);
    at(1, 2) = -0.5f; // counts as 0
    EXPECT_NEAR(aperturePhotometry(cutout.data(), 5, 5, 1.0f, 2.0f), 0.5 - 0.1, 1e-4);
}

TEST(StarMeasure, EdgesWidthsAndAsymmetryFollowTheProfiles)
{
    // Lit above 0.1; the right edge is the last sample before the first unlit one past the
    // centre (position 14), so the dip at position 12 does not end it.
    const float profile[] = {0.0f, 0.05f, 0.3f, 0.05f, 1.0f, 0.7f, 0.2f, 0.04f, 0.0f};
    const ProfileEdges edges = profileEdges(profile, 9, 10, 14.0f, 0.1f);
    EXPECT_EQ(edges.left, 2);
    EXPECT_EQ(edges.right, 6);
    const float dark[] = {0.0f, 0.0f, 0.0f};
    EXPECT_EQ(profileEdges(dark, 3, 0, 1.0f, 0.1f).right, 3);

    // s = 2: the first four samples 0, 1, 0, 1 spread sqrt(1 / 3); edges 1 and 3.
    const float steps[] = {0.0f, 1.0f, 0.0f, 1.0f, 7.0f};
    EXPECT_NEAR(profileWidth(steps, 2, ProfileEdges{1, 3}), 0.588705 * std::sqrt(1.0 / 3.0) * 2, 1e-6);

    EXPECT_EQ(edgeAsymmetry(ProfileEdges{7, 13}, ProfileEdges{7, 13}, 10), 0.0);
    EXPECT_NEAR(edgeAsymmetry(ProfileEdges{2, 13}, ProfileEdges{7, 13}, 10), 5.0 / 3.0, 1e-12);
    // A left edge past the centre counts by its signed distance: |-2 - 2| = 4.
    EXPECT_NEAR(edgeAsymmetry(ProfileEdges{12, 13}, ProfileEdges{7, 13}, 10), 7.0 / 3.0, 1e-12);
}

TEST(StarMeasure, CandidatesNearEdgesOrNotAboveOnePointOneTimesTheirSkyAreSkipped)
{
    auto image = flatImage(80, 80, 0.3f);
    testsupport::addGaussianStar(*image, 40.2, 40.4, 0.5, 2.0, 2.0);
    const GrayImage gray = makeGrayImage(*image);
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
        const StarRecord near{x, 40.0f, 0.0f, 0.9f, false};
        EXPECT_EQ(measureCandidate(gray, near, 10).has_value(), x > 20.0f && x < 60.0f) << x;
        const StarRecord transposed{40.0f, x, 0.0f, 0.9f, false};
        EXPECT_EQ(measureCandidate(gray, transposed, 10).has_value(), x > 20.0f && x < 60.0f) << x;
    }
}

TEST(StarMeasure, RoundStarsAreKeptAndElongatedOnesDropped)
{
    auto image = flatImage(120, 80, 0.05f);
    testsupport::addGaussianStar(*image, 40.3, 40.2, 0.6, 1.8, 1.8);
    testsupport::addGaussianStar(*image, 80.1, 40.4, 0.6, 0.6, 5.0);
    const GrayImage gray = makeGrayImage(*image);
    const StarRecord round{40.3f, 40.2f, 0.0f, 0.65f, false};
    const StarRecord elongated{80.1f, 40.4f, 0.0f, 0.65f, false};

    const std::optional<StarMeasurement> roundMeasure = measureCandidate(gray, round, 10);
    ASSERT_TRUE(roundMeasure);
    EXPECT_GT(roundMeasure->roundness, 0.8f);
    const std::optional<StarRecord> star = measureStar(gray, round, 10);
    ASSERT_TRUE(star);
    // The width figure is the sum of both profiles' widths, not their mean.
    EXPECT_FLOAT_EQ(star->fwhm, roundMeasure->widthX + roundMeasure->widthY);
    EXPECT_TRUE(star->accepted);

    const std::optional<StarMeasurement> longMeasure = measureCandidate(gray, elongated, 10);
    ASSERT_TRUE(longMeasure);
    EXPECT_LT(longMeasure->roundness, kMinRoundness);
    EXPECT_FALSE(measureStar(gray, elongated, 10));
    EXPECT_EQ(measureStars(gray, {elongated, round}, 10).size(), 1u);
}
