// verdanix-cli stack and master, end to end; the statistics themselves are the core tests'.
#include "clirun.h"
#include "image/imagebuffer.h"
#include "stars/registrationtable.h"
#include "support/fitsfixture.h"
#include "testdata/starfield.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using testsupport::loadImage;
using testsupport::writeConstantFrame;
using testsupport::writeFrame;

TEST(CliStack, StackAndMasterReportTheRunAndWriteWhatTheFramesOrARegistrationTableMake)
{
    QStringList frames;
    for (const double value : {0.2, 0.4, 0.9})
        frames << writeConstantFrame(QStringLiteral("run-%1.fits").arg(value), 16, 12, value);
    for (const char *name : {"average.fits", "median.fits", "trim.fits", "master-flat.fits"})
        QFile::remove(name);
    const CliRun average = runCli(QStringList{"stack", "--json", "--threads", "2", "--out", "average.fits"} + frames);
    ASSERT_EQ(average.status, 0) << average.err.toStdString();
    const QJsonObject json = average.json();
    EXPECT_TRUE(json["frames"] == 3 && json["method"] == "average" && json["output"] == "average.fits"
                && json["size"].toObject()["width"] == 16 && json["registered"] == false);
    const CliRun median = runCli(QStringList{"stack", "--method", "median", "--out", "median.fits"} + frames);
    EXPECT_TRUE(median.out.startsWith("median.fits: 3 frames, 16 x 12, 1 band, ")) << median.out.toStdString();
    EXPECT_FLOAT_EQ(loadImage("average.fits")->getPixel(7, 5).g, 0.5f);
    EXPECT_FLOAT_EQ(loadImage("median.fits")->getPixel(7, 5).g, 0.4f);
    const QStringList trim = {"stack", "--method", "median", "--reject", "trim", "--fraction", "0.9", "--out"};
    EXPECT_EQ(runCli(trim + QStringList{"trim.fits"} + frames.mid(0, 2)).status, 0) << "the median uses no rejection";

    QStringList flats;
    for (int i = 0; i < 3; ++i)
        flats << writeFrame(QStringLiteral("mflat-%1.fits").arg(i), 200, 100,
                            [i](int x, int, int c) { return (0.2 + 0.1 * i) * (1.0 + c) * (x + 1) / 200.0; });
    const CliRun flat =
        runCli(QStringList{"master", "--type", "flat", "--normalize", "--json", "--out", "master-flat.fits"} + flats);
    ASSERT_EQ(flat.status, 0) << flat.err.toStdString();
    EXPECT_TRUE(flat.json()["title"] == "Master Flat" && flat.json()["method"] == "median") << flat.out.toStdString();
    const auto master = loadImage("master-flat.fits");
    EXPECT_TRUE(master && master->getPixel(199, 50).r == 1.0f) << "normalised to the bright end";
    // A registration table: only its stackable frames are stacked.
    const auto scene = [](int x, int y, int c) { return 0.01 * ((x * 5 + y * 3 + c) % 40); };
    RegistrationTable table;
    table.frames.push_back({writeFrame("table-a.fits", 24, 16, scene), 0, 0, 0, 10, 2, true});
    table.frames.push_back({writeFrame("table-b.fits", 24, 16, [&](int x, int y, int c) { return scene(x + 2, y, c); }),
                            2.0f, 0.0f, 0.0f, 10, 2, true});
    table.frames.push_back({writeConstantFrame("table-c.fits", 24, 16, 5.0), 0, 0, 0, 1, 2, false});
    QFile::remove("table.json");
    QFile::remove("table-stack.fits");
    QString error;
    ASSERT_EQ(writeRegistrationTable("table.json", table, error), 0) << error.toStdString();
    const CliRun run = runCli({"stack", "--registration", "table.json", "--json", "--out", "table-stack.fits"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.json().value("frames").toInt(), 2) << "the frame that is not stackable stays out";
    EXPECT_TRUE(run.json()["registered"] == true && run.json()["interpolation"] == "nearest");
    const auto stacked = loadImage("table-stack.fits");
    ASSERT_TRUE(stacked && stacked->width == 25) << "widened by the shifted frame";
    EXPECT_FLOAT_EQ(stacked->getPixel(10, 7).b, static_cast<float>(scene(10, 7, 2)));
    EXPECT_EQ(runCli({"stack", "--registration", "table.json", "--out", "table-2.fits", "table-a.fits"}).status, 2);
}

// The first Ctrl-C ends a stack or a registration (it does not kill) and neither writes its
// output; a registration starts no further frame.
TEST(CliStack, InterruptStopsAStackOrARegistrationWithoutWritingIt)
{
    QStringList stack = {"stack", "--method", "sigma", "--reject", "winsorize", "--mem", "16", "--threads", "1"};
    stack << "--out" << "stop.fits";
    for (int i = 0; i < 6; ++i)
        stack << writeConstantFrame(QStringLiteral("stop-%1.fits").arg(i), 1500, 1200, 0.1 * i);
    // One larger frame listed many times keeps the registration busy long enough to interrupt it.
    QStringList registration = {"register", "--threads", "1", "--save", "stop.json"};
    const QString frame = testsupport::writeSyntheticFrames("reg-big", {{0, 0, 0}}, 1200, 900).paths.first();
    for (int i = 0; i < 100; ++i)
        registration << frame;
    const struct {
        QStringList arguments;
        const char *cue, *aborting, *error, *output;
    } cases[] = {{stack, "Loading stop-5.fits", "Abort request received. All worker threads ended.",
                  "verdanix-cli: stacking aborted (error 1099)\n", "stop.fits"},
                 {registration, "Finished ", "Aborting frame registration, please wait...",
                  "verdanix-cli: registration aborted (error 1012)\n", "stop.json"}};
    for (const auto &c : cases) {
        QFile::remove(c.output);
        const CliRun run = interruptCliAt(c.arguments, c.cue);
        EXPECT_EQ(run.status, 1) << "the first Ctrl-C ends the run, it does not kill";
        EXPECT_TRUE(run.err.contains(c.aborting) && run.err.endsWith(c.error)) << run.err.toStdString();
        EXPECT_LT(run.err.count("Processing "), 100);
        EXPECT_FALSE(QFileInfo::exists(c.output));
    }
    EXPECT_TRUE(QDir(".").entryList({"*.part"}).isEmpty());
}

TEST(CliStack, StacksTheRealM94Frames)
{
    const QDir night(QStringLiteral(VERDANIX_DATA_DIR "/fits/m94-night1"));
    QStringList frames;
    for (const QString &name : night.entryList({"*.fit"}, QDir::Files, QDir::Name))
        frames << night.filePath(name);
    if (frames.size() < 10)
        GTEST_SKIP() << "no M94 frames in " << night.path().toStdString();
    QFile::remove("m94.fits");
    const CliRun run = runCli(QStringList{"stack", "--method", "sigma", "--json", "--out", "m94.fits"} + frames);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const auto stacked = loadImage("m94.fits");
    EXPECT_TRUE(stacked && stacked->width == 1080 && stacked->height == 1920);
}
