// --threshold auto of verdanix-cli stars and match: accepted, used, and reported per image.
#include "clirun.h"
#include "image/fitswriter.h"
#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "testdata/syntheticfield.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

TEST(CliAutoThreshold, StarsAndMatchTakeTheThresholdFromTheImageAndReportIt)
{
    SyntheticFieldOptions options;
    options.width = 640;
    options.height = 480;
    options.starCount = 120;
    options.colour = false;
    const QString path = QDir::current().filePath("autothreshold.fits");
    QFile::remove(path);
    NullMessageLog log;
    ASSERT_EQ(saveFitsImage(*makeSyntheticField(options).image, path, log), 0);

    const CliRun run = runCli({"stars", path, "--threshold", "auto", "--size", "6", "--json"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const double threshold = run.json()["threshold"].toDouble();
    // Noise 0.002: far below the default of 0.1, and enough for the stars.
    EXPECT_GT(threshold, 0.0005);
    EXPECT_LT(threshold, 0.01);
    EXPECT_GT(run.json()["starCount"].toInt(), 40);
    EXPECT_TRUE(run.err.contains(QStringLiteral("Automatic threshold: %1 (sky ").arg(logNumber(threshold))))
        << run.err.toStdString();
    const CliRun text = runCli({"stars", path, "--threshold", "auto", "--size", "6"});
    EXPECT_TRUE(text.out.startsWith(QStringLiteral("threshold:    %1\n").arg(logNumber(threshold))))
        << text.out.toStdString();

    // A given threshold is reported as given, and logs no automatic line.
    const CliRun fixed = runCli({"stars", path, "--threshold", "0.01", "--json"});
    EXPECT_EQ(fixed.json()["threshold"].toDouble(), static_cast<double>(0.01f));
    EXPECT_FALSE(fixed.err.contains("Automatic threshold"));

    const CliRun match = runCli({"match", path, path, "--threshold", "auto", "--size", "6", "--json"});
    ASSERT_EQ(match.status, 0) << match.err.toStdString();
    EXPECT_TRUE(match.json()["stackable"].toBool());
    EXPECT_EQ(match.json()["reference"].toObject()["threshold"].toDouble(), threshold);
    EXPECT_EQ(match.json()["frame"].toObject()["threshold"].toDouble(), threshold);

    EXPECT_EQ(runCli({"stars", path, "--threshold", "automatic"}).status, 2);
}
