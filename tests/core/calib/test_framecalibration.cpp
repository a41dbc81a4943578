#include "calib/framecalibration.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "support/capturinglog.h"
#include "support/dngwriter.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cmath>

using testsupport::CapturingLog;
using testsupport::FitsImage;

namespace {

// A fresh, empty folder under the test's working directory.
QString freshFolder(const QString &name)
{
    QDir(name).removeRecursively();
    QDir().mkpath(name);
    return name;
}

// A 16-bit grey light frame (white level 65536) whose every sample is `value`, or for a master
// a floating-point one (white level 1.0) with `value` in all three planes.
QString writeConstantFrame(const QString &path, int width, int height, double value, bool master = false)
{
    FitsImage image;
    image.bitpix = master ? -32 : 16;
    image.bzero = master ? 0.0 : 32768.0;
    image.axes = {width, height};
    if (master)
        image.axes.push_back(3);
    image.values.assign(static_cast<std::size_t>(width) * height * (master ? 3 : 1), value);
    EXPECT_EQ(testsupport::writeFitsFile(path, image), 0) << path.toStdString();
    return path;
}

QString writeFloatMaster(const QString &path, int width, int height, double value)
{
    return writeConstantFrame(path, width, height, value, true);
}

CalibrationParameters parametersFor(const QStringList &frames, const QString &folder, int maxThreads = 2)
{
    CalibrationParameters parameters;
    parameters.lightFrames = frames;
    parameters.outputFolder = folder;
    parameters.preferences.maxThreads = maxThreads;
    parameters.preferences.maxMem = 1024;
    parameters.preferences.memPercent = 100;
    return parameters;
}

// How one run ended: which signal, carrying whom, and the code.
struct RunResult {
    int allWritten = 0;
    int calibrateError = 0;
    QObject *sender = nullptr;
    int errorCode = -1;
};

RunResult runCalibration(frameCalibration &run)
{
    RunResult result;
    QObject::connect(&run, &frameCalibration::allWritten, [&](QObject *sender) {
        ++result.allWritten;
        result.sender = sender;
    });
    QObject::connect(&run, &frameCalibration::calibrateError, [&](QObject *sender) {
        ++result.calibrateError;
        result.sender = sender;
    });
    run.calibrate();
    result.errorCode = run.errorCode();
    return result;
}

std::unique_ptr<ImageBuffer> load(const QString &path)
{
    ImageLoader loader;
    CapturingLog quiet;
    loader.log = &quiet;
    return loader.loadFile(path, false);
}

} // namespace

TEST(CalibrationRun, WritesOneNormalisedFtsPerRawFrameNamedAfterIt)
{
    const QString out = freshFolder("out-raw");
    const QString light = QStringLiteral("M42.light.cr2");
    ASSERT_TRUE(testsupport::writeDng(light, testsupport::dngImage(64, 48, testsupport::DngLayout::LinearRgb)));

    CapturingLog log;
    frameCalibration run(parametersFor({light}, out), nullptr, log);
    ASSERT_EQ(run.loadMasters(), 0);
    const RunResult result = runCalibration(run);

    EXPECT_EQ(result.allWritten, 1) << "a single light frame is enough";
    EXPECT_EQ(result.calibrateError, 0);
    EXPECT_EQ(result.sender, &run) << "the end signal carries the controller";
    EXPECT_EQ(result.errorCode, 0);
    const QString written = out + "/M42.light.fts";
    ASSERT_TRUE(QFileInfo::exists(written)) << "the name keeps every suffix but the last";
    EXPECT_EQ(calibratedFramePath(light, out), written);

    const auto frame = load(written);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->whiteLevel, 1.0f);
    EXPECT_FLOAT_EQ(frame->getPixel(3, 2).r, testsupport::rgbAt(3, 2, 0) / 65535.0f) << "RAW scale normalised";
    EXPECT_FLOAT_EQ(frame->getPixel(3, 2).b, testsupport::rgbAt(3, 2, 2) / 65535.0f);

    const QStringList lines = log.lines();
    EXPECT_TRUE(log.contains("Estimated memory per frame: 0 MB")) << lines.join('\n').toStdString();
    EXPECT_TRUE(log.contains("Calibrating " + light + "..."));
    EXPECT_TRUE(log.contains(written + " done."));
    EXPECT_TRUE(log.statusTexts().contains("Calibrating light frames..."));
    EXPECT_EQ(log.progressValues(), QList<float>{100.0f});
}

TEST(CalibrationRun, AppliesDarkBiasAndFlatToEveryFrameWithProgressPerFrame)
{
    const QString out = freshFolder("out-all");
    QStringList frames;
    for (int i = 0; i < 3; ++i)
        frames << writeConstantFrame(QStringLiteral("light%1.fits").arg(i), 8, 6, 32768.0 + 8192.0 * i);
    CalibrationParameters parameters = parametersFor(frames, out, 2);
    parameters.darkPath = writeFloatMaster("dark.fits", 8, 6, 0.125);
    parameters.biasPath = writeFloatMaster("bias.fits", 8, 6, 0.0625);
    parameters.flatPath = writeFloatMaster("flat.fits", 8, 6, 0.5);

    CapturingLog log;
    frameCalibration run(parameters, nullptr, log);
    ASSERT_EQ(run.loadMasters(), 0);
    const QStringList masterLines = log.lines();
    EXPECT_EQ(masterLines, (QStringList{"Setting bias frame to: bias.fits", "Setting dark frame to: dark.fits",
                                        "Setting flat frame to: flat.fits"}))
        << "bias, dark, flat in this order";
    const RunResult result = runCalibration(run);
    ASSERT_EQ(result.allWritten, 1) << log.lines().join('\n').toStdString();

    for (int i = 0; i < 3; ++i) {
        const auto frame = load(out + QStringLiteral("/light%1.fts").arg(i));
        ASSERT_TRUE(frame) << i;
        const float normalised = (32768.0f + 8192.0f * i) / 65536.0f;
        EXPECT_FLOAT_EQ(frame->getPixel(7, 5).g, (normalised - 0.125f - 0.0625f) / 0.5f) << i;
    }
    EXPECT_EQ(log.progressValues(), (QList<float>{33.0f, 66.0f, 100.0f})) << "truncated percentages";
    EXPECT_EQ(log.lines().filter("Warning:").size(), 0) << "masters of the frames' size";
}

TEST(CalibrationRun, OnlyAFlatNormalisesAndDividesWithoutSubtracting)
{
    const QString out = freshFolder("out-flat");
    CalibrationParameters parameters = parametersFor({writeConstantFrame("flatonly.fits", 4, 4, 16384.0)}, out);
    parameters.flatPath = writeFloatMaster("flat-only-master.fits", 4, 4, 0.5);
    CapturingLog log;
    frameCalibration run(parameters, nullptr, log);
    ASSERT_EQ(run.loadMasters(), 0);
    ASSERT_EQ(runCalibration(run).allWritten, 1);
    const auto frame = load(out + "/flatonly.fts");
    ASSERT_TRUE(frame);
    EXPECT_FLOAT_EQ(frame->getPixel(1, 1).r, 0.5f) << "16384 / 65536 / 0.5";
    EXPECT_EQ(log.lines().filter("Setting").size(), 1);
}

TEST(CalibrationRun, SixteenBitMastersAreNormalisedLikeTheFramesOnceEach)
{
    const QString out = freshFolder("out-16bit");
    const QStringList frames = {writeConstantFrame("light16a.fits", 6, 4, 32768.0),
                                writeConstantFrame("light16b.fits", 6, 4, 32768.0)};
    CalibrationParameters parameters = parametersFor(frames, out, 1);
    parameters.darkPath = writeConstantFrame("dark16.fits", 6, 4, 8192.0);
    parameters.flatPath = writeConstantFrame("flat16.fits", 6, 4, 32768.0);
    CapturingLog log;
    frameCalibration run(parameters, nullptr, log);
    ASSERT_EQ(run.loadMasters(), 0);
    ASSERT_EQ(runCalibration(run).allWritten, 1) << log.lines().join('\n').toStdString();

    for (const char *name : {"/light16a.fts", "/light16b.fts"}) {
        const auto frame = load(out + name);
        ASSERT_TRUE(frame);
        EXPECT_FLOAT_EQ(frame->getPixel(5, 3).r, (0.5f - 0.125f) / 0.5f) << name;
    }
    const QStringList notes = log.lines().filter("is not normalised");
    ASSERT_EQ(notes.size(), 2) << "one line per master, not per frame";
    EXPECT_TRUE(notes[0].startsWith("Master dark dark16.fits is not normalised (white level "));
    EXPECT_TRUE(notes[1].startsWith("Master flat flat16.fits"));
}

TEST(CalibrationRun, SmallerMasterIsAppliedWhereItReachesAndWarnedAboutOnce)
{
    const QString out = freshFolder("out-small");
    QStringList frames;
    for (int i = 0; i < 3; ++i)
        frames << writeConstantFrame(QStringLiteral("big%1.fits").arg(i), 20, 20, 32768.0);
    CalibrationParameters parameters = parametersFor(frames, out, 1);
    parameters.darkPath = writeFloatMaster("smalldark.fits", 10, 10, 0.25);
    CapturingLog log;
    frameCalibration run(parameters, nullptr, log);
    ASSERT_EQ(run.loadMasters(), 0);
    ASSERT_EQ(runCalibration(run).allWritten, 1);

    const auto frame = load(out + "/big2.fts");
    ASSERT_TRUE(frame);
    EXPECT_FLOAT_EQ(frame->getPixel(9, 9).r, 0.25f);
    EXPECT_FLOAT_EQ(frame->getPixel(10, 9).r, 0.5f) << "outside the master nothing is subtracted";
    EXPECT_FLOAT_EQ(frame->getPixel(0, 19).r, 0.5f);
    const QStringList warnings = log.lines().filter("Warning:");
    ASSERT_EQ(warnings.size(), 1) << "one warning per master per run, not per frame";
    EXPECT_EQ(warnings.first(), "Warning: master dark is 10 x 10 pixels, the light frames are 20 x 20; outside the "
                                "master nothing is subtracted.");
}

TEST(CalibrationRun, LargeFramesReduceTheThreadsAndAbortEndsWith1011)
{
    // A header is enough to give the size; the abort comes before any frame is loaded.
    const QString large = "large.fits";
    ASSERT_TRUE(testsupport::writeBytes(large, testsupport::fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 2",
                                                                             "NAXIS1 = 5184", "NAXIS2 = 3456"})));
    const QString out = freshFolder("out-large");
    CalibrationParameters parameters = parametersFor({large, large}, out, 8);
    CapturingLog log;
    frameCalibration run(parameters, nullptr, log);
    run.abortFlag()->store(true);
    const RunResult result = runCalibration(run);

    const QStringList lines = log.lines();
    EXPECT_TRUE(log.contains("Estimated memory per frame: 734 MB")) << lines.join('\n').toStdString();
    EXPECT_TRUE(log.contains("Memory limit reached. Decreasing maximum threads from 8 to 1."));
    EXPECT_EQ(run.threadLimit(), 1);
    EXPECT_TRUE(log.contains("<font color=\"#ffff00\">Aborting, please wait...</font>"));
    EXPECT_EQ(result.calibrateError, 1);
    EXPECT_EQ(result.errorCode, kCalibrationAborted);
    EXPECT_EQ(lines.filter("Calibrating ").size(), 0) << "no frame started";
    EXPECT_EQ(calibrationOutcome(kCalibrationAborted).logLine, "Calibration aborted.");
    EXPECT_EQ(calibrationOutcome(kCalibrationAborted).statusText, "Aborted.");
}

TEST(CalibrationRun, AbortLetsTheRunningFrameFinishAndStartsNoOther)
{
    const QString out = freshFolder("out-abort");
    QStringList frames;
    for (int i = 0; i < 3; ++i)
        frames << writeConstantFrame(QStringLiteral("abort%1.fits").arg(i), 8, 8, 1000.0);
    CapturingLog log;
    frameCalibration run(parametersFor(frames, out, 1), nullptr, log);
    QObject::connect(&run, &frameCalibration::frameFinished, [&run](int finished, int, const QString &, int) {
        if (finished == 1)
            run.abortFlag()->store(true);
    });
    const RunResult result = runCalibration(run);

    EXPECT_EQ(result.calibrateError, 1);
    EXPECT_EQ(result.allWritten, 0);
    EXPECT_EQ(result.errorCode, kCalibrationAborted);
    EXPECT_TRUE(QFileInfo::exists(out + "/abort0.fts"));
    EXPECT_FALSE(QFileInfo::exists(out + "/abort1.fts"));
    EXPECT_FALSE(QFileInfo::exists(out + "/abort2.fts"));
    EXPECT_EQ(run.framesFinished(), 1);
}

TEST(CalibrationRun, ExistingOutputIsNeverOverwrittenAndFailsWith105)
{
    const QString out = freshFolder("out-twice");
    const QStringList frames = {writeConstantFrame("again.fits", 6, 6, 20000.0)};
    {
        frameCalibration first(parametersFor(frames, out), nullptr, messageLog());
        ASSERT_EQ(runCalibration(first).allWritten, 1);
    }
    const QString written = out + "/again.fts";
    const QByteArray before = [&] {
        QFile file(written);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    ASSERT_FALSE(before.isEmpty());

    CapturingLog log;
    frameCalibration second(parametersFor(frames, out), nullptr, log);
    const RunResult result = runCalibration(second);
    EXPECT_EQ(result.calibrateError, 1);
    EXPECT_EQ(result.errorCode, 105);
    QFile file(written);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before) << "the first file is left as it was";
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList{"again.fts"}) << "no scratch file left behind";

    const CalibrationOutcome outcome = calibrationOutcome(result.errorCode);
    EXPECT_EQ(outcome.logLine, "<font color=\"#ff9999\">Error during frame calibration: Could not create FITS file "
                               "(may be it already exists?)</font>");
    EXPECT_EQ(outcome.statusText, "Error 105");
    EXPECT_EQ(calibrationErrorText(106), "error writing to FITS file");
    EXPECT_EQ(calibrationErrorText(-4), "Unknown error");
    EXPECT_EQ(calibrationOutcome(0).logLine, "Calibration done.");
}

TEST(CalibrationRun, UnreadableFrameOrMasterEndsTheRunThroughCalibrateError)
{
    const QString out = freshFolder("out-broken");
    const QString good = writeConstantFrame("good.fits", 4, 4, 1000.0);

    // A frame that cannot be loaded stops the run before the next frame starts.
    CapturingLog frameLog;
    frameCalibration frameRun(parametersFor({"missing.fits", good}, out, 1), nullptr, frameLog);
    const RunResult frameResult = runCalibration(frameRun);
    EXPECT_EQ(frameResult.calibrateError, 1);
    EXPECT_EQ(frameResult.allWritten, 0);
    EXPECT_NE(frameResult.errorCode, 0);
    EXPECT_FALSE(QFileInfo::exists(out + "/good.fts"));

    // A master that cannot be loaded stops it before any frame starts.
    CalibrationParameters parameters = parametersFor({good}, out);
    parameters.darkPath = "no-such-dark.fits";
    CapturingLog masterLog;
    frameCalibration masterRun(parameters, nullptr, masterLog);
    EXPECT_NE(masterRun.loadMasters(), 0);
    EXPECT_TRUE(masterLog.contains("Setting dark frame to: no-such-dark.fits"));
    const RunResult masterResult = runCalibration(masterRun);
    EXPECT_EQ(masterResult.calibrateError, 1);
    EXPECT_EQ(masterLog.lines().filter("Calibrating ").size(), 0);
    EXPECT_FALSE(QFileInfo::exists(out + "/good.fts"));
}

TEST(CalibrationRequest, RefusesMissingFramesOrOutputFolder)
{
    CalibrationParameters parameters = parametersFor({}, "somewhere");
    EXPECT_EQ(calibrationRequestProblem(parameters),
              "<font color=\"#ff9999\">Not enough light frames for calibration!</font>");
    parameters.lightFrames = QStringList{"a.fits"};
    parameters.outputFolder.clear();
    EXPECT_EQ(calibrationRequestProblem(parameters),
              "<font color=\"#ff9999\">Please choose an output directory first!</font>");
    parameters.outputFolder = "no-such-folder";
    EXPECT_EQ(calibrationRequestProblem(parameters),
              "<font color=\"#ff9999\">Output directory does not exist. Please create it first.</font>");
    parameters.outputFolder = freshFolder("out-request");
    EXPECT_EQ(calibrationRequestProblem(parameters), QString());
}
