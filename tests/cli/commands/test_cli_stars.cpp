// verdanix-cli stars, match and register on synthetic star fields written as FITS files.
#include "clirun.h"
#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "stars/registrationtable.h"
#include "support/fitsfixture.h"
#include "testdata/starfield.h"
#include "testdata/syntheticfield.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

// The finder's own figures are its tests'; here they reach the output, with a given or an automatic threshold.
TEST(CliStars, StarsAndMatchListTheStarsOfANormalisedSixteenBitImageWithAGivenOrAutomaticThreshold)
{
    SyntheticFieldOptions options;
    options.width = 640;
    options.height = 480;
    options.starCount = 80;
    options.colour = false;
    const SyntheticField field = makeSyntheticField(options);
    // As camera-like unsigned 16-bit FITS, loaded on a 0 ... 65536 scale.
    const auto counts = [&](int x, int y, int) {
        return std::clamp(std::round(field.image->pixel(x, y)[0] * 65535.0), 0.0, 65535.0);
    };
    const QString path = testsupport::writeFrame("field16.fits", 640, 480, counts, 16, 0);
    QFile::remove("marked.fits");
    // A given threshold is reported as given, without an automatic line; 20 is the largest size.
    const CliRun run =
        runCli({"stars", path, "--threshold", "0.01", "--size", "20", "--json", "--marked", "marked.fits"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_TRUE(run.json()["threshold"] == double(0.01f) && !run.err.contains("Automatic threshold"));
    const int starCount = run.json()["starCount"].toInt();
    EXPECT_TRUE(starCount > 20 && run.json()["averageFwhm"].toDouble() > 0.0) << starCount;
    EXPECT_EQ(run.json()["patternCount"].toInt(), starCount - 3);
    ASSERT_EQ(run.json()["stars"].toArray().size(), starCount);
    const QJsonObject first = run.json().value("stars")[0].toObject();
    EXPECT_TRUE(std::any_of(field.stars.begin(), field.stars.end(), [&](const SyntheticStar &s) {
        return std::hypot(s.x - first["x"].toDouble(), s.y - first["y"].toDouble()) < 1.5;
    })) << "no invented star at " << first["x"].toDouble() << ", " << first["y"].toDouble();
    // The finder's log goes to standard error, the result alone to standard output.
    EXPECT_TRUE(run.err.contains("Phase 1: Mapping stars...") && !run.out.contains("Phase 1"));
    const auto image = testsupport::loadImage("marked.fits");
    EXPECT_TRUE(image && image->width == 640);
    // A sky without stars has no average FWHM: null in JSON.
    const CliRun none = runCli({"stars", testsupport::writeConstantFrame("empty.fits", 64, 48, 0.05), "--json"});
    EXPECT_TRUE(none.json()["starCount"] == 0 && none.json()["averageFwhm"].isNull()) << none.out.toStdString();

    // --threshold auto: taken from the image, used, and reported per image.
    const CliRun automatic = runCli({"stars", path, "--threshold", "auto", "--size", "6", "--json"});
    ASSERT_EQ(automatic.status, 0) << automatic.err.toStdString();
    const double threshold = automatic.json()["threshold"].toDouble();
    EXPECT_TRUE(automatic.err.contains(QStringLiteral("Automatic threshold: %1 (sky ").arg(logNumber(threshold))))
        << automatic.err.toStdString();
    const CliRun text = runCli({"stars", path, "--threshold", "auto", "--size", "6"});
    const QString lines = QStringLiteral("threshold:    %1\nstars:        %2\n").arg(logNumber(threshold));
    EXPECT_TRUE(text.out.startsWith(lines.arg(automatic.json()["starCount"].toInt()))) << text.out.toStdString();
    const CliRun match = runCli({"match", path, path, "--threshold", "auto", "--size", "6", "--json"});
    ASSERT_TRUE(match.status == 0 && match.json()["stackable"].toBool()) << match.err.toStdString();
    EXPECT_EQ(match.json()["frame"].toObject()["threshold"].toDouble(), threshold);
}

// match and register measure the moves that undo each frame's; register prints its table as
// text or JSON and saves it for a later stacking.
TEST(CliRegister, MatchAndRegisterMeasureTheMovesAndRegisterPrintsAndSavesItsTable)
{
    const testsupport::SyntheticFrames synthetic =
        testsupport::writeSyntheticFrames("reg", {{0, 0, 0}, {6.5, -3.25, 0}, {-2.75, 4.5, 0.5}});
    const QStringList frames = synthetic.paths;
    const CliRun match = runCli({"match", frames[0], frames[2], "--threshold", "0.02", "--json"});
    ASSERT_EQ(match.status, 0) << match.err.toStdString();
    EXPECT_NEAR(match.json()["offsetX"].toDouble(), synthetic.truth[2].offsetX, 0.5);
    EXPECT_TRUE(match.json()["matchCount"].toInt() > 2 && match.json()["stackable"].toBool()
                && match.err.contains("Calculated transformation from "));
    const CliRun run = runCli(QStringList{"register", "--threshold", "0.02", "--threads", "2"} + frames);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << run.out.toStdString();
    EXPECT_EQ(lines[0].simplified(), "File X Offset Y Offset Angle Stars FWHM Stackable");
    EXPECT_EQ(lines[1].simplified().split(' ').mid(0, 4), (QStringList{"reg-0.fits", "0", "0", "0"}));
    for (int i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].startsWith(frames[i - 1] + ' ')) << lines[i].toStdString();
        EXPECT_EQ(lines[i].size(), lines[0].size()) << "columns line up: " << lines[i].toStdString();
    }
    EXPECT_TRUE(run.err.contains("Finished " + frames[2])) << "progress on stderr";
    QFile::remove("reg.json");
    const CliRun json = runCli(QStringList{"register", "--threshold", "0.02", "--json", "--save", "reg.json"} + frames);
    ASSERT_EQ(json.status, 0) << json.err.toStdString();
    const QJsonArray rows = json.json().value("frames").toArray();
    RegistrationTable saved;
    QString error;
    ASSERT_TRUE(readRegistrationTable("reg.json", saved, error)) << error.toStdString();
    ASSERT_TRUE(rows.size() == 3 && saved.frames.size() == 3u);
    const QJsonObject row = rows.at(1).toObject();
    EXPECT_TRUE(row.value("file").toString() == frames[1] && row.value("stackable").toBool());
    EXPECT_NEAR(row.value("offsetX").toDouble(), synthetic.truth[1].offsetX, 0.5);
    EXPECT_EQ(saved.frames[1].file, QFileInfo(frames[1]).absoluteFilePath());
    EXPECT_FLOAT_EQ(saved.frames[1].offsetX, static_cast<float>(row.value("offsetX").toDouble()));
}
