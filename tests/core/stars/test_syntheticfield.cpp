// The synthetic star fields that the star tests and benchmarks rely on.
#include "image/imagebuffer.h"
#include "stars/syntheticfield.h"

#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

TEST(SyntheticField, SeedsFixTheImageAndTheStarsAndTheTrueRegistrationMapsThemBack)
{
    SyntheticFieldOptions frame;
    frame.width = 640;
    frame.height = 480;
    frame.starCount = 50;
    frame.shiftX = 21.0;
    frame.shiftY = -13.5;
    frame.rotationDegrees = 0.8;
    const SyntheticField a = makeSyntheticField(frame);
    const SyntheticField b = makeSyntheticField(frame);
    EXPECT_EQ(std::memcmp(a.image->data.get(), b.image->data.get(), a.image->floatCount * sizeof(float)), 0);
    frame.noiseSeed = 9;
    const SyntheticField c = makeSyntheticField(frame);
    EXPECT_NE(std::memcmp(a.image->data.get(), c.image->data.get(), a.image->floatCount * sizeof(float)), 0);
    ASSERT_EQ(a.stars.size(), c.stars.size()) << "a new noise seed keeps the stars";
    EXPECT_GT(a.stars.size(), 30u);

    // reference = R(angle)(frame - c) + c + offset, R(a)(X, Y) = (X cos a + Y sin a, Y cos a - X sin a).
    const SyntheticRegistration truth = trueRegistration(frame);
    EXPECT_DOUBLE_EQ(truth.angle, -0.8);
    const double angle = truth.angle * M_PI / 180.0;
    const double cx = frame.width / 2;
    const double cy = frame.height / 2;
    for (const SyntheticStar &s : a.stars) {
        const double X = s.x - cx;
        const double Y = s.y - cy;
        EXPECT_NEAR(X * std::cos(angle) + Y * std::sin(angle) + cx + truth.offsetX, s.skyX, 1e-9);
        EXPECT_NEAR(Y * std::cos(angle) - X * std::sin(angle) + cy + truth.offsetY, s.skyY, 1e-9);
        // The brightest pixel near the star is within a pixel of its centre.
        const int x = static_cast<int>(std::lround(s.x));
        const int y = static_cast<int>(std::lround(s.y));
        if (x > 2 && y > 2 && x < frame.width - 3 && y < frame.height - 3 && s.snr > 200) {
            EXPECT_GT(a.image->pixel(x, y)[1], a.image->pixel(x + 2, y)[1]);
        }
    }
    SyntheticFieldOptions still = frame;
    still.shiftX = still.shiftY = still.rotationDegrees = 0.0;
    EXPECT_DOUBLE_EQ(overlapWithReference(still), 1.0);
    still.shiftX = 64.0;
    EXPECT_NEAR(overlapWithReference(still), 0.9, 0.01);
}
