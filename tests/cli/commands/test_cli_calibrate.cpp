#include "clirun.h"
#include "platform/settingsfile.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

CliRun calibrate(const QStringList &arguments)
{
    return runCli(QStringList{"calibrate"} + arguments);
}

QString emptyFolder(const QString &name)
{
    QDir(name).removeRecursively();
    QDir().mkpath(name);
    return name;
}

// A 16-bit grey frame with one value everywhere; float masters (white level 1.0) in three planes.
QString writeFrame(const QString &path, int width, int height, double value, int bitpix = 16)
{
    return testsupport::writeConstantFrame(path, width, height, value, bitpix, bitpix < 0 ? 3 : 0);
}

} // namespace

TEST(CliCalibrate, CalibratesEachFrameWithProgressAndNeverOverwrites)
{
    const QString out = emptyFolder("cal-out");
    const QStringList frames = {writeFrame("cal-a.fits", 12, 10, 32768.0),
                                writeFrame("cal-b.light.fits", 12, 10, 49152.0)};
    const QString dark = writeFrame("cal-dark.fits", 12, 10, 0.25, -32);
    const QString flat = writeFrame("cal-flat.fits", 12, 10, 0.5, -32);
    const CliRun run = calibrate(QStringList{"--out", out, "--dark", dark, "--flat", flat, "--threads", "1"} + frames);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.toStdString(), "[1/2] cal-out/cal-a.fts\n[2/2] cal-out/cal-b.light.fts\n");
    EXPECT_TRUE(run.err.contains("Setting dark frame to: cal-dark.fits"));
    EXPECT_TRUE(run.err.contains("Calibration done."));
    // (0.75 - 0.25) / 0.5 = 1.0 everywhere: the info command reads it back.
    const CliRun info = runCli({"info", "--json", out + "/cal-b.light.fts"});
    EXPECT_EQ(info.json().value("files").toArray().first().toObject().value("maxValue").toDouble(), 1.0);

    const CliRun again = calibrate(QStringList{"--out", out, "--json"} + frames);
    EXPECT_NE(again.status, 0);
    // The designed log line stays, and the command's own line says it in words.
    EXPECT_TRUE(again.err.contains("Error during frame calibration: Could not create FITS file (may be it already "
                                   "exists?)\n"));
    EXPECT_TRUE(again.err.contains("cannot write 'cal-out/cal-a.fts': it exists already; it is never overwritten"));
    EXPECT_TRUE(again.err.endsWith("verdanix-cli: calibration failed: the file cannot be created (it exists "
                                   "already, or its folder does not) (error 105)\n"))
        << again.err.toStdString();
    EXPECT_EQ(again.json().value("errorCode").toInt(), 105);
    EXPECT_TRUE(again.json().value("written").toArray().isEmpty());
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 2) << "nothing added, nothing replaced";
}

TEST(CliCalibrate, ThreadsOptionOverridesTheSettingsFile)
{
    const QString frame = writeFrame("threads.fits", 8, 8, 1000.0);
    settingsfile::setValue("Preferences", "maxThreads", 3);
    const CliRun fromSettings = calibrate({"--out", emptyFolder("threads-a"), "--json", frame});
    const CliRun overridden = calibrate({"--out", emptyFolder("threads-b"), "--json", "--threads", "1", frame});
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    EXPECT_EQ(fromSettings.json().value("threads").toInt(), 3) << fromSettings.err.toStdString();
    EXPECT_EQ(overridden.json().value("threads").toInt(), 1);
    EXPECT_EQ(overridden.json().value("written").toArray(), QJsonArray{"threads-b/threads.fts"});
}

TEST(CliCalibrate, RefusesIncompleteRequestsWithOneLine)
{
    const QString frame = writeFrame("usage.fits", 4, 4, 100.0);
    const QString out = emptyFolder("usage-out");
    const struct {
        QStringList arguments;
        QString error;
    } cases[] = {
        {{frame}, "verdanix-cli: calibrate needs an output folder (--out DIR)\n"},
        {{"--out", out}, "verdanix-cli: calibrate needs at least one light frame\n"},
        {{"--out", out, "--threads", "none", frame},
         "verdanix-cli: --threads takes a whole number from 1 to 100, not 'none'\n"},
        {{"--out", "no-such-folder", frame},
         "verdanix-cli: Output directory does not exist. Please create it first.\n"},
        {{"--out", out, "--bias", "no-such-bias.fits", frame},
         "verdanix-cli: cannot open 'no-such-bias.fits': no such file\n"},
    };
    for (const auto &c : cases) {
        const CliRun run = calibrate(c.arguments);
        EXPECT_NE(run.status, 0) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(run.err.toStdString(), c.error.toStdString());
    }
    EXPECT_FALSE(QFileInfo::exists(out + "/usage.fts")) << "a master that fails to load stops the run first";
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
        const QFileInfoList files = QDir(out).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
        EXPECT_LT(files.size(), frames.size());
        for (const QFileInfo &file : files) {
            EXPECT_EQ(file.suffix(), "fts") << "no scratch file: " << file.fileName().toStdString();
            EXPECT_EQ(file.size(), 2880 + 1200 * 1000 * 3 * 4)
                << "every file is complete: " << file.fileName().toStdString();
        }
        EXPECT_EQ(runCli(QStringList{"calibrate", "--out", out} + missing).status, 0);
        EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), frames.size());
    }
}
