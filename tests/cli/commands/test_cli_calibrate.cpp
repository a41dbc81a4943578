// verdanix-cli calibrate, and --debayer, which every command takes: colour mosaics load as
// colour images, the masters of a calibration too, so that the arithmetic matches pixel for pixel.
#include "clirun.h"
#include "image/imagebuffer.h"
#include "platform/settingsfile.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

QString emptyFolder(const QString &name)
{
    QDir(name).removeRecursively();
    return QDir().mkpath(name) ? name : QString();
}

// A 16-bit grey frame with one value everywhere; float masters (white level 1.0) in three planes.
QString writeFrame(const QString &path, int width, int height, double value, int bitpix = 16)
{
    return testsupport::writeConstantFrame(path, width, height, value, bitpix, bitpix < 0 ? 3 : 0);
}

// Red 0.4, green 0.2, blue 0.1 seen through an RGGB mosaic (or black), plus a dark that differs
// from pixel to pixel, so that mismatched interpolation would show.
QString writeMosaic(const QString &path, bool colour, bool dark)
{
    testsupport::FitsImage image{-32, {24, 16}, {}, 0.0};
    const double rggb[4] = {0.4, 0.2, 0.2, 0.1};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 24; ++x)
            image.values.push_back((colour ? rggb[(y % 2) * 2 + x % 2] : 0.0)
                                   + (dark ? 0.001 * ((x * 37 + y * 11) % 50) : 0.0));
    EXPECT_EQ(testsupport::writeFitsFile(path, image, {"BAYERPAT= 'RGGB'"}), 0);
    return path;
}

} // namespace

TEST(CliCalibrate, CalibratesEachFrameWithProgressAndNeverOverwrites)
{
    const QString out = emptyFolder("cal-out");
    const QStringList frames = {writeFrame("cal-a.fits", 12, 10, 32768.0),
                                writeFrame("cal-b.light.fits", 12, 10, 49152.0)};
    const QString dark = writeFrame("cal-dark.fits", 12, 10, 0.25, -32);
    const QString flat = writeFrame("cal-flat.fits", 12, 10, 0.5, -32);
    const CliRun run =
        runCli(QStringList{"calibrate", "--out", out, "--dark", dark, "--flat", flat, "--threads", "1"} + frames);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.toStdString(), "[1/2] cal-out/cal-a.fts\n[2/2] cal-out/cal-b.light.fts\n");
    EXPECT_TRUE(run.err.contains("Setting dark frame to: cal-dark.fits") && run.err.contains("Calibration done."));
    // (0.75 - 0.25) / 0.5 = 1.0 everywhere.
    const auto calibrated = testsupport::loadImage(out + "/cal-b.light.fts");
    EXPECT_TRUE(calibrated && calibrated->getPixel(11, 9).g == 1.0f);
    // The settings file sets the threads unless --threads says otherwise.
    settingsfile::setValue("Preferences", "maxThreads", 3);
    const CliRun again = runCli(QStringList{"calibrate", "--out", out, "--json"} + frames);
    const CliRun overridden = runCli(QStringList{"calibrate", "--out", out, "--json", "--threads", "1"} + frames);
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    EXPECT_TRUE(again.json().value("threads") == 3 && overridden.json().value("threads") == 1);
    EXPECT_TRUE(again.status == 1 && again.err.endsWith("verdanix-cli: calibration failed: the file cannot be created "
                                                         "(it exists already, or its folder does not) (error 105)\n"))
        << again.err.toStdString();
    EXPECT_TRUE(again.json().value("errorCode") == 105 && again.json().value("written").toArray().isEmpty());
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 2) << "nothing added, nothing replaced";
}

// Whatever ends a run, the output folder holds complete frames only: no empty file under a
// frame's name, no scratch file beside it, and a later run writes the frames that are missing.
TEST(CliCalibrate, InterruptTerminationAndASecondCtrlCLeaveOnlyCompleteFrames)
{
    QStringList frames;
    for (int i = 0; i < 8; ++i)
        frames << writeFrame(QStringLiteral("interrupt%1.fits").arg(i), 1200, 1000, 20000.0);
    const struct {
        std::initializer_list<int> signalNumbers;
        bool killed;
    } cases[] = {{{SIGINT}, false}, {{SIGINT, SIGINT}, true}, {{SIGTERM}, true}};
    int round = 0;
    for (const auto &c : cases) {
        const QString out = emptyFolder(QStringLiteral("interrupt-out%1").arg(round++));
        const CliRun run = interruptCliAt(QStringList{"calibrate", "--out", out, "--threads", "2"} + frames,
                                          "Calibrating interrupt", c.signalNumbers);
        // A quick machine may finish the abort before the second Ctrl-C: then it ends as after one.
        const bool allSent = run.signalsSent == static_cast<int>(c.signalNumbers.size());
        if (c.killed && allSent) {
            EXPECT_EQ(run.status, -1) << run.err.toStdString();
        } else {
            ASSERT_GE(run.signalsSent, 1) << "the run ended before the first signal: " << run.err.toStdString();
            EXPECT_GT(run.status, 0) << "the first Ctrl-C ends the run, it does not kill";
            EXPECT_TRUE(run.err.contains("Aborting, please wait...")) << run.err.toStdString();
            EXPECT_TRUE(run.err.contains("verdanix-cli: calibration aborted (error 1011)")) << run.err.toStdString();
        }
        QStringList missing;
        for (const QString &frame : frames)
            if (!QFileInfo::exists(out + "/" + QFileInfo(frame).completeBaseName() + ".fts"))
                missing << frame;
        EXPECT_GT(missing.size(), 0);
        for (const QFileInfo &file : QDir(out).entryInfoList(QDir::Files | QDir::Hidden | QDir::System)) {
            EXPECT_EQ(file.suffix(), "fts") << "no scratch file: " << file.fileName().toStdString();
            EXPECT_EQ(file.size(), 2880 + 1200 * 1000 * 3 * 4)
                << "every file is complete: " << file.fileName().toStdString();
        }
        EXPECT_EQ(runCli(QStringList{"calibrate", "--out", out} + missing).status, 0);
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), frames.size());
    }
}

TEST(CliCalibrate, DebayerTakenAnywhereByAnyCommandAndForTheMastersLikeTheFrames)
{
    const QString mosaic = writeMosaic("osc.fits", true, false);
    for (const QStringList &arguments : {QStringList{"info", "--json", mosaic}, {"info", "--json", "--debayer", mosaic},
                                         {"--debayer", "info", "--json", mosaic}}) {
        const CliRun run = runCli(arguments);
        const bool debayer = arguments.contains("--debayer");
        EXPECT_EQ(run.json().value("files").toArray().first().toObject().value("channels").toInt(), debayer ? 3 : 2);
        EXPECT_EQ(run.err.contains("Debayered osc.fits (RGGB, bilinear)"), debayer) << run.err.toStdString();
    }
    // The stack reads its frames quietly in bands, and names each debayered frame once.
    QFile::remove("osc-stack.fits");
    const CliRun stack = runCli({"stack", "--debayer", "--out", "osc-stack.fits", mosaic, mosaic});
    EXPECT_EQ(stack.err.count("Debayered osc.fits (RGGB, bilinear)"), 2) << stack.err.toStdString();
    // The light holds the colour plus the dark: the calibrated frame must be the colour alone.
    const QString dark = writeMosaic("osc-dark.fits", false, true);
    const QString light = writeMosaic("osc-light.fits", true, true);
    const CliRun run =
        runCli({"calibrate", "--debayer", "--json", "--dark", dark, "--out", emptyFolder("osc-out"), light});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.json().value("written").toArray(), QJsonArray{"osc-out/osc-light.fts"});
    const auto image = testsupport::loadImage("osc-out/osc-light.fts");
    ASSERT_TRUE(image && image->channels == 3);
    const float expected[3] = {0.4f, 0.2f, 0.1f};
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(image->pixel(x, y)[c], expected[c], 1e-6) << x << "," << y << " " << c;
}
