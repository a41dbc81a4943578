// The command-line front end as a whole (its parser, dispatch, help and terminal output) and
// the commands that read or write one image.
#include "cliargs.h"
#include "clirun.h"
#include "image/imagebuffer.h"
#include "support/fitsfixture.h"
#include "terminallog.h"

#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

using testsupport::loadImage;

namespace {

// A float colour image: sky (0.2, 0.1, 0.05) rising to the right by `rise` over its width.
QString writeSky(const QString &name, int width, int height, double rise = 0.0)
{
    const double sky[3] = {0.2, 0.1, 0.05};
    return testsupport::writeFrame(name, width, height, [&](int x, int, int c) { return sky[c] + rise * x / width; });
}

} // namespace

TEST(CliDispatch, OptionsSplitFromFilesAndEveryCommandHasItsHelpWithDefaultsAndTakesJson)
{
    const CliArgs args({"a.fits", "--json", "--region", "1,2,3,4", "b.fits"}, {"--json"}, {"--region"});
    ASSERT_TRUE(args.ok() && args.has("--json") && !args.value("--size").has_value());
    EXPECT_EQ(args.value("--region").value_or(QString()) + ";" + args.positionals().join(';'),
              "1,2,3,4;a.fits;b.fits");
    EXPECT_EQ(CliArgs({"--region"}, {}, {"--region"}).error(), "option --region needs a value");
    const CliRun version = runCli({"--version"});
    EXPECT_TRUE(version.status == 0 && version.out.startsWith("verdanix-cli 0.0.7 (build 2)")
                && version.out.contains("LibRaw") && version.out.contains("cfitsio"))
        << version.out.toStdString();
    const CliRun help = runCli({"--help"});
    EXPECT_TRUE(help.status == 0 && help.out.contains("--debayer"));
    EXPECT_EQ(runCli({"frobnicate"}).err, "verdanix-cli: unknown command 'frobnicate' (see verdanix-cli --help)\n");
    EXPECT_EQ(runCli({}).status, 2);
    for (const char *command : {"info", "convert", "render", "stats", "neutralize", "gain", "combine", "flatten",
                                "sysinfo", "calibrate", "stars", "match", "register", "stack", "master"}) {
        const QString name = QLatin1String(command);
        const CliRun usage = runCli({command, "--help"});
        EXPECT_TRUE(help.out.contains(name) && usage.status == 0 && usage.out.startsWith("usage: verdanix-cli " + name)
                    && usage.out.contains("--json") && usage.out.contains("default"))
            << usage.out.toStdString();
        // Without its files every command but sysinfo is a usage error, and says so as JSON too.
        const CliRun bare = runCli({command, "--json"});
        const bool sysinfo = name == "sysinfo";
        EXPECT_EQ(bare.status, sysinfo ? 0 : 2) << command;
        EXPECT_TRUE(bare.json().value("error").isNull() == sysinfo && bare.json().contains("error")) << command;
        EXPECT_TRUE(!sysinfo || bare.json().value("hardwareThreads").toInt() >= 1);
        const CliRun refused = runCli({command, "--no-such-option", "x"});
        EXPECT_TRUE(refused.status == 2 && refused.err.contains("unknown option --no-such-option")) << command;
    }
}

TEST(CliInfo, InfoDescribesFilesEvenWhenOneFailsConvertWritesFloatsRenderShowsThePreview)
{
    // An unsigned 16-bit 40 x 30 grey frame whose pixel (x, y) holds 1000 x + y.
    const QString path = testsupport::writeFrame("info.fits", 40, 30, [](int x, int y, int) { return 1000.0 * x + y; },
                                                 16, 0);
    const QJsonObject info = runCli({"info", "--json", path}).json().value("files")[0].toObject();
    const QJsonObject expected{{"format", "FITS"}, {"width", 40},         {"height", 30},      {"channels", 2},
                               {"bitpix", 16},     {"whiteLevel", 65536}, {"maxValue", 39029}};
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_EQ(info.value(it.key()), it.value()) << it.key().toStdString();
    EXPECT_TRUE(runCli({"info", path}).out.contains("size:        40 x 30"));
    const CliRun missing = runCli({"info", "--json", path, "no-such-file.fits"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.endsWith("verdanix-cli: cannot open 'no-such-file.fits': no such file (error 104)\n"))
        << missing.err.toStdString();
    // The readable file is still described.
    const QJsonArray files = missing.json().value("files").toArray();
    EXPECT_EQ(std::make_tuple(files.at(0)["width"].toInt(), files.at(1)["errorCode"].toInt(),
                              missing.json().value("error").toString()),
              std::make_tuple(40, 104, QString("cannot open 'no-such-file.fits': no such file")));

    for (const char *name : {"convert-out.fits", "render.png"})
        QFile::remove(name);
    ASSERT_EQ(runCli({"convert", path, "convert-out.fits"}).status, 0);
    const QJsonObject converted = runCli({"info", "--json", "convert-out.fits"}).json().value("files")[0].toObject();
    EXPECT_TRUE(converted["bitpix"] == -32 && converted["channels"] == 3 && converted["maxValue"] == 39029.0)
        << QJsonDocument(converted).toJson().toStdString();
    // White at 0.5 of full scale (32768): column 33 (33000) and beyond are white.
    const CliRun run = runCli({"render", path, "render.png", "--black", "0", "--white", "0.5"});
    const QImage image("render.png");
    ASSERT_EQ(image.size(), QSize(40, 30)) << run.err.toStdString();
    EXPECT_EQ(qRed(image.pixel(33, 0)), 255);
}

TEST(CliProcess, StatsMeasureAndGainNeutralizeCombineAndFlattenWriteNewFiles)
{
    const QString sky = writeSky("colour.fits", 16, 12);
    const CliRun stats = runCli({"stats", "--json", sky});
    EXPECT_NEAR(stats.json()["backgroundColor"].toObject()["b"].toDouble(), 0.05, 1e-6) << stats.err.toStdString();
    // The region ends at the last pixel (one further is refused, see the bad inputs).
    const CliRun region = runCli({"stats", sky, "--region", "11,7,5,5"});
    EXPECT_TRUE(region.out.contains("mean:             R=0.2 G=0.1 B=0.05")) << region.err.toStdString();

    for (const char *name : {"gained.fits", "neutral.fits", "zeros.fits", "half.fits", "flat.fits", "model.fits"})
        QFile::remove(name);
    ASSERT_EQ(runCli({"gain", sky, "gained.fits", "0.5", "1", "2"}).status, 0);
    ASSERT_EQ(runCli({"neutralize", sky, "neutral.fits"}).status, 0);
    ASSERT_EQ(runCli({"combine", sky, sky, "zeros.fits", "--op", "subtract"}).status, 0);
    ASSERT_EQ(runCli({"combine", sky, "gained.fits", "half.fits", "--op", "multiply", "--opacity", "50"}).status, 0);
    const auto pixel = [](const char *name, int x) {
        const auto image = loadImage(name);
        return image ? image->getPixel(x, 3) : FloatRGB{-1.0f, -1.0f, -1.0f, 0.0f};
    };
    EXPECT_NEAR(pixel("gained.fits", 3).r + pixel("gained.fits", 3).b, 0.2f, 1e-6f) << "R x 0.5 and B x 2";
    EXPECT_FLOAT_EQ(pixel("neutral.fits", 3).r, pixel("neutral.fits", 3).g);
    EXPECT_EQ(pixel("zeros.fits", 3).r, 0.0f);
    EXPECT_FLOAT_EQ(pixel("half.fits", 3).r, 0.1f * 0.2f * 0.5f + 0.5f * 0.2f);
    // From column 2 to 117 the sky rises by 0.2 x 115 / 120, the flattened one by less than half that.
    const QStringList flatten = {"flatten", writeSky("gradient.fits", 120, 80, 0.2), "flat.fits", "--grid", "20"};
    EXPECT_TRUE(runCli(flatten + QStringList{"--sigma", "3", "--model", "model.fits"}).status == 0
                && QFile::exists("model.fits"));
    EXPECT_LT(std::abs(pixel("flat.fits", 117).r - pixel("flat.fits", 2).r), 0.5f * 0.2f * 115 / 120);
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
    const QByteArray screenText(text, static_cast<int>(std::fread(text, 1, sizeof text - 1, screen)));
    std::fclose(screen);
    const QByteArray status = "[ 50%] Calibrating light frames...\r\033[K";
    EXPECT_TRUE(screenText.endsWith(status + "[1/2] out/a.fts\n" + status + "Calibration done.\n" + status))
        << screenText.toStdString();
}
