#include "clirun.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "stars/registrationtable.h"
#include "support/capturinglog.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>

namespace {

// A colour float FITS frame (white level 1.0) with value(x, y, channel) in every pixel.
QString writeFrame(const QString &path, int width, int height, const std::function<double(int, int, int)> &value)
{
    testsupport::FitsImage image;
    image.bitpix = -32;
    image.axes = {width, height, 3};
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.values.push_back(value(x, y, c));
    EXPECT_EQ(testsupport::writeFitsFile(path, image), 0);
    return path;
}

QString writeConstant(const QString &path, int width, int height, double value)
{
    return writeFrame(path, width, height, [value](int, int, int) { return value; });
}

std::unique_ptr<ImageBuffer> load(const QString &path)
{
    ImageLoader loader;
    testsupport::CapturingLog quiet;
    loader.log = &quiet;
    return loader.loadFile(path, false);
}

QStringList threeFrames(const QString &prefix)
{
    return {writeConstant(prefix + "-a.fits", 16, 12, 0.2), writeConstant(prefix + "-b.fits", 16, 12, 0.4),
            writeConstant(prefix + "-c.fits", 16, 12, 0.9)};
}

} // namespace

TEST(CliStack, StacksFramesAndReportsTheRunAsJson)
{
    const QStringList frames = threeFrames("run");
    QFile::remove("run-average.fits");
    QFile::remove("run-median.fits");
    const CliRun average = runCli(QStringList{"stack", "--json", "--threads", "2", "--out", "run-average.fits"} + frames);
    ASSERT_EQ(average.status, 0) << average.err.toStdString();
    const QJsonObject json = average.json();
    EXPECT_EQ(json.value("frames").toInt(), 3);
    EXPECT_EQ(json.value("size").toObject().value("width").toInt(), 16);
    EXPECT_EQ(json.value("size").toObject().value("height").toInt(), 12);
    EXPECT_EQ(json.value("method").toString(), "average");
    EXPECT_EQ(json.value("rejection").toString(), "none");
    EXPECT_EQ(json.value("bands").toInt(), 1);
    EXPECT_TRUE(json.value("seconds").isDouble());
    EXPECT_EQ(json.value("output").toString(), "run-average.fits");
    EXPECT_TRUE(average.err.contains("Doing AVERAGE-Stacking...")) << "progress on stderr";
    const auto stacked = load("run-average.fits");
    ASSERT_TRUE(stacked);
    EXPECT_FLOAT_EQ(stacked->getPixel(7, 5).g, 0.5f);

    const CliRun median = runCli(QStringList{"stack", "--method", "median", "--out", "run-median.fits"} + frames);
    ASSERT_EQ(median.status, 0) << median.err.toStdString();
    EXPECT_TRUE(median.out.startsWith("run-median.fits: 3 frames, 16 x 12, 1 band, ")) << median.out.toStdString();
    EXPECT_FLOAT_EQ(load("run-median.fits")->getPixel(0, 0).r, 0.4f);
}

TEST(CliStack, RefusesBadArgumentsBeforeAnyWork)
{
    const QStringList frames = threeFrames("bad");
    writeConstant("bad-exists.fits", 4, 4, 0.5);
    const struct {
        QStringList arguments;
        QString error;
    } cases[] = {
        {{"--method", "mean", "--out", "bad.fits"}, "unknown --method 'mean' (one of: average, median, sigma)"},
        {{"--reject", "clip", "--out", "bad.fits"}, "unknown --reject 'clip' (one of: none, winsorize, trim)"},
        {{"--reject", "trim", "--fraction", "0.9", "--out", "bad.fits"},
         "Trimming 3 frames with the fraction 0.9 would keep no value; use a smaller fraction."},
        {{"--reject", "winsorize", "--fraction", "0.5", "--out", "bad.fits"}, "would replace 2 values at each end"},
        {{"--sigma", "-1", "--out", "bad.fits"}, "--sigma needs a number of at least 0, not '-1'"},
        {{"--sigma", "nan", "--out", "bad.fits"}, "--sigma needs a number of at least 0, not 'nan'"},
        {{"--fraction", "x", "--out", "bad.fits"}, "--fraction takes a number, not 'x'"},
        {{"--threads", "0", "--out", "bad.fits"}, "--threads needs a whole number of at least 1"},
        {{"--mem", "0", "--out", "bad.fits"}, "--mem needs a whole number of at least 1"},
        {{}, "stack needs an output file (--out OUT.fits)"},
        {{"--out", "bad-exists.fits"}, "bad-exists.fits exists already; it is never overwritten"},
        {{"--out", "bad.png"}, "bad.png must be a FITS file"},
    };
    for (const auto &c : cases) {
        const CliRun run = runCli(QStringList{"stack"} + c.arguments + frames);
        EXPECT_NE(run.status, 0) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(c.error)) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains("MultiBuffer")) << "refused before reading a frame";
    }
    EXPECT_FALSE(QFileInfo::exists("bad.fits"));
    EXPECT_TRUE(runCli({"stack", "--method", "median", "--reject", "trim", "--fraction", "0.9", "--out",
                        "bad-median.fits", frames.at(0), frames.at(1)})
                    .status
                == 0)
        << "the median uses no rejection";

    const CliRun one = runCli({"stack", "--out", "bad.fits", frames.first()});
    EXPECT_EQ(one.err.toStdString(), "verdanix-cli: stack needs at least two frames\n");
    const CliRun missing = runCli({"stack", "--out", "bad.fits", frames.first(), "bad-missing.fits"});
    EXPECT_EQ(missing.err.toStdString(), "verdanix-cli: cannot read bad-missing.fits: no such file\n");
}

TEST(CliStack, AFailedFrameOrMasterEndsTheRunNamingItAndWritesNothing)
{
    QStringList frames = threeFrames("fail");
    QFile broken("fail-broken.fits");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(testsupport::fitsHeaderBlock({"SIMPLE  = T", "BITPIX  = -32", "NAXIS   = 3", "NAXIS1  = 16",
                                                "NAXIS2  = 12", "NAXIS3  = 3"}));
    broken.close();
    const CliRun truncated = runCli(QStringList{"stack", "--out", "fail.fits"} + frames + QStringList{"fail-broken.fits"});
    EXPECT_NE(truncated.status, 0);
    EXPECT_TRUE(truncated.err.contains("verdanix-cli: could not load fail-broken.fits: ")) << truncated.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists("fail.fits"));

    const CliRun master = runCli(QStringList{"stack", "--flat", "fail-noflat.fits", "--out", "fail.fits"} + frames);
    EXPECT_NE(master.status, 0);
    EXPECT_TRUE(master.err.contains("verdanix-cli: cannot read master flat fail-noflat.fits: ")) << master.err.toStdString();
    const CliRun sized = runCli(QStringList{"stack", "--dark", writeConstant("fail-dark.fits", 8, 8, 0.1), "--out",
                                           "fail.fits"}
                                + frames);
    EXPECT_TRUE(sized.err.contains("verdanix-cli: master dark fail-dark.fits is 8 x 8 pixels, the frames are 16 x 12"))
        << sized.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists("fail.fits"));
}

TEST(CliStack, StacksTheStackableFramesOfARegistrationTable)
{
    const auto scene = [](int x, int y, int c) { return 0.01 * ((x * 5 + y * 3 + c) % 40); };
    RegistrationTable table;
    table.frames.push_back({writeFrame("table-a.fits", 24, 16, scene), 0, 0, 0, 10, 2, true});
    table.frames.push_back({writeFrame("table-b.fits", 24, 16, [&](int x, int y, int c) { return scene(x + 2, y, c); }),
                            2.0f, 0.0f, 0.0f, 10, 2, true});
    table.frames.push_back({writeConstant("table-c.fits", 24, 16, 5.0), 0, 0, 0, 1, 2, false});
    QFile::remove("table.json");
    QString error;
    ASSERT_EQ(writeRegistrationTable("table.json", table, error), 0) << error.toStdString();
    QFile::remove("table-stack.fits");

    const CliRun run = runCli({"stack", "--registration", "table.json", "--json", "--out", "table-stack.fits"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.json().value("frames").toInt(), 2) << "the frame that is not stackable stays out";
    EXPECT_TRUE(run.json().value("registered").toBool());
    const auto stacked = load("table-stack.fits");
    ASSERT_TRUE(stacked);
    EXPECT_EQ(stacked->width, 25) << "widened by the shifted frame";
    EXPECT_FLOAT_EQ(stacked->getPixel(10, 7).b, static_cast<float>(scene(10, 7, 2)));

    const CliRun both = runCli({"stack", "--registration", "table.json", "--out", "table-2.fits", "table-a.fits"});
    EXPECT_EQ(both.status, 2);
}

TEST(CliMaster, WritesEachTypeOfMaster)
{
    QStringList flats;
    for (int i = 0; i < 3; ++i)
        flats << writeFrame(QStringLiteral("mflat-%1.fits").arg(i), 200, 100,
                            [i](int x, int, int c) { return (0.2 + 0.1 * i) * (1.0 + c) * (x + 1) / 200.0; });
    QFile::remove("master-flat.fits");
    const CliRun flat = runCli(QStringList{"master", "--type", "flat", "--normalize", "--json", "--out",
                                           "master-flat.fits"}
                               + flats);
    ASSERT_EQ(flat.status, 0) << flat.err.toStdString();
    EXPECT_EQ(flat.json().value("title").toString(), "Master Flat");
    EXPECT_EQ(flat.json().value("method").toString(), "median");
    const auto master = load("master-flat.fits");
    ASSERT_TRUE(master);
    EXPECT_EQ(master->getPixel(199, 50).r, 1.0f) << "normalised to the bright end";
    EXPECT_NEAR(master->getPixel(99, 50).b, 0.5f, 0.01f);

    QFile::remove("master-dark.fits");
    const CliRun dark =
        runCli(QStringList{"master", "--type", "dark", "--method", "sigma", "--reject", "winsorize", "--bias",
                           writeConstant("mbias.fits", 200, 100, 0.01), "--json", "--out", "master-dark.fits"}
               + flats);
    ASSERT_EQ(dark.status, 0) << dark.err.toStdString();
    EXPECT_EQ(dark.json().value("rejection").toString(), "winsorize");
    EXPECT_TRUE(dark.err.contains("Highest pixel data: "));
    EXPECT_TRUE(dark.err.contains("Sigma-Stacking done."));

    const struct {
        QStringList arguments;
        QString error;
    } refused[] = {
        {{"--type", "bias", "--bias", "mbias.fits"}, "--bias is not used for a master bias"},
        {{"--type", "dark", "--darkflat", "mbias.fits"}, "--darkflat is only used for a master flat"},
        {{"--type", "darkflat", "--normalize"}, "--normalize is only used for a master flat"},
        {{"--type", "light"}, "unknown --type 'light' (one of: flat, dark, bias, darkflat)"},
        {{}, "master needs a frame type"},
        {{"--type", "bias", "--threads", "-2"}, "--threads needs a whole number of at least 1"},
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
        frames << writeConstant(QStringLiteral("stop-%1.fits").arg(i), 1500, 1200, 0.1 * i);
    QFile::remove("stop.fits");
    QProcess process;
    process.start(QStringLiteral(VERDANIX_CLI_PATH),
                  QStringList{"stack", "--method", "sigma", "--reject", "winsorize", "--mem", "16", "--threads", "1",
                              "--out", "stop.fits"}
                      + frames);
    process.setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(process.waitForStarted());
    QByteArray err;
    while (!err.contains("Loading stop-5.fits") && process.waitForReadyRead(60000))
        err += process.readAllStandardError();
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    err += process.readAllStandardError();

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "the first Ctrl-C does not kill";
    EXPECT_NE(process.exitCode(), 0);
    EXPECT_TRUE(err.contains("Abort request received. All worker threads ended.")) << err.toStdString();
    EXPECT_TRUE(err.contains("verdanix-cli: stacking aborted (error 1099)"));
    EXPECT_FALSE(QFileInfo::exists("stop.fits"));
    EXPECT_TRUE(QDir(".").entryList({"*.part"}).isEmpty());
}

TEST(CliStack, StacksTheRealM94Frames)
{
    const QDir night(QStringLiteral(VERDANIX_DATA_DIR "/fits/m94-night1"));
    const QStringList names = night.entryList({"*.fit"}, QDir::Files, QDir::Name);
    if (names.size() < 10)
        GTEST_SKIP() << "no M94 frames in " << night.path().toStdString();
    QStringList frames;
    for (const QString &name : names)
        frames << night.filePath(name);
    QFile::remove("m94.fits");
    const CliRun run = runCli(QStringList{"stack", "--method", "sigma", "--json", "--out", "m94.fits"} + frames);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.json().value("size").toObject().value("width").toInt(), 1080);
    const auto stacked = load("m94.fits");
    ASSERT_TRUE(stacked);
    EXPECT_EQ(stacked->height, 1920);
}
