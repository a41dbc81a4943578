#include "calib/framecalibration.h"
#include "image/imagebuffer.h"
#include "support/capturinglog.h"
#include "support/dngwriter.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFileInfo>

#include <fitsio.h>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A fresh, empty folder under the test's working directory.
QString freshFolder(const QString &name)
{
    QDir(name).removeRecursively();
    QDir().mkpath(name);
    return name;
}

// A 16-bit grey light frame (white level 65536) whose every sample is `value`.
QString lightFrame(const QString &path, int width, int height, double value)
{
    return writeConstantFrame(path, width, height, value, 16, 0);
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

// How one run ended: how often each end signal came, carrying whom, and the code.
struct RunResult {
    int allWritten = 0;
    int calibrateError = 0;
    QObject *sender = nullptr;
    int errorCode = -1;
};

RunResult runCalibration(frameCalibration &run, bool loadMasters = false)
{
    RunResult result;
    if (loadMasters) {
        EXPECT_EQ(run.loadMasters(), 0);
    }
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

} // namespace

TEST(CalibrationRun, WritesOneNormalisedFtsPerRawFrameNamedAfterIt)
{
    const QString out = freshFolder("out-raw");
    const QString light = QStringLiteral("M42.light.cr2");
    ASSERT_TRUE(writeDng(light, dngImage(64, 48, DngLayout::LinearRgb)));
    CapturingLog log;
    frameCalibration run(parametersFor({light}, out), nullptr, log);
    const RunResult result = runCalibration(run, true);
    EXPECT_EQ(result.allWritten, 1) << "a single light frame is enough";
    EXPECT_EQ(result.calibrateError, 0);
    EXPECT_EQ(result.sender, &run) << "the end signal carries the controller";
    EXPECT_EQ(result.errorCode, 0);
    const QString written = out + "/M42.light.fts";
    EXPECT_EQ(calibratedFramePath(light, out), written) << "the name keeps every suffix but the last";
    const auto frame = loadImage(written);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->whiteLevel, 1.0f);
    EXPECT_FLOAT_EQ(frame->getPixel(3, 2).r, rgbAt(3, 2, 0) / 65535.0f) << "RAW scale normalised";
    EXPECT_FLOAT_EQ(frame->getPixel(3, 2).b, rgbAt(3, 2, 2) / 65535.0f);
    EXPECT_TRUE(log.contains("Estimated memory per frame: 0 MB")) << log.lines().join('\n').toStdString();
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
        frames << lightFrame(QStringLiteral("light%1.fits").arg(i), 8, 6, 32768.0 + 8192.0 * i);
    CalibrationParameters parameters = parametersFor(frames, out, 2);
    parameters.darkPath = writeConstantFrame("dark.fits", 8, 6, 0.125);
    parameters.biasPath = writeConstantFrame("bias.fits", 8, 6, 0.0625);
    parameters.flatPath = writeConstantFrame("flat.fits", 8, 6, 0.5);
    CapturingLog log;
    frameCalibration run(parameters, nullptr, log);
    ASSERT_EQ(run.loadMasters(), 0);
    EXPECT_EQ(log.lines(), (QStringList{"Setting bias frame to: bias.fits", "Setting dark frame to: dark.fits",
                                        "Setting flat frame to: flat.fits"}))
        << "bias, dark, flat in this order";
    ASSERT_EQ(runCalibration(run).allWritten, 1) << log.lines().join('\n').toStdString();
    for (int i = 0; i < 3; ++i) {
        const auto frame = loadImage(out + QStringLiteral("/light%1.fts").arg(i));
        ASSERT_TRUE(frame) << i;
        const float normalised = (32768.0f + 8192.0f * i) / 65536.0f;
        EXPECT_FLOAT_EQ(frame->getPixel(7, 5).g, (normalised - 0.125f - 0.0625f) / 0.5f) << i;
    }
    EXPECT_EQ(log.progressValues(), (QList<float>{33.0f, 66.0f, 100.0f})) << "truncated percentages";
    EXPECT_EQ(log.lines().filter("Warning:").size(), 0) << "masters of the frames' size";
}

TEST(CalibrationRun, SixteenBitAndSmallerMastersAreNormalisedAndWarnedAboutOnceAndApplyWhereTheyReach)
{
    const QString out = freshFolder("out-16bit");
    QStringList frames;
    for (int i = 0; i < 3; ++i)
        frames << lightFrame(QStringLiteral("big%1.fits").arg(i), 20, 20, 32768.0);
    CalibrationParameters parameters = parametersFor(frames, out, 1);
    parameters.darkPath = lightFrame("dark16.fits", 10, 10, 8192.0);
    parameters.flatPath = lightFrame("flat16.fits", 20, 20, 32768.0);
    CapturingLog log;
    frameCalibration run(parameters, nullptr, log);
    ASSERT_EQ(runCalibration(run, true).allWritten, 1) << log.lines().join('\n').toStdString();
    for (const char *name : {"/big0.fts", "/big2.fts"}) {
        const auto frame = loadImage(out + name);
        ASSERT_TRUE(frame);
        EXPECT_FLOAT_EQ(frame->getPixel(9, 9).r, (0.5f - 0.125f) / 0.5f) << name;
        EXPECT_FLOAT_EQ(frame->getPixel(10, 9).r, 1.0f) << "outside the master nothing is subtracted";
        EXPECT_FLOAT_EQ(frame->getPixel(0, 19).b, 1.0f);
    }
    const QStringList notes = log.lines().filter("is not normalised");
    ASSERT_EQ(notes.size(), 2) << "one line per master, not per frame";
    EXPECT_TRUE(notes[0].startsWith("Master dark dark16.fits is not normalised (white level "));
    EXPECT_TRUE(notes[1].startsWith("Master flat flat16.fits"));
    EXPECT_EQ(log.lines().filter("Warning:"),
              QStringList{"Warning: master dark is 10 x 10 pixels, the light frames are 20 x 20; outside the "
                          "master nothing is subtracted."})
        << "one warning per master per run, not per frame";
}

TEST(CalibrationRun, AbortLetsTheRunningFrameFinishAndStartsNoOther)
{
    const QString out = freshFolder("out-abort");
    QStringList frames;
    for (int i = 0; i < 3; ++i)
        frames << lightFrame(QStringLiteral("abort%1.fits").arg(i), 8, 8, 1000.0);
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
    EXPECT_TRUE(log.contains("Aborting, please wait...", Severity::Notice));
    EXPECT_EQ(QDir(out).entryList(QDir::Files), QStringList{"abort0.fts"});
    EXPECT_EQ(run.framesFinished(), 1);
}

TEST(CalibrationRun, LargeFramesReduceTheThreadsAndAnUnreadableFrameOrMasterEndsTheRun)
{
    const QString out = freshFolder("out-broken");
    const QString good = lightFrame("good.fits", 4, 4, 1000.0);
    // A header alone gives the size, and cannot be loaded: the run stops before the next frame.
    ASSERT_TRUE(writeBytes(
        "large.fits", fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 2", "NAXIS1 = 5184", "NAXIS2 = 3456"})));
    CapturingLog frameLog;
    frameCalibration frameRun(parametersFor({"large.fits", good}, out, 8), nullptr, frameLog);
    const RunResult frameResult = runCalibration(frameRun);
    EXPECT_TRUE(frameLog.contains("Estimated memory per frame: 734 MB")) << frameLog.lines().join('\n').toStdString();
    EXPECT_TRUE(frameLog.contains("Memory limit reached. Decreasing maximum threads from 8 to 1."));
    EXPECT_EQ(frameRun.threadLimit(), 1);
    EXPECT_EQ(frameResult.calibrateError, 1);
    EXPECT_EQ(frameResult.allWritten, 0);
    EXPECT_EQ(frameResult.errorCode, END_OF_FILE);
    EXPECT_FALSE(QFileInfo::exists(out + "/good.fts"));
    // A master that cannot be loaded stops it before any frame starts.
    CalibrationParameters parameters = parametersFor({good}, out);
    parameters.darkPath = "no-such-dark.fits";
    CapturingLog masterLog;
    frameCalibration masterRun(parameters, nullptr, masterLog);
    EXPECT_NE(masterRun.loadMasters(), 0);
    EXPECT_TRUE(masterLog.contains("Setting dark frame to: no-such-dark.fits"));
    EXPECT_EQ(runCalibration(masterRun).calibrateError, 1);
    EXPECT_EQ(masterLog.lines().filter("Calibrating ").size(), 0);
    EXPECT_FALSE(QFileInfo::exists(out + "/good.fts"));
}

TEST(CalibrationRequest, RefusesMissingFramesOrOutputFolderAndNamesEachOutcome)
{
    CalibrationParameters parameters = parametersFor({}, "somewhere");
    EXPECT_EQ(calibrationRequestProblem(parameters), "Not enough light frames for calibration!");
    parameters.lightFrames = QStringList{"a.fits"};
    parameters.outputFolder.clear();
    EXPECT_EQ(calibrationRequestProblem(parameters), "Please choose an output directory first!");
    parameters.outputFolder = "no-such-folder";
    EXPECT_EQ(calibrationRequestProblem(parameters), "Output directory does not exist. Please create it first.");
    parameters.outputFolder = freshFolder("out-request");
    EXPECT_EQ(calibrationRequestProblem(parameters), QString());
    const CalibrationOutcome failed = calibrationOutcome(105);
    EXPECT_EQ(failed.logLine, "Error during frame calibration: Could not create FITS file (may be it already exists?)");
    EXPECT_EQ(failed.logSeverity, Severity::Warning);
    EXPECT_EQ(failed.statusText, "Error 105");
    EXPECT_EQ(calibrationErrorText(106), "error writing to FITS file");
    EXPECT_EQ(calibrationErrorText(-4), "Unknown error");
    EXPECT_EQ(calibrationOutcome(0).logLine, "Calibration done.");
    EXPECT_EQ(calibrationOutcome(kCalibrationAborted).logLine, "Calibration aborted.");
    EXPECT_EQ(calibrationOutcome(kCalibrationAborted).statusText, "Aborted.");
}
