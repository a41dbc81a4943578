// Calibration arithmetic on known pixels, the memory and thread rules of a run, and calibration runs on frames
// written by the test: files, pixels, masters, progress, abort, failures and the words shown for each outcome.
#include "calib/calibarithmetic.h"
#include "calib/framecalibration.h"
#include "calib/resourcelimits.h"
#include "image/imagebuffer.h"
#include "platform/machine.h"
#include "platform/settingsfile.h"
#include "support/capturinglog.h"
#include "support/dngwriter.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <fitsio.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <tuple>

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

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A one-row image of the given pixels (r, g, b, alpha) with the given levels.
std::unique_ptr<ImageBuffer> row(std::initializer_list<std::array<float, 4>> pixels, float white = 1.0f,
                                 float black = 0.0f)
{
    auto image = std::make_unique<ImageBuffer>(static_cast<int>(pixels.size()), 1);
    float *p = image->data.get();
    for (const auto &pixel : pixels)
        p = std::copy(pixel.begin(), pixel.end(), p);
    image->whiteLevel = white;
    image->blackLevel = black;
    return image;
}

// Row 0 as "r g b a|r g b a ...", six significant digits, any NaN as "nan".
std::string text(const ImageBuffer &image)
{
    QStringList samples;
    for (int i = 0; i < image.width * 4; ++i)
        samples << (std::isnan(image.data[i]) ? QStringLiteral("nan") : QString::asprintf("%g", image.data[i]))
                       + (i % 4 < 3 ? " " : "|");
    return samples.join("").chopped(1).toStdString();
}

std::unique_ptr<ImageBuffer> filled(int width, int height, float value)
{
    auto image = std::make_unique<ImageBuffer>(width, height);
    for (std::int64_t i = 0; i < image->floatCount; ++i)
        image->data[i] = i % 4 == 3 ? 0.0f : value;
    return image;
}

constexpr std::uint64_t kMB = std::uint64_t{1} << 20;

ResourcePreferences prefs(int maxThreads, int maxMem, int memPercent)
{
    return ResourcePreferences{maxThreads, maxMem, memPercent, false};
}

} // namespace

TEST(NormalizeImage, MapsRawScaleToZeroOneOrRefusesAFrameWithoutValueRange)
{
    auto raw = row({{65535.0f / 2.0f, 65535.0f, 0.0f, 0.0f}, {kNaN, -655.35f, 131070.0f, 0.0f}}, 65535.0f);
    ASSERT_TRUE(normalizeImage(*raw));
    // A NaN sample stays NaN, nothing is clamped, alpha becomes 1.
    EXPECT_EQ(text(*raw), "0.5 1 0 1|nan -0.01 2 1");
    EXPECT_EQ((std::array{raw->whiteLevel, raw->blackLevel}), (std::array{1.0f, 0.0f})) << "no second normalisation";
    EXPECT_EQ(raw->readCursor, raw->floatCount) << "the walk runs on the read cursor";
    auto offset = row({{600.0f, 200.0f, 1000.0f, 0.0f}}, 1000.0f, 200.0f);
    EXPECT_TRUE(normalizeImage(*offset) && text(*offset) == "0.5 0 1 1");
    // No value range: refused, and the frame is left alone.
    auto flat = row({{7.0f, 7.0f, 7.0f, 0.0f}}, 5.0f, 5.0f);
    EXPECT_TRUE(!normalizeImage(*flat) && text(*flat) == "7 7 7 0");
    EXPECT_EQ((std::array{flat->whiteLevel, flat->blackLevel}), (std::array{5.0f, 5.0f}));
}

TEST(SubtractAndDivideImage, KnownPixelsIncludingNaNsInfinitiesAndZeroFlats)
{
    // A master brighter than the frame leaves a negative sample; a NaN on either side reads as 0.
    auto frame = row({{0.2f, 0.5f, kNaN, 0.0f}, {0.9f, kInf, 0.4f, 0.0f}});
    subtractImage(*frame, *row({{0.3f, 0.1f, 0.25f, 1.0f}, {kNaN, 0.1f, 0.1f, 1.0f}}));
    EXPECT_EQ(text(*frame), "-0.1 0.4 -0.25 1|0.9 inf 0.3 1");
    // A zero flat gives 1.0 for a non-zero sample and NaN for 0, never an infinity; outside the flat it reads as zero.
    frame = row({{0.3f, 0.0f, -0.2f, 0.0f}, {0.6f, 0.25f, kNaN, 0.0f}, {0.7f, 0.0f, 0.1f, 0.0f}});
    divideImage(*frame, *row({{0.0f, 0.0f, 0.0f, 1.0f}, {0.5f, 0.5f, 0.5f, 1.0f}}));
    EXPECT_EQ(text(*frame), "1 nan 1 1|1.2 0.5 0 1|1 nan 1 1");
}

TEST(MasterArithmetic, AMasterOfAnotherSizeChangesOnlyTheBlockItCovers)
{
    // Frame 13 x 9 at 0.5: a dark of 0.125 leaves 0.375 where it reaches, a flat of 0.25 gives
    // 2.0 there and 1.0 beyond it (a non-zero sample over nothing); alpha is 1 everywhere.
    for (const auto &[width, height] : {std::pair{5, 4}, {20, 3}, {4, 20}, {30, 30}, {0, 0}})
        for (bool divide : {false, true}) {
            auto frame = filled(13, 9, 0.5f);
            divide ? divideImage(*frame, *filled(width, height, 0.25f))
                   : subtractImage(*frame, *filled(width, height, 0.125f));
            for (int i = 0; i < 13 * 9 * 4; ++i) {
                const bool covered = i / 4 % 13 < width && i / 52 < height;
                const float expected = i % 4 == 3 ? 1.0f : divide ? (covered ? 2.0f : 1.0f) : (covered ? 0.375f : 0.5f);
                ASSERT_EQ(frame->data[i], expected)
                    << width << " x " << height << (divide ? " flat, " : " dark, ") << i;
            }
        }
}

TEST(MemoryLimits, CalibrationAndStackingTakeMaxMemOrTheShareOfAvailableMemory)
{
    // Calibration: maxMem lowered to the integer percentage of the whole MB available.
    // Stacking: maxMem when below the available memory, else the percentage of its bytes.
    // maxMem, memPercent, available bytes -> calibration MB, stacking bytes.
    const std::tuple<int, int, std::uint64_t, int, std::uint64_t> rows[] = {
        {1024, 50, 2048 * kMB, 1024, 1024 * kMB},             // tight: exactly the share
        {4096, 50, 4096 * kMB + 500, 2048, 2048 * kMB + 250}, // part MBs count for stacking only
        {100, 29, 100 * kMB, 29, 29 * kMB},                   // integer percent: 29 % of 100 MB is 29 MB
        {1024, 50, 0, 0, 0},                                  // nothing fits
        {4000, 10, 8000 * kMB, 800, 4000 * kMB},              // stacking: maxMem, whatever the percentage
        {2000, 50, 2000 * kMB, 1000, 1000 * kMB},             // maxMem equal to the free memory: the share
        {-1, 50, 2000 * kMB, -1, 0},
    };
    for (const auto &[maxMem, memPercent, available, calibrationMB, stackingBytes] : rows) {
        const ResourcePreferences p = prefs(8, maxMem, memPercent);
        EXPECT_EQ((std::pair{calibrationMemoryLimitMB(p, available), stackingMemoryBudgetBytes(p, available)}),
                  (std::pair{calibrationMB, stackingBytes}))
            << "maxMem " << maxMem << ", " << memPercent << " % of " << available << " bytes";
    }
}

TEST(CalibrationThreads, MemoryLimitBoundsTheThreadCountButNeverBelowOne)
{
    // maxThreads, limit MB, width, height -> MB per frame (-1: overflowed), threads, reduced.
    const std::tuple<int, int, int, int, std::int64_t, int, bool> rows[] = {
        {8, 1024, 5184, 3456, 734, 1, true}, // a large sensor: 1024 MB allow one frame
        {4, 400, 2000, 1220, 100, 4, false}, // tight: 4 x 100 MB is exactly the limit
        {4, 399, 2000, 1220, 100, 3, true},  // one MB short: one thread fewer
        {4, -5, 2000, 1220, 100, 1, true},   // a negative limit from an edited file
        {8, 0, 100, 100, 0, 8, false},       // a tiny frame is reckoned at 0 MB: no division
        {8, 1024, 0, 0, 0, 8, false},        // the size could not be read
        {0, 1024, 1000, 1000, 41, 1, false}, // a stored 0 threads still runs one
        // Sizes whose products overflow still give a thread count.
        {1 << 30, 1024, 2000000000, 2000000000, -1, 1, true},
    };
    for (const auto &[maxThreads, limitMB, width, height, perFrameMB, threads, reduced] : rows) {
        const CalibrationThreads result = calibrationThreads(prefs(maxThreads, 1024, 50), limitMB, width, height);
        EXPECT_EQ((std::tuple{perFrameMB < 0 ? -1 : result.perFrameMB, result.threads, result.reduced}),
                  (std::tuple{perFrameMB, threads, reduced}))
            << maxThreads << " threads, limit " << limitMB << ", " << width << " x " << height;
    }
}

TEST(PreferenceDefaults, DialogProposesHalfTheMachineWhileRunsUseTheirOwnDefaults)
{
    // Twelve threads and 16 GB give 6, 8192 and 50 in the dialog; stored values are used as they are
    // (test_wndsettings.cpp).
    MachineMemory sixtyFour;
    sixtyFour.totalBytes = std::uint64_t{65536} * kMB;
    const ResourcePreferences proposed = dialogDefaults(1, sixtyFour);
    EXPECT_EQ(std::tuple(proposed.maxThreads, proposed.maxMem, proposed.memPercent), std::tuple(1, 32768, 50))
        << "at least one thread";
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    const ResourcePreferences run = readRunPreferences();
    EXPECT_EQ(std::tuple(run.maxThreads, run.maxMem, run.memPercent), std::tuple(8, 1024, 50));
}

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
    ASSERT_TRUE(frame && frame->whiteLevel == 1.0f);
    EXPECT_FLOAT_EQ(frame->getPixel(3, 2).b, rgbAt(3, 2, 2) / 65535.0f) << "RAW scale normalised";
    EXPECT_TRUE(log.contains("Calibrating " + light + "...") && log.contains(written + " done."));
    EXPECT_TRUE(log.statusTexts().contains("Calibrating light frames..."));
}

TEST(CalibrationRun, AppliesMastersToEveryFrameWhereTheyReachNormalisingSixteenBitOnesAndWarningOnce)
{
    const QString out = freshFolder("out-all");
    CalibrationParameters parameters = parametersFor(lightFrames("light", 3, 20, 20, 32768.0, 8192.0), out, 1);
    parameters.biasPath = writeConstantFrame("bias.fits", 20, 20, 0.0625);
    parameters.darkPath = lightFrames("dark16-", 1, 10, 10, 8192.0).first();  // 0.125, 16-bit and smaller
    parameters.flatPath = lightFrames("flat16-", 1, 20, 20, 32768.0).first(); // 0.5, 16-bit
    CapturingLog log;
    frameCalibration run(parameters, nullptr, log);
    ASSERT_EQ(run.loadMasters(), 0);
    EXPECT_EQ(log.lines().filter("Setting "),
              (QStringList{"Setting bias frame to: bias.fits", "Setting dark frame to: dark16-0.fits",
                           "Setting flat frame to: flat16-0.fits"}))
        << "bias, dark, flat in this order";
    ASSERT_EQ(runCalibration(run).first, 1) << log.lines().join('\n').toStdString();
    for (int i = 0; i < 3; ++i) {
        const auto frame = loadImage(out + QStringLiteral("/light%1.fts").arg(i));
        ASSERT_TRUE(frame) << i;
        const float light = (32768.0f + 8192.0f * i) / 65536.0f;
        EXPECT_FLOAT_EQ(frame->getPixel(9, 9).g, (light - 0.125f - 0.0625f) / 0.5f) << i;
        EXPECT_FLOAT_EQ(frame->getPixel(10, 19).r, (light - 0.0625f) / 0.5f)
            << "outside the dark nothing is subtracted";
    }
    EXPECT_EQ(log.progressValues(), (QList<float>{33.0f, 66.0f, 100.0f})) << "truncated percentages";
    const QStringList notes = log.lines().filter("is not normalised");
    ASSERT_EQ(notes.size(), 2) << "one line per master, not per frame";
    EXPECT_TRUE(notes[0].startsWith("Master dark dark16-0.fits is not normalised (white level ")
                && notes[1].startsWith("Master flat flat16-0.fits"));
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
    // A master that cannot be loaded stops it before any frame starts.
    CalibrationParameters parameters = parametersFor({good}, out);
    parameters.darkPath = "no-such-dark.fits";
    CapturingLog masterLog;
    frameCalibration masterRun(parameters, nullptr, masterLog);
    EXPECT_TRUE(masterRun.loadMasters() != 0 && masterLog.contains("Setting dark frame to: no-such-dark.fits"));
    EXPECT_TRUE(runCalibration(masterRun).first == 10 && masterLog.lines().filter("Calibrating ").isEmpty());
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
    EXPECT_TRUE(failed.logSeverity == Severity::Warning && failed.statusText == "Error 105");
    EXPECT_TRUE(calibrationErrorText(-4) == "Unknown error" && calibrationOutcome(0).logLine == "Calibration done.");
    EXPECT_EQ(calibrationOutcome(kCalibrationAborted).logLine + calibrationOutcome(kCalibrationAborted).statusText,
              "Calibration aborted.Aborted.");
}
