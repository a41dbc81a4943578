// The automatic star threshold: the sky and noise it measures on fields of known noise, its
// answer on frames that show no noise, and the search that uses it.
#include "image/imagebuffer.h"
#include "stars/autothreshold.h"
#include "stars/starfinder.h"
#include "support/capturinglog.h"
#include "testdata/starfield.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

using testsupport::flatImage;

namespace {

// Standard deviation of the gray value of a colour pixel whose channels carry independent
// noise of sigma 1.
const double kGrayNoisePerChannel = std::sqrt(0.299 * 0.299 + 0.587 * 0.587 + 0.144 * 0.144);

} // namespace

TEST(AutoThreshold, RecoversTheSkyAndNoiseOfFieldsOfKnownNoise)
{
    struct Row {
        double noise;
        double sky;
        double gradient; // across the width; half of it down the height
        bool colour;
        int stars;
        int hotPixels;
        double site;      // added to one pixel of every 2 x 2, as on a colour mosaic
        double tolerance; // of the noise, relative
    };
    const Row rows[] = {
        {0.0005, 0.01, 0.0, false, 300, 20, 0.0, 0.03}, {0.002, 0.05, 0.02, false, 300, 20, 0.0, 0.03},
        {0.005, 0.2, 0.1, false, 300, 20, 0.0, 0.03},   {0.001, 0.02, 0.01, true, 300, 20, 0.0, 0.03},
        {0.003, 0.1, 0.05, true, 300, 20, 0.0, 0.03},
        // A mosaic's brightest site sets the sky; its pattern does not count as noise.
        {0.002, 0.1, 0.0, false, 0, 20, 0.02, 0.03},
        // 1000 stars of at least 5 sigma on 0.8 megapixels and 2000 hot pixels lift the noise
        // only a little.
        {0.002, 0.05, 0.02, false, 1000, 2000, 0.0, 0.06},
    };
    for (const Row &row : rows) {
        SyntheticFieldOptions options;
        options.noiseSigma = row.noise;
        options.sky = row.sky;
        options.gradientX = row.gradient;
        options.gradientY = row.gradient / 2;
        options.colour = row.colour;
        options.starCount = row.stars;
        options.hotPixels = row.hotPixels;
        const SyntheticField field = makeSyntheticField(options);
        for (int y = 0; y < options.height && row.site != 0.0; y += 2)
            for (int x = 0; x < options.width; x += 2)
                field.image->pixel(x, y)[0] += static_cast<float>(row.site);
        const SkyNoise measured = estimateSkyNoise(makeGrayImage(*field.image));
        const double trueNoise = row.colour ? row.noise * kGrayNoisePerChannel : row.noise;
        SCOPED_TRACE(testing::Message() << "row with noise " << row.noise << ", sky " << row.sky << ", "
                                        << row.stars << " stars");
        EXPECT_NEAR(measured.noise, trueNoise, row.tolerance * trueNoise);
        // The median of a plane lies at its middle; a colour sky's gray level follows its tint.
        const double skyColourGray = row.colour ? 0.299 * 1.08 + 0.587 + 0.144 * 0.85 : 1.0;
        const double middle = (row.sky + 0.75 * row.gradient) * skyColourGray + row.site;
        EXPECT_NEAR(measured.sky, middle, 0.6 * trueNoise);
        EXPECT_EQ(measured.samples, static_cast<std::int64_t>(options.width) * options.height);
    }
}

TEST(AutoThreshold, FramesWithoutMeasurableNoiseGetThePositiveFallback)
{
    const float inf = std::numeric_limits<float>::infinity();
    std::unique_ptr<ImageBuffer> images[] = {flatImage(300, 200, 0.2f),
                                             flatImage(300, 200, std::numeric_limits<float>::quiet_NaN()),
                                             flatImage(300, 200, inf, true), flatImage(3, 3, 0.1f),
                                             std::make_unique<ImageBuffer>(0, 0)};
    images[0]->pixel(10, 10)[0] = 0.9f; // a lone hot pixel on a flat frame is no noise
    for (const auto &image : images) {
        SCOPED_TRACE(testing::Message() << image->width << " x " << image->height);
        const AutomaticThreshold automatic = automaticStarThreshold(makeGrayImage(*image), 0.0f, 10);
        EXPECT_EQ(automatic.threshold, kFallbackStarThreshold);
        EXPECT_EQ(automatic.noise, 0.0f);
    }
    // Infinite pixels among noisy ones are left out.
    SyntheticFieldOptions options;
    options.colour = false;
    SyntheticField field = makeSyntheticField(options);
    for (int y = 0; y < options.height; y += 3)
        field.image->pixel(y % options.width, y)[0] = inf;
    const AutomaticThreshold automatic =
        automaticStarThreshold(makeGrayImage(*field.image), starBackgroundLevel(*field.image), 10);
    EXPECT_TRUE(std::isfinite(automatic.threshold) && automatic.threshold > 0.0f);
    EXPECT_NEAR(automatic.noise, 0.002, 0.0001);
}

TEST(AutoThreshold, TheSearchFindsTheStarsOfASyntheticFieldAndLogsTheThresholdItChose)
{
    SyntheticFieldOptions options; // 1024 x 768, noise 0.002, 20 hot pixels
    options.starCount = 600;
    options.peakMin = 0.003;
    options.gradientX = 0.004;
    options.gradientY = 0.002;
    const SyntheticField field = makeSyntheticField(options);
    StarSearchParameters parameters;
    parameters.maxStarSize = 6;
    parameters.autoThreshold = true;
    testsupport::CapturingLog log;
    starFinder finder(field.image.get(), &log);
    finder.searchStars(parameters);
    const QStringList lines = log.lines();
    const int phase1 = lines.indexOf(QStringLiteral("Phase 1: Mapping stars..."));
    ASSERT_GT(phase1, 0);
    EXPECT_TRUE(lines[phase1 - 1].startsWith(QStringLiteral("Automatic threshold: ") + logNumber(finder.thresholdUsed)
                                             + QStringLiteral(" (sky ")))
        << lines[phase1 - 1].toStdString();

    // Stars of signal-to-noise above 20, away from the edges and unsaturated, are found (a few
    // on the darker side of the sky's gradient stay below the one start level); hardly any
    // detection lacks a true star.
    int wanted = 0, found = 0, falseDetections = 0;
    for (const SyntheticStar &star : field.stars) {
        if (star.snr <= 20 || star.saturated || star.x < 13 || star.y < 13 || star.x > options.width - 13
            || star.y > options.height - 13)
            continue;
        ++wanted;
        found += testsupport::nearestStar(finder.acceptedStars(), star.x, star.y, 1.5) >= 0;
    }
    for (const StarRecord &s : finder.acceptedStars())
        falseDetections += std::none_of(field.stars.begin(), field.stars.end(), [&](const SyntheticStar &t) {
            return std::hypot(t.x - s.x, t.y - s.y) <= 1.5;
        });
    ASSERT_GT(wanted, 100);
    EXPECT_GE(found, 0.85 * wanted) << found << " of " << wanted;
    EXPECT_LT(falseDetections, 0.05 * finder.starCount) << falseDetections << " of " << finder.starCount;

    // The automatic search is the fixed one at the threshold it chose, bit for bit; the fixed
    // search reports its own threshold and logs no extra line.
    testsupport::CapturingLog fixedLog;
    starFinder fixed(field.image.get(), &fixedLog);
    fixed.searchStars(6, finder.thresholdUsed, parameters.maxBrightness);
    EXPECT_EQ(fixed.thresholdUsed, finder.thresholdUsed);
    QStringList withoutAuto = lines;
    withoutAuto.removeAt(phase1 - 1);
    EXPECT_EQ(fixedLog.lines(), withoutAuto);
    ASSERT_EQ(fixed.acceptedStars().size(), finder.acceptedStars().size());
    for (std::size_t i = 0; i < fixed.acceptedStars().size(); ++i) {
        const StarRecord &a = fixed.acceptedStars()[i], &b = finder.acceptedStars()[i];
        EXPECT_TRUE(a.x == b.x && a.y == b.y && a.brightness == b.brightness) << "star " << i;
    }
}
