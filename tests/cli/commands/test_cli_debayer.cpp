// --debayer, taken by every command: colour mosaics load as colour images, the masters of a
// calibration too, so that the arithmetic matches pixel for pixel.
#include "clirun.h"
#include "image/imagebuffer.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// Red 0.4, green 0.2, blue 0.1 seen through an RGGB mosaic (or black), plus a dark that differs
// from pixel to pixel, so that mismatched interpolation would show.
QString writeMosaic(const QString &path, bool colour, bool dark)
{
    FitsImage image{-32, {24, 16}, {}, 0.0};
    const double rggb[4] = {0.4, 0.2, 0.2, 0.1};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x)
            image.values.push_back((colour ? rggb[(y % 2) * 2 + x % 2] : 0.0)
                                   + (dark ? 0.001 * ((x * 37 + y * 11) % 50) : 0.0));
    EXPECT_EQ(writeFitsFile(path, image, {"BAYERPAT= 'RGGB'"}), 0);
    return path;
}

} // namespace

TEST(CliDebayer, AnyCommandTakesTheOptionAnywhereAndSaysWhatItDid)
{
    const QString path = writeMosaic("osc.fits", true, false);
    for (const bool debayer : {false, true}) {
        const CliRun run = runCli(QStringList{"info", "--json"} + (debayer ? QStringList{"--debayer"} : QStringList{})
                                  + QStringList{path});
        EXPECT_EQ(run.json().value("files").toArray().first().toObject().value("channels").toInt(), debayer ? 3 : 2);
    }
    const CliRun first = runCli({"--debayer", "info", path});
    EXPECT_EQ(first.status, 0);
    EXPECT_TRUE(first.out.contains("channels:    3")) << first.out.toStdString();
    EXPECT_TRUE(first.err.contains("Debayered " + path + " (RGGB, bilinear)")) << first.err.toStdString();
    EXPECT_TRUE(runCli({"--help"}).out.contains("--debayer"));

    // The stack reads its frames quietly in bands, and names each debayered frame once.
    const QString out = QDir::current().filePath("osc-stack.fits");
    QFile::remove(out);
    const CliRun stack = runCli({"stack", "--debayer", "--out", out, path, path});
    ASSERT_EQ(stack.status, 0) << stack.err.toStdString();
    EXPECT_EQ(stack.err.count("Debayered " + path + " (RGGB, bilinear)"), 2) << stack.err.toStdString();
}

TEST(CliDebayer, CalibrationDebayersTheMastersLikeTheFrames)
{
    // The light holds the colour plus the dark: the calibrated frame must be the colour alone.
    const QString dark = writeMosaic("osc-dark.fits", false, true);
    const QString light = writeMosaic("osc-light.fits", true, true);
    const QString out = QDir::current().filePath("osc-out");
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    const CliRun run = runCli({"calibrate", "--debayer", "--dark", dark, "--out", out, light});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    auto image = loadImage(out + "/osc-light.fts");
    ASSERT_TRUE(image && image->channels == 3);
    const float expected[3] = {0.4f, 0.2f, 0.1f};
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(image->pixel(x, y)[c], expected[c], 1e-6) << x << "," << y << " " << c;
}
