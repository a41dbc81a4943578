// The gray image and background the star search starts from, and the automatic threshold: its
// sky and noise on fields of known noise, its formula and fallback, and the search that uses it.
#include "image/imagebuffer.h"
#include "stars/autothreshold.h"
#include "stars/grayimage.h"
#include "stars/starfinder.h"
#include "support/capturinglog.h"
#include "testdata/starfield.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include <gtest/gtest.h>

using testsupport::flatImage;

TEST(AutoThreshold, GrayImageAndBackgroundSkyAndNoiseOfFieldsOfKnownNoiseAndTheFallbackWithoutMeasurableNoise)
{
    auto colour = flatImage(40, 40, 0.1f, true);
    float *p = colour->pixel(1, 1);
    std::tie(p[0], p[1], p[2]) = std::tuple{0.5f, 0.25f, 0.125f};
    // Float arithmetic in the order red, green, blue, with 0.587 for green and 0.144 for blue.
    EXPECT_EQ(makeGrayImage(*colour).at(1, 1), 0.5f * 0.299f + 0.25f * 0.587f + 0.125f * 0.144f);
    auto grey = colour->clone();
    grey->channels = 2;
    EXPECT_EQ(makeGrayImage(*grey).at(1, 1), 0.5f);
    // The sigma-clipped sky, unmoved by a few bright pixels, weighted to 1.03 times its level.
    for (int i = 0; i < 5; ++i)
        testsupport::setGray(*grey, 5 + 6 * i, 7, 0.9f);
    EXPECT_NEAR(starBackgroundLevel(*grey), 0.1 * 1.03, 1e-6);
    EXPECT_EQ(starBackgroundLevel(ImageBuffer(0, 0)), 0.0f);
    // gradient: across the width, half of it down the height; site: added to one pixel of
    // every 2 x 2, as on a colour mosaic; tolerance: of the noise, relative.
    const struct {
        double noise, sky, gradient;
        bool colour;
        int stars, hotPixels;
        double site, tolerance;
    } rows[] = {
        {0.0005, 0.01, 0.0, false, 300, 20, 0.0, 0.03}, {0.003, 0.1, 0.05, true, 300, 20, 0.0, 0.03},
        // A mosaic's brightest site sets the sky; its pattern does not count as noise.
        {0.002, 0.1, 0.0, false, 0, 20, 0.02, 0.03},
        // 1000 stars of 5 sigma or more and 2000 hot pixels lift the noise only a little.
        {0.002, 0.05, 0.02, false, 1000, 2000, 0.0, 0.06},
    };
    // The gray noise of a colour pixel of noise 1 per channel, and the gray of the colour sky's tint.
    const double colourNoise = std::sqrt(0.299 * 0.299 + 0.587 * 0.587 + 0.144 * 0.144);
    const double colourSky = 0.299 * 1.08 + 0.587 + 0.144 * 0.85;
    for (const auto &row : rows) {
        SyntheticFieldOptions options;
        std::tie(options.noiseSigma, options.sky, options.gradientX, options.gradientY) =
            std::tuple{row.noise, row.sky, row.gradient, row.gradient / 2};
        std::tie(options.colour, options.starCount, options.hotPixels) = std::tie(row.colour, row.stars, row.hotPixels);
        const SyntheticField field = makeSyntheticField(options);
        for (int y = 0; y < options.height && row.site != 0.0; y += 2)
            for (int x = 0; x < options.width; x += 2)
                field.image->pixel(x, y)[0] += static_cast<float>(row.site);
        const SkyNoise measured = estimateSkyNoise(makeGrayImage(*field.image));
        const double trueNoise = row.colour ? row.noise * colourNoise : row.noise;
        SCOPED_TRACE(testing::Message() << "noise " << row.noise << ", sky " << row.sky << ", " << row.stars);
        EXPECT_NEAR(measured.noise, trueNoise, row.tolerance * trueNoise);
        // The median of a plane lies at its middle.
        const double middle = (row.sky + 0.75 * row.gradient) * (row.colour ? colourSky : 1.0) + row.site;
        EXPECT_NEAR(measured.sky, middle, 0.6 * trueNoise);
        EXPECT_EQ(measured.samples, static_cast<std::int64_t>(options.width) * options.height);
    }
    // Frames without measurable noise get the positive fallback.
    const float inf = std::numeric_limits<float>::infinity();
    std::unique_ptr<ImageBuffer> images[] = {flatImage(300, 200, 0.2f),
                                             flatImage(300, 200, std::numeric_limits<float>::quiet_NaN()),
                                             flatImage(300, 200, inf, true), flatImage(3, 3, 0.1f),
                                             std::make_unique<ImageBuffer>(0, 0)};
    images[0]->pixel(10, 10)[0] = 0.9f; // a lone hot pixel on a flat frame is no noise
    for (const auto &image : images) {
        const AutomaticThreshold automatic = automaticStarThreshold(makeGrayImage(*image), 0.0f, 10);
        EXPECT_TRUE(automatic.threshold == kFallbackStarThreshold && automatic.noise == 0.0f)
            << image->width << " x " << image->height;
    }
    EXPECT_EQ(estimateSkyNoise(GrayImage{300, 200, nullptr}).samples, 0) << "a gray image without pixels";
    // Infinite pixels among noisy ones are left out of the noise.
    SyntheticFieldOptions options;
    options.colour = false;
    SyntheticField field = makeSyntheticField(options);
    for (int y = 0; y < options.height; y += 3)
        field.image->pixel(y % options.width, y)[0] = inf;
    const GrayImage gray = makeGrayImage(*field.image);
    const AutomaticThreshold automatic = automaticStarThreshold(gray, starBackgroundLevel(*field.image), 10);
    EXPECT_TRUE(std::isfinite(automatic.threshold) && automatic.threshold > 0.0f);
    EXPECT_NEAR(automatic.noise, 0.002, 0.0001);
    // The blob level lies 2.2 sigmas above the sky at half width 6, 0.25 more per pixel and at
    // least 2; half of it less the background's offset from the sky is the threshold, at least
    // a quarter of the noise.
    EXPECT_TRUE(blobLevelSigmas(6) == 2.2 && blobLevelSigmas(10) == 3.2 && blobLevelSigmas(2) == 2.0);
    const float sky = automatic.sky, noise = automatic.noise;
    EXPECT_NEAR(automaticStarThreshold(gray, sky + 0.001f, 10).threshold, (3.2 * noise - 0.001) / 2, 1e-7);
    EXPECT_NEAR(automaticStarThreshold(gray, sky + 0.02f, 10).threshold, noise / 4, 1e-8);
}

TEST(AutoThreshold, TheSearchLogsTheThresholdItChoseAndEqualsTheFixedSearchAtThatThreshold)
{
    const SyntheticField field = makeSyntheticField(SyntheticFieldOptions{}); // 1024 x 768, 300 stars, noise 0.002
    StarSearchParameters parameters;
    std::tie(parameters.maxStarSize, parameters.autoThreshold) = std::tuple{6, true};
    testsupport::CapturingLog log, fixedLog;
    starFinder finder(field.image.get(), &log);
    finder.searchStars(parameters);
    QStringList lines = log.lines();
    const int phase1 = lines.indexOf(QStringLiteral("Phase 1: Mapping stars..."));
    ASSERT_GT(phase1, 0);
    EXPECT_TRUE(lines[phase1 - 1].startsWith("Automatic threshold: " + logNumber(finder.thresholdUsed) + " (sky "))
        << lines[phase1 - 1].toStdString();
    const std::vector<StarRecord> &stars = finder.acceptedStars();
    ASSERT_GT(stars.size(), 50u);
    // The automatic search is the fixed one at its threshold, bit for bit, less one log line.
    starFinder fixed(field.image.get(), &fixedLog);
    fixed.searchStars(6, finder.thresholdUsed, parameters.maxBrightness);
    lines.removeAt(phase1 - 1);
    EXPECT_TRUE(fixed.thresholdUsed == finder.thresholdUsed && fixedLog.lines() == lines);
    EXPECT_TRUE(std::equal(stars.begin(), stars.end(), fixed.acceptedStars().begin(), fixed.acceptedStars().end(),
                           [](const StarRecord &a, const StarRecord &b) {
                               return a.x == b.x && a.y == b.y && a.brightness == b.brightness;
                           }));
}
