// Calibration runs on frames written by the test: the files written and their pixels, the
// masters, progress, abort, failures, and the words the front ends show for each outcome.
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

// 16-bit grey light frames (white level 65536) named prefix0.fits ..., every sample `value + step x i`.
QStringList lightFrames(const QString &prefix, int count, int width, int height, double value, double step = 0.0)
{
    QStringList frames;
    for (int i = 0; i < count; ++i)
        frames << writeConstantFrame(prefix + QString::number(i) + ".fits", width, height, value + step * i, 16, 0);
    return frames;
}

CalibrationParameters parametersFor(const QStringList &frames, const QString &folder, int maxThreads = 2)
{
    CalibrationParameters parameters;
    parameters.lightFrames = frames;
    parameters.outputFolder = folder;
    parameters.preferences = ResourcePreferences{maxThreads, 1024, 100, false};
    return parameters;
}

// How one run ended: the end signals that came (1 an allWritten, 10 a calibrateError, 1000 one
// that does not carry the controller), and the error code.
std::pair<int, int> runCalibration(frameCalibration &run)
{
    int ends = 0;
    QObject::connect(&run, &frameCalibration::allWritten, [&](QObject *sender) { ends += sender == &run ? 1 : 1000; });
    QObject::connect(&run, &frameCalibration::calibrateError,
                     [&](QObject *sender) { ends += sender == &run ? 10 : 1000; });
    run.calibrate();
    return {ends, run.errorCode()};
}

} // namespace

TEST(CalibrationRun, WritesOneNormalisedFtsPerRawFrameNamedAfterIt)
{
    const QString out = freshFolder("out-raw"), light = QStringLiteral("M42.light.cr2"),
                  written = out + "/M42.light.fts";
    ASSERT_TRUE(writeDng(light, dngImage(64, 48, DngLayout::LinearRgb)));
    CapturingLog log;
    frameCalibration run(parametersFor({light}, out), nullptr, log);
    EXPECT_EQ(run.loadMasters(), 0);
    EXPECT_EQ(runCalibration(run), std::pair(1, 0)) << "a single light frame is enough";
    EXPECT_EQ(calibratedFramePath(light, out), written) << "the name keeps every suffix but the last";
    const auto frame = loadImage(written);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->whiteLevel, 1.0f);
    EXPECT_FLOAT_EQ(frame->getPixel(3, 2).b, rgbAt(3, 2, 2) / 65535.0f) << "RAW scale normalised";
    EXPECT_TRUE(log.contains("Calibrating " + light + "...") && log.contains(written + " done."));
    EXPECT_TRUE(log.statusTexts().contains("Calibrating light frames..."));
}

TEST(CalibrationRun, AppliesDarkBiasAndFlatToEveryFrameWithProgressPerFrame)
{
    const QString out = freshFolder("out-all");
    CalibrationParameters parameters = parametersFor(lightFrames("light", 3, 8, 6, 32768.0, 8192.0), out);
    parameters.darkPath = writeConstantFrame("dark.fits", 8, 6, 0.125);
    parameters.biasPath = writeConstantFrame("bias.fits", 8, 6, 0.0625);
    parameters.flatPath = writeConstantFrame("flat.fits", 8, 6, 0.5);
    CapturingLog log;
    frameCalibration run(parameters, nullptr, log);
    ASSERT_EQ(run.loadMasters(), 0);
    EXPECT_EQ(log.lines(), (QStringList{"Setting bias frame to: bias.fits", "Setting dark frame to: dark.fits",
                                        "Setting flat frame to: flat.fits"}))
        << "bias, dark, flat in this order";
    ASSERT_EQ(runCalibration(run).first, 1) << log.lines().join('\n').toStdString();
    for (int i = 0; i < 3; ++i) {
        const auto frame = loadImage(out + QStringLiteral("/light%1.fts").arg(i));
        ASSERT_TRUE(frame) << i;
        EXPECT_FLOAT_EQ(frame->getPixel(7, 5).g, ((32768.0f + 8192.0f * i) / 65536.0f - 0.125f - 0.0625f) / 0.5f) << i;
    }
    EXPECT_EQ(log.progressValues(), (QList<float>{33.0f, 66.0f, 100.0f})) << "truncated percentages";
    EXPECT_EQ(log.lines().filter("Warning:").size(), 0) << "masters of the frames' size";
}

TEST(CalibrationRun, SixteenBitAndSmallerMastersAreNormalisedAndWarnedAboutOnceAndApplyWhereTheyReach)
{
    const QString out = freshFolder("out-16bit");
    CalibrationParameters parameters = parametersFor(lightFrames("big", 3, 20, 20, 32768.0), out, 1);
    parameters.darkPath = lightFrames("dark16-", 1, 10, 10, 8192.0).first();
    parameters.flatPath = lightFrames("flat16-", 1, 20, 20, 32768.0).first();
    CapturingLog log;
    frameCalibration run(parameters, nullptr, log);
    EXPECT_EQ(run.loadMasters(), 0);
    ASSERT_EQ(runCalibration(run).first, 1) << log.lines().join('\n').toStdString();
    for (const char *name : {"/big0.fts", "/big2.fts"}) {
        const auto frame = loadImage(out + name);
        ASSERT_TRUE(frame);
        EXPECT_FLOAT_EQ(frame->getPixel(9, 9).r, (0.5f - 0.125f) / 0.5f) << name;
        EXPECT_FLOAT_EQ(frame->getPixel(10, 9).r, 1.0f) << "outside the master nothing is subtracted";
        EXPECT_FLOAT_EQ(frame->getPixel(0, 19).b, 1.0f);
    }
    const QStringList notes = log.lines().filter("is not normalised");
    ASSERT_EQ(notes.size(), 2) << "one line per master, not per frame";
    EXPECT_TRUE(notes[0].startsWith("Master dark dark16-0.fits is not normalised (white level "));
    EXPECT_TRUE(notes[1].startsWith("Master flat flat16-0.fits"));
    EXPECT_EQ(log.lines().filter("Warning:"),
              QStringList{"Warning: master dark is 10 x 10 pixels, the light frames are 20 x 20; outside the "
                          "master nothing is subtracted."})
        << "one warning per master per run, not per frame";
}

TEST(CalibrationRun, AbortLetsTheRunningFrameFinishAndStartsNoOther)
{
    const QString out = freshFolder("out-abort");
    CapturingLog log;
    frameCalibration run(parametersFor(lightFrames("abort", 3, 8, 8, 1000.0), out, 1), nullptr, log);
    QObject::connect(&run, &frameCalibration::frameFinished, [&run](int finished, int, const QString &, int) {
        if (finished == 1)
            run.abortFlag()->store(true);
    });
    EXPECT_EQ(runCalibration(run), std::pair(10, kCalibrationAborted));
    EXPECT_TRUE(log.contains("Aborting, please wait...", Severity::Notice));
    EXPECT_TRUE(QDir(out).entryList(QDir::Files) == QStringList{"abort0.fts"} && run.framesFinished() == 1);
}

TEST(CalibrationRun, LargeFramesReduceTheThreadsAndAnUnreadableFrameOrMasterEndsTheRun)
{
    const QString out = freshFolder("out-broken");
    const QString good = lightFrames("good", 1, 4, 4, 1000.0).first();
    // A header alone gives the size, and cannot be loaded: the run stops before the next frame.
    ASSERT_TRUE(writeBytes(
        "large.fits", fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 2", "NAXIS1 = 5184", "NAXIS2 = 3456"})));
    CapturingLog frameLog;
    frameCalibration frameRun(parametersFor({"large.fits", good}, out, 8), nullptr, frameLog);
    EXPECT_EQ(runCalibration(frameRun), std::pair(10, END_OF_FILE));
    EXPECT_TRUE(frameLog.contains("Estimated memory per frame: 734 MB")) << frameLog.lines().join('\n').toStdString();
    EXPECT_TRUE(frameLog.contains("Memory limit reached. Decreasing maximum threads from 8 to 1."));
    EXPECT_EQ(frameRun.threadLimit(), 1);
    EXPECT_FALSE(QFileInfo::exists(out + "/good0.fts"));
    // A master that cannot be loaded stops it before any frame starts.
    CalibrationParameters parameters = parametersFor({good}, out);
    parameters.darkPath = "no-such-dark.fits";
    CapturingLog masterLog;
    frameCalibration masterRun(parameters, nullptr, masterLog);
    EXPECT_NE(masterRun.loadMasters(), 0);
    EXPECT_TRUE(masterLog.contains("Setting dark frame to: no-such-dark.fits"));
    EXPECT_EQ(runCalibration(masterRun).first, 10);
    EXPECT_EQ(masterLog.lines().filter("Calibrating ").size(), 0);
    EXPECT_FALSE(QFileInfo::exists(out + "/good0.fts"));
}

TEST(CalibrationRequest, RefusesMissingFramesOrOutputFolderAndNamesEachOutcome)
{
    const struct {
        QStringList frames;
        QString folder, problem;
    } requests[] = {{{}, "somewhere", "Not enough light frames for calibration!"},
                    {{"a.fits"}, "", "Please choose an output directory first!"},
                    {{"a.fits"}, "no-such-folder", "Output directory does not exist. Please create it first."},
                    {{"a.fits"}, freshFolder("out-request"), ""}};
    for (const auto &r : requests)
        EXPECT_EQ(calibrationRequestProblem(parametersFor(r.frames, r.folder)), r.problem) << r.folder.toStdString();
    const CalibrationOutcome failed = calibrationOutcome(105);
    EXPECT_EQ(failed.logLine, "Error during frame calibration: Could not create FITS file (may be it already exists?)");
    EXPECT_EQ(failed.logSeverity, Severity::Warning);
    EXPECT_EQ(failed.statusText, "Error 105");
    EXPECT_EQ(calibrationErrorText(-4), "Unknown error");
    EXPECT_EQ(calibrationOutcome(0).logLine, "Calibration done.");
    EXPECT_EQ(calibrationOutcome(kCalibrationAborted).logLine + calibrationOutcome(kCalibrationAborted).statusText,
              "Calibration aborted.Aborted.");
}
