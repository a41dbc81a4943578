#include "clirun.h"
#include "image/imagebuffer.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>

using testsupport::loadImage;

namespace {

// A float colour image: sky (0.2, 0.1, 0.05) rising to the right by `gradient`.
QString writeSky(const QString &name, int width, int height, double gradient = 0.0)
{
    const double sky[3] = {0.2, 0.1, 0.05};
    return testsupport::writeFrame(QDir::current().filePath(name), width, height,
                                   [&](int x, int, int c) { return sky[c] + gradient * x / width; });
}

QString fresh(const QString &name)
{
    const QString path = QDir::current().filePath(name);
    QFile::remove(path);
    return path;
}

} // namespace

TEST(CliProcess, StatsMeasuresTheWholeImageOrARegion)
{
    const QString sky = writeSky("stats.fits", 30, 20);
    const CliRun whole = runCli({"stats", "--json", sky});
    ASSERT_EQ(whole.status, 0) << whole.err.toStdString();
    const QJsonObject result = whole.json();
    EXPECT_NEAR(result["mean"].toObject()["r"].toDouble(), 0.2, 1e-6);
    EXPECT_NEAR(result["sigma"].toObject()["g"].toDouble(), 0.0, 1e-6);
    EXPECT_NEAR(result["backgroundColor"].toObject()["b"].toDouble(), 0.05, 1e-6);
    const CliRun region = runCli({"stats", sky, "--region", "25,15,5,5"});
    ASSERT_EQ(region.status, 0);
    EXPECT_TRUE(region.out.contains("mean:             R=0.2 G=0.1 B=0.05")) << region.out.toStdString();
    // A region reaching one pixel past the image is refused.
    EXPECT_EQ(runCli({"stats", sky, "--region", "26,15,5,5"}).status, 2);
    EXPECT_EQ(runCli({"stats", sky, "--region", "1,2,3"}).status, 2);
}

TEST(CliProcess, GainNeutralizeAndCombineWriteNewFiles)
{
    const QString sky = writeSky("colour.fits", 16, 12);
    const QString gained = fresh("gained.fits");
    ASSERT_EQ(runCli({"gain", sky, gained, "0.5", "1", "2"}).status, 0);
    auto image = loadImage(gained);
    ASSERT_NE(image, nullptr);
    EXPECT_FLOAT_EQ(image->getPixel(3, 3).r, 0.1f);
    EXPECT_FLOAT_EQ(image->getPixel(3, 3).b, 0.1f);

    const QString neutral = fresh("neutral.fits");
    ASSERT_EQ(runCli({"neutralize", sky, neutral}).status, 0);
    image = loadImage(neutral);
    EXPECT_FLOAT_EQ(image->getPixel(0, 0).r, image->getPixel(0, 0).g);
    EXPECT_FLOAT_EQ(image->getPixel(0, 0).b, image->getPixel(0, 0).g);

    const QString zeros = fresh("zeros.fits");
    ASSERT_EQ(runCli({"combine", sky, sky, zeros, "--op", "subtract"}).status, 0);
    EXPECT_EQ(loadImage(zeros)->getPixel(5, 5).r, 0.0f);
    const QString half = fresh("half.fits");
    ASSERT_EQ(runCli({"combine", sky, gained, half, "--op", "multiply", "--opacity", "50"}).status, 0);
    EXPECT_FLOAT_EQ(loadImage(half)->getPixel(1, 1).r, 0.1f * 0.2f * 0.5f + 0.5f * 0.2f);

    const CliRun mismatch = runCli({"combine", sky, writeSky("other.fits", 8, 8), fresh("never.fits"), "--op", "add"});
    EXPECT_NE(mismatch.status, 0);
    EXPECT_TRUE(mismatch.err.contains("16 x 12 and 8 x 8"));
    EXPECT_FALSE(QFile::exists("never.fits"));
}

TEST(CliProcess, FlattenRemovesAGradientAndRefusesTooFewMarkers)
{
    const QString sky = writeSky("gradient.fits", 120, 80, 0.2);
    const QString flat = fresh("flat.fits");
    const QString model = fresh("model.fits");
    const CliRun run = runCli({"flatten", sky, flat, "--model", model, "--grid", "20", "--sigma", "3"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    auto source = loadImage(sky);
    auto result = loadImage(flat);
    ASSERT_TRUE(result && loadImage(model));
    const float before = source->getPixel(117, 40).r - source->getPixel(2, 40).r;
    const float after = result->getPixel(117, 40).r - result->getPixel(2, 40).r;
    EXPECT_LT(std::abs(after), 0.5f * std::abs(before));

    ASSERT_TRUE(testsupport::writeBytes("one-marker.txt", "# x y\n40 40\n"));
    const CliRun refused = runCli({"flatten", sky, fresh("refused.fits"), "--markers", "one-marker.txt"});
    EXPECT_NE(refused.status, 0);
    EXPECT_TRUE(refused.err.contains("This function requires at least two background probes!"));
    EXPECT_FALSE(QFile::exists("refused.fits"));
}
