// verdanix-cli stack and master, end to end; the statistics themselves are the core tests'.
#include "clirun.h"
#include "image/imagebuffer.h"
#include "stars/registrationtable.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using testsupport::loadImage;
using testsupport::writeConstantFrame;
using testsupport::writeFrame;

namespace {

QStringList threeFrames(const QString &prefix)
{
    return {writeConstantFrame(prefix + "-a.fits", 16, 12, 0.2), writeConstantFrame(prefix + "-b.fits", 16, 12, 0.4),
            writeConstantFrame(prefix + "-c.fits", 16, 12, 0.9)};
}

} // namespace

TEST(CliStack, StacksFramesAndReportsTheRunAsJsonOrText)
{
    const QStringList frames = threeFrames("run");
    QFile::remove("run-average.fits");
    QFile::remove("run-median.fits");
    const CliRun average = runCli(QStringList{"stack", "--json", "--threads", "2", "--out", "run-average.fits"} + frames);
    ASSERT_EQ(average.status, 0) << average.err.toStdString();
    const QJsonObject json = average.json();
    EXPECT_EQ(json.value("frames").toInt(), 3);
    EXPECT_EQ(json.value("size").toObject().value("width").toInt(), 16);
    EXPECT_EQ(json.value("method").toString(), "average");
    EXPECT_EQ(json.value("output").toString(), "run-average.fits");
    EXPECT_TRUE(average.err.contains("Doing AVERAGE-Stacking...")) << "progress on stderr";
    const auto stacked = loadImage("run-average.fits");
    ASSERT_TRUE(stacked);
    EXPECT_FLOAT_EQ(stacked->getPixel(7, 5).g, 0.5f);

    const CliRun median = runCli(QStringList{"stack", "--method", "median", "--out", "run-median.fits"} + frames);
    ASSERT_EQ(median.status, 0) << median.err.toStdString();
    EXPECT_TRUE(median.out.startsWith("run-median.fits: 3 frames, 16 x 12, 1 band, ")) << median.out.toStdString();
}

TEST(CliStack, RefusesBadArgumentsBeforeAnyWork)
{
    const QStringList frames = threeFrames("bad");
    const struct {
        QStringList arguments;
        QString error;
    } cases[] = {
        {{"--method", "mean", "--out", "bad.fits"}, "unknown --method 'mean' (one of: average, median, sigma)"},
        {{"--interpolation", "lanczos3", "--out", "bad.fits"}, "--interpolation is only used with --registration"},
        {{"--reject", "trim", "--fraction", "0.9", "--out", "bad.fits"},
         "Trimming 3 frames with the fraction 0.9 would keep no value; use a smaller fraction."},
        {{"--reject", "winsorize", "--fraction", "0.5", "--out", "bad.fits"}, "would replace 2 values at each end"},
        {{"--sigma", "nan", "--out", "bad.fits"}, "--sigma needs a number of at least 0, not 'nan'"},
        {{}, "stack needs an output file (--out OUT.fits)"},
        {{"--out", "bad.png"}, "bad.png must end in .fits"},
        {{"--out", "bad.fits", "bad-missing.fits"}, "verdanix-cli: cannot open 'bad-missing.fits': no such file\n"},
    };
    for (const auto &c : cases) {
        const CliRun run = runCli(QStringList{"stack"} + c.arguments + frames);
        EXPECT_NE(run.status, 0) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(c.error)) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains("MultiBuffer")) << "refused before reading a frame";
    }
    EXPECT_FALSE(QFileInfo::exists("bad.fits"));
    EXPECT_EQ(runCli({"stack", "--out", "bad.fits", frames.first()}).err.toStdString(),
              "verdanix-cli: stack needs at least two frames\n");
    const QStringList median = {"stack", "--method", "median", "--reject", "trim", "--fraction", "0.9", "--out", "bad-median.fits"};
    EXPECT_EQ(runCli(median + frames.mid(0, 2)).status, 0) << "the median uses no rejection";
}

TEST(CliStack, AFailedFrameOrMasterEndsTheRunNamingItAndWritesNothing)
{
    const QStringList frames = threeFrames("fail");
    ASSERT_TRUE(testsupport::writeBytes("fail-broken.fits",
                                        testsupport::fitsHeaderBlock({"SIMPLE  = T", "BITPIX  = -32", "NAXIS   = 3",
                                                                      "NAXIS1  = 16", "NAXIS2  = 12", "NAXIS3  = 3"})));
    const struct {
        QStringList arguments;
        QString error;
    } cases[] = {
        {{"fail-broken.fits"}, "verdanix-cli: could not load fail-broken.fits: "},
        {{"--flat", "fail-noflat.fits"}, "verdanix-cli: cannot read master flat fail-noflat.fits: "},
        {{"--dark", writeConstantFrame("fail-dark.fits", 8, 8, 0.1)},
         "verdanix-cli: master dark fail-dark.fits is 8 x 8 pixels, the frames are 16 x 12"},
    };
    for (const auto &c : cases) {
        const CliRun run = runCli(QStringList{"stack", "--out", "fail.fits"} + frames + c.arguments);
        EXPECT_NE(run.status, 0);
        EXPECT_TRUE(run.err.contains(c.error)) << run.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists("fail.fits"));
}

TEST(CliStack, StacksTheStackableFramesOfARegistrationTable)
{
    const auto scene = [](int x, int y, int c) { return 0.01 * ((x * 5 + y * 3 + c) % 40); };
    RegistrationTable table;
    table.frames.push_back({writeFrame("table-a.fits", 24, 16, scene), 0, 0, 0, 10, 2, true});
    table.frames.push_back({writeFrame("table-b.fits", 24, 16, [&](int x, int y, int c) { return scene(x + 2, y, c); }),
                            2.0f, 0.0f, 0.0f, 10, 2, true});
    table.frames.push_back({writeConstantFrame("table-c.fits", 24, 16, 5.0), 0, 0, 0, 1, 2, false});
    QFile::remove("table.json");
    QString error;
    ASSERT_EQ(writeRegistrationTable("table.json", table, error), 0) << error.toStdString();
    QFile::remove("table-stack.fits");

    const CliRun run = runCli({"stack", "--registration", "table.json", "--json", "--out", "table-stack.fits"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.json().value("frames").toInt(), 2) << "the frame that is not stackable stays out";
    EXPECT_TRUE(run.json().value("registered").toBool());
    EXPECT_EQ(run.json().value("interpolation").toString(), "nearest");
    const auto stacked = loadImage("table-stack.fits");
    ASSERT_TRUE(stacked);
    EXPECT_EQ(stacked->width, 25) << "widened by the shifted frame";
    EXPECT_FLOAT_EQ(stacked->getPixel(10, 7).b, static_cast<float>(scene(10, 7, 2)));

    EXPECT_EQ(runCli({"stack", "--registration", "table.json", "--out", "table-2.fits", "table-a.fits"}).status, 2);
}

TEST(CliMaster, WritesEachTypeOfMasterAndRefusesOptionsTheTypeDoesNotUse)
{
    QStringList flats;
    for (int i = 0; i < 3; ++i)
        flats << writeFrame(QStringLiteral("mflat-%1.fits").arg(i), 200, 100,
                            [i](int x, int, int c) { return (0.2 + 0.1 * i) * (1.0 + c) * (x + 1) / 200.0; });
    QFile::remove("master-flat.fits");
    const CliRun flat =
        runCli(QStringList{"master", "--type", "flat", "--normalize", "--json", "--out", "master-flat.fits"} + flats);
    ASSERT_EQ(flat.status, 0) << flat.err.toStdString();
    EXPECT_EQ(flat.json().value("title").toString(), "Master Flat");
    EXPECT_EQ(flat.json().value("method").toString(), "median");
    const auto master = loadImage("master-flat.fits");
    EXPECT_TRUE(master && master->getPixel(199, 50).r == 1.0f) << "normalised to the bright end";

    const struct {
        QStringList arguments;
        QString error;
    } refused[] = {
        {{"--type", "bias", "--bias", "mbias.fits"}, "--bias is not used for a master bias"},
        {{"--type", "darkflat", "--normalize"}, "--normalize is only used for a master flat"},
        {{"--type", "light"}, "unknown --type 'light' (one of: flat, dark, bias, darkflat)"},
        {{}, "master needs a frame type"},
    };
    for (const auto &c : refused) {
        const CliRun run = runCli(QStringList{"master"} + c.arguments + QStringList{"--out", "master-x.fits"} + flats);
        EXPECT_EQ(run.status, 2) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(c.error)) << run.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists("master-x.fits"));
}

TEST(CliStack, InterruptStopsTheStackWithoutWritingIt)
{
    QStringList frames;
    for (int i = 0; i < 6; ++i)
        frames << writeConstantFrame(QStringLiteral("stop-%1.fits").arg(i), 1500, 1200, 0.1 * i);
    QFile::remove("stop.fits");
    const CliRun run = interruptCliAt(QStringList{"stack", "--method", "sigma", "--reject", "winsorize", "--mem", "16",
                                                  "--threads", "1", "--out", "stop.fits"}
                                          + frames,
                                      "Loading stop-5.fits");
    EXPECT_GT(run.status, 0) << "the first Ctrl-C ends the run, it does not kill";
    EXPECT_TRUE(run.err.contains("Abort request received. All worker threads ended.")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("verdanix-cli: stacking aborted (error 1099)"));
    EXPECT_FALSE(QFileInfo::exists("stop.fits"));
    EXPECT_TRUE(QDir(".").entryList({"*.part"}).isEmpty());
}

TEST(CliStack, StacksAndMakesMastersFromTheRealM94Frames)
{
    const QDir night(QStringLiteral(VERDANIX_DATA_DIR "/fits/m94-night1"));
    const QStringList names = night.entryList({"*.fit"}, QDir::Files, QDir::Name);
    if (names.size() < 10)
        GTEST_SKIP() << "no M94 frames in " << night.path().toStdString();
    QStringList frames;
    for (const QString &name : names)
        frames << night.filePath(name);
    for (const QStringList &command : {QStringList{"stack", "--method", "sigma", "--out", "m94.fits"},
                                       QStringList{"master", "--type", "dark", "--out", "m94dark.fits"}}) {
        QFile::remove(command.last());
        const CliRun run = runCli(command + QStringList{"--json"} + frames);
        ASSERT_EQ(run.status, 0) << run.err.toStdString();
        const auto stacked = loadImage(command.last());
        ASSERT_TRUE(stacked);
        EXPECT_EQ(stacked->width, 1080);
        EXPECT_EQ(stacked->height, 1920);
    }
}
