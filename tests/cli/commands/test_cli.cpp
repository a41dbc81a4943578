#include "cliargs.h"
#include "clirun.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

namespace {

// An unsigned 16-bit 40 x 30 grey frame whose pixel (x, y) holds 1000 x + y.
QString writeGradient(const QString &name)
{
    return testsupport::writeFrame(QDir::current().filePath(name), 40, 30,
                                   [](int x, int y, int) { return 1000.0 * x + y; }, 16, 0);
}

QJsonObject firstFile(const CliRun &run)
{
    return run.json().value("files").toArray().first().toObject();
}

} // namespace

TEST(CliArgs, SplitsOptionsValuesAndFilesAndRejectsWhatItDoesNotKnow)
{
    const CliArgs args({"a.fits", "--json", "--region", "1,2,3,4", "b.fits"}, {"--json"}, {"--region"});
    ASSERT_TRUE(args.ok());
    EXPECT_TRUE(args.has("--json"));
    EXPECT_EQ(args.value("--region").value_or(QString()), "1,2,3,4");
    EXPECT_EQ(args.positionals(), (QStringList{"a.fits", "b.fits"}));
    EXPECT_FALSE(args.value("--size").has_value());
    EXPECT_FALSE(CliArgs({"--bogus"}, {"--json"}, {}).ok());
    const CliArgs missing({"--region"}, {}, {"--region"});
    EXPECT_FALSE(missing.ok());
    EXPECT_TRUE(missing.error().contains("--region"));
}

TEST(CliDispatch, VersionHelpAndUnknownCommands)
{
    const CliRun version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.out.startsWith("verdanix-cli 0.0.7 (build 2)")) << version.out.toStdString();
    EXPECT_TRUE(version.out.contains("LibRaw") && version.out.contains("cfitsio"));
    const CliRun help = runCli({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *command : {"info", "convert", "render", "sysinfo"})
        EXPECT_TRUE(help.out.contains(QString::fromLatin1(command))) << command;
    const CliRun commandHelp = runCli({"render", "--help"});
    EXPECT_EQ(commandHelp.status, 0);
    EXPECT_TRUE(commandHelp.out.startsWith("usage: verdanix-cli render"));
    const CliRun unknown = runCli({"frobnicate"});
    EXPECT_NE(unknown.status, 0);
    EXPECT_EQ(unknown.err.trimmed().count('\n'), 0) << "one line";
    EXPECT_TRUE(unknown.err.startsWith("verdanix-cli: unknown command 'frobnicate'"));
    EXPECT_NE(runCli({}).status, 0);
}

TEST(CliInfo, DescribesAFitsFileAndStillDescribesTheReadableOnesWhenOneFails)
{
    const QString path = writeGradient("info.fits");
    const CliRun run = runCli({"info", "--json", path});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject info = firstFile(run);
    EXPECT_EQ(info.value("format").toString(), "FITS");
    EXPECT_EQ(info.value("width").toInt(), 40);
    EXPECT_EQ(info.value("height").toInt(), 30);
    EXPECT_EQ(info.value("channels").toInt(), 2);
    EXPECT_EQ(info.value("bitpix").toInt(), 16);
    EXPECT_EQ(info.value("whiteLevel").toDouble(), 65536.0);
    EXPECT_EQ(info.value("maxValue").toDouble(), 39029.0);
    EXPECT_TRUE(runCli({"info", path}).out.contains("size:        40 x 30"));

    const CliRun missing = runCli({"info", "--json", path, "no-such-file.fits"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.endsWith("verdanix-cli: cannot open 'no-such-file.fits': no such file (error 104)\n"))
        << missing.err.toStdString();
    const QJsonArray files = missing.json().value("files").toArray();
    EXPECT_EQ(files.at(0).toObject().value("width").toInt(), 40) << "the readable file is still described";
    EXPECT_EQ(files.at(1).toObject().value("errorCode").toInt(), 104);
    EXPECT_EQ(missing.json().value("error").toString(), "cannot open 'no-such-file.fits': no such file");
}

TEST(CliConvert, WritesFloatingPointFits)
{
    const QString input = writeGradient("convert-in.fits");
    const QString output = QDir::current().filePath("convert-out.fits");
    QFile::remove(output);
    ASSERT_EQ(runCli({"convert", input, output}).status, 0);
    const QJsonObject described = firstFile(runCli({"info", "--json", output}));
    EXPECT_EQ(described.value("bitpix").toInt(), -32);
    EXPECT_EQ(described.value("channels").toInt(), 3);
    EXPECT_EQ(described.value("maxValue").toDouble(), 39029.0);
    EXPECT_NE(runCli({"convert", input, "out.png"}).status, 0);
}

TEST(CliRender, WritesThePreviewAsAWindowShowsIt)
{
    const QString input = writeGradient("render.fits");
    const QString output = QDir::current().filePath("render.png");
    QFile::remove(output);
    // White at 0.5 of full scale (32768): column 33 (33000) and beyond are white.
    const CliRun run = runCli({"render", input, output, "--black", "0", "--white", "0.5"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QImage image(output);
    ASSERT_EQ(image.size(), QSize(40, 30));
    EXPECT_EQ(qRed(image.pixel(33, 0)), 255);
    EXPECT_EQ(qRed(image.pixel(16, 0)), static_cast<int>(16000.0f / 65536.0f / 0.5f * 255.0f));
    EXPECT_NE(runCli({"render", input, "x.png", "--auto", "0.01", "--white", "1"}).status, 0);
    const QString automatic = QDir::current().filePath("auto.png");
    QFile::remove(automatic);
    EXPECT_EQ(runCli({"render", input, automatic, "--auto", "0.01"}).status, 0);
}
