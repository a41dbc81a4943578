// What a careless or hostile user may type: every bad input is refused before any work with one
// line in words and its exit status (2 for the command line, 1 for a failed run), with --json
// as an object whose "error" says the same; no writer leaves anything behind.
#include "clirun.h"
#include "support/fitsfixture.h"
#include "terminallog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

using testsupport::writeConstantFrame;

namespace {

struct BadInputFixture : ::testing::Test {
    void SetUp() override
    {
        QDir(QStringLiteral("bad")).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(QStringLiteral("bad")));
        ASSERT_TRUE(QDir::setCurrent(QStringLiteral("bad")));
        writeConstantFrame(QStringLiteral("good.fits"), 40, 30, 0.25, -32, 3);
        ASSERT_EQ(::mkfifo("pipe.fits", 0600), 0);
        ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), QStringLiteral("device.fits")));
        // 6 KB whose header claims 200000 x 200000 pixels.
        ASSERT_TRUE(testsupport::writeBytes(
            QStringLiteral("huge.fits"),
            testsupport::fitsHeaderBlock({"SIMPLE = T", "BITPIX = -32", "NAXIS = 2", "NAXIS1 = 200000",
                                          "NAXIS2 = 200000"})
                + QByteArray(2880, '\0')));
        ASSERT_TRUE(testsupport::writeBytes(QStringLiteral("empty.fits"), QByteArray()));
        ASSERT_TRUE(testsupport::writeBytes(QStringLiteral("outside.txt"), "10 10\n500 500\n"));
    }
    void TearDown() override { QDir::setCurrent(QStringLiteral("..")); }
};

} // namespace

TEST_F(BadInputFixture, EveryBadInputIsRefusedInWordsWithItsExitStatus)
{
    const struct {
        QStringList arguments;
        int status;
        const char *error;
    } cases[] = {
        // Numbers: NaN and infinities lie outside every range, as do the dialogs' out-of-bounds values.
        {{"gain", "good.fits", "o.fits", "inf", "1", "1"}, 2, "R takes a number from 0 to 1000, not 'inf'"},
        {{"render", "good.fits", "o.png", "--gamma", "0"}, 2, "--gamma takes a number from 0.01 to 99.99, not '0'"},
        {{"render", "good.fits", "o.png", "--black", "0.5", "--white", "0.2"}, 2, "--white must lie above --black"},
        {{"flatten", "good.fits", "o.fits", "--markers", "outside.txt"}, 2,
         "outside.txt:2: the marker 500 500 lies outside the 40 x 30 image"},
        // No argument may cause unbounded work.
        {{"stats", "good.fits", "--region", "0,0,2147483647,2147483647"}, 2,
         "--region 0,0,2147483647,2147483647 does not lie within the 40 x 30 image"},
        {{"flatten", "good.fits", "o.fits", "--grid", "100000000"}, 2,
         "--grid takes a whole number from 1 to 10000, not '100000000'"},
        // What is not a regular file is refused at once, never read or waited on.
        {{"info", "pipe.fits"}, 1, "cannot open 'pipe.fits': it is a pipe, not a file (error 1109)"},
        {{"stats", "device.fits"}, 1, "cannot open 'device.fits': it is a device, not a file (error 1109)"},
        {{"stack", "--out", "o.fits", "--registration", "pipe.fits"}, 1,
         "cannot read the registration table pipe.fits: cannot open 'pipe.fits': it is a pipe"},
        // Failures say what went wrong with which file, in words.
        {{"convert", "x.fits", "o.fits"}, 1, "cannot open 'x.fits': no such file (error 104)"},
        {{"info", "huge.fits"}, 1, "cannot open 'huge.fits': the file ends before the image its header describes"},
        {{"info", "empty.fits"}, 1, "cannot open 'empty.fits': the file is empty"},
    };
    for (const auto &c : cases) {
        for (const bool json : {false, true}) {
            const CliRun run = runCli(c.arguments + (json ? QStringList{"--json"} : QStringList{}));
            const std::string what = c.arguments.join(' ').toStdString();
            EXPECT_EQ(run.status, c.status) << what << "\n" << run.err.toStdString();
            EXPECT_TRUE(run.err.contains(QStringLiteral("verdanix-cli: ") + QLatin1String(c.error)))
                << what << "\n" << run.err.toStdString();
            if (json) {
                EXPECT_TRUE(QLatin1String(c.error).startsWith(run.json().value("error").toString().left(20)))
                    << what << "\n" << run.out.toStdString();
            }
        }
    }
    EXPECT_EQ(QDir().entryList(QDir::Files | QDir::Hidden | QDir::System).filter("o.").size(), 0) << "nothing written";
}

// Every writer refuses what the FITS writer refuses: a name that exists, a symbolic link (the
// file it points to is never created), a folder that does not exist.
TEST_F(BadInputFixture, EveryWriterRefusesExistingNamesLinksAndMissingFolders)
{
    const struct {
        const char *suffix;
        QStringList (*arguments)(const QString &target);
    } writers[] = {
        {"fits", [](const QString &t) { return QStringList{"convert", "good.fits", t}; }},
        {"jpg", [](const QString &t) { return QStringList{"render", "good.fits", t}; }},
        {"json", [](const QString &t) { return QStringList{"register", "good.fits", "good.fits", "--save", t}; }},
    };
    for (const auto &writer : writers) {
        const QString suffix = QLatin1String(writer.suffix);
        ASSERT_TRUE(testsupport::writeBytes("taken." + suffix, "the user's"));
        ASSERT_TRUE(QFile::link("elsewhere." + suffix, "link." + suffix));
        for (const QString &target : {"taken." + suffix, "link." + suffix, "nofolder/x." + suffix}) {
            const CliRun run = runCli(writer.arguments(target));
            const std::string what = writer.arguments(target).join(' ').toStdString();
            EXPECT_EQ(run.status, 1) << what << "\n" << run.err.toStdString();
            EXPECT_TRUE(run.err.contains("verdanix-cli: cannot write '" + target + "': "))
                << what << run.err.toStdString();
            EXPECT_FALSE(run.err.contains("Processing")) << "refused before any frame is loaded";
        }
        QFile taken("taken." + suffix);
        ASSERT_TRUE(taken.open(QIODevice::ReadOnly));
        EXPECT_EQ(taken.readAll(), QByteArray("the user's"));
        EXPECT_FALSE(QFileInfo::exists("elsewhere." + suffix)) << "written through the link";
        QFile::remove("taken." + suffix);
        QFile::remove("link." + suffix);
    }
}

TEST(CliConsistency, EveryCommandTakesJsonAndListsItsOptionsWithDefaults)
{
    for (const char *command : {"info", "convert", "render", "stats", "neutralize", "gain", "combine", "flatten",
                                "sysinfo", "calibrate", "stars", "match", "register", "stack", "master"}) {
        const CliRun help = runCli({command, "--help"});
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_TRUE(help.out.contains("--json") && help.out.contains("default")) << help.out.toStdString();
        // Without its files every command but sysinfo is a usage error, and says so as JSON too.
        const CliRun bare = runCli({command, "--json"});
        if (QLatin1String(command) == QLatin1String("sysinfo")) {
            EXPECT_EQ(bare.status, 0);
            EXPECT_TRUE(bare.json().contains("error") && bare.json().value("error").isNull());
            EXPECT_GE(bare.json().value("hardwareThreads").toInt(), 1);
            EXPECT_GT(bare.json().value("totalMemoryMB").toInt(), 0);
        } else {
            EXPECT_EQ(bare.status, 2) << command;
            EXPECT_FALSE(bare.json().value("error").toString().isEmpty()) << command << bare.out.toStdString();
        }
        const CliRun refused = runCli({command, "--no-such-option", "x"});
        EXPECT_EQ(refused.status, 2) << command;
        EXPECT_TRUE(refused.err.contains("unknown option --no-such-option")) << refused.err.toStdString();
    }
}

// On a terminal the progress line is taken away before a result line is written and drawn
// again after it, so the two never share a line.
TEST(CliConsistency, ProgressNeverRunsIntoResultLinesOnATerminal)
{
    std::FILE *screen = std::tmpfile();
    ASSERT_NE(screen, nullptr);
    {
        TerminalLog log(screen, true);
        TerminalStream device(screen, log);
        QTextStream out(&device);
        log.setProgress(50.0f);
        log.setStatusText(QStringLiteral("Calibrating light frames..."));
        out << "[1/2] out/a.fts\n";
        out.flush();
        log.logMessage(QStringLiteral("Calibration done."));
    }
    std::rewind(screen);
    char text[512] = {0};
    const std::size_t length = std::fread(text, 1, sizeof text - 1, screen);
    std::fclose(screen);
    const QByteArray status = "[ 50%] Calibrating light frames...";
    const QByteArray erase = "\r\033[K";
    const QByteArray screenText(text, static_cast<int>(length));
    EXPECT_TRUE(screenText.endsWith(status + erase + "[1/2] out/a.fts\n" + status + erase + "Calibration done.\n"
                                    + status + erase))
        << screenText.toStdString();
}
