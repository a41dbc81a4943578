// verdanix-cli stars and match on synthetic star fields written as FITS files.
#include "clirun.h"
#include "image/fitswriter.h"
#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "support/fitsfixture.h"
#include "testdata/syntheticfield.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cmath>

#include <gtest/gtest.h>

namespace {

QString fresh(const QString &name)
{
    const QString path = QDir::current().filePath(name);
    QFile::remove(path);
    return path;
}

// A synthetic field as a three-plane float FITS file (loaded normalised).
QString writeFloatField(const QString &name, const SyntheticField &field)
{
    const QString path = fresh(name);
    NullMessageLog log;
    EXPECT_EQ(saveFitsImage(*field.image, path, log), 0);
    return path;
}

SyntheticFieldOptions fieldOptions(int width, int height, int stars)
{
    SyntheticFieldOptions options;
    options.width = width;
    options.height = height;
    options.starCount = stars;
    return options;
}

} // namespace

TEST(CliStars, ListsTheStarsOfANormalisedSixteenBitImageAndMarksThem)
{
    SyntheticFieldOptions options = fieldOptions(640, 480, 80);
    options.colour = false;
    const SyntheticField field = makeSyntheticField(options);
    // As camera-like unsigned 16-bit FITS, loaded on a 0 ... 65536 scale.
    const auto counts = [&](int x, int y, int) {
        return std::clamp(std::round(field.image->pixel(x, y)[0] * 65535.0), 0.0, 65535.0);
    };
    const QString path = testsupport::writeFrame(QDir::current().filePath("field16.fits"), 640, 480, counts, 16, 0);
    const QString marked = fresh("marked.fits");
    const CliRun run = runCli({"stars", path, "--threshold", "0.01", "--json", "--marked", marked});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject result = run.json();
    const int starCount = result["starCount"].toInt();
    EXPECT_GT(starCount, 20);
    EXPECT_EQ(result["patternCount"].toInt(), starCount - 3);
    EXPECT_GT(result["averageFwhm"].toDouble(), 0.0);
    const QJsonArray stars = result["stars"].toArray();
    ASSERT_EQ(stars.size(), starCount);
    double previous = 1e30;
    for (const QJsonValue &value : stars) {
        const QJsonObject star = value.toObject();
        EXPECT_LE(star["brightness"].toDouble(), previous) << "brightest first";
        previous = star["brightness"].toDouble();
        EXPECT_TRUE(std::any_of(field.stars.begin(), field.stars.end(), [&](const SyntheticStar &s) {
            return std::hypot(s.x - star["x"].toDouble(), s.y - star["y"].toDouble()) < 1.5;
        })) << "no invented star at " << star["x"].toDouble() << ", " << star["y"].toDouble();
    }
    // The finder's log goes to standard error, the result alone to standard output.
    EXPECT_TRUE(run.err.contains("Phase 1: Mapping stars..."));
    EXPECT_FALSE(run.out.contains("Phase 1"));

    // The marked copy is normalised and rings the first star in pure red.
    const auto image = testsupport::loadImage(marked);
    ASSERT_TRUE(image);
    const QJsonObject first = stars.first().toObject();
    const double radius = std::max(3.0, 1.5 * first["fwhm"].toDouble());
    const FloatRGB ring = image->getPixel(static_cast<int>(std::lround(first["x"].toDouble() + radius)),
                                          static_cast<int>(std::lround(first["y"].toDouble())));
    EXPECT_TRUE(ring.r == 1.0f && ring.g == 0.0f);
    EXPECT_EQ(runCli({"stars", path, "--marked", fresh("marked.png")}).status, 2);

    const CliRun text = runCli({"stars", path, "--threshold", "0.01"});
    EXPECT_TRUE(text.out.startsWith(QString("stars:        %1\n").arg(starCount))) << text.out.toStdString();
    // A sky without stars has no average FWHM: null in JSON.
    options.starCount = 0;
    const CliRun none = runCli({"stars", writeFloatField("empty.fits", makeSyntheticField(options)), "--json"});
    EXPECT_EQ(none.json()["starCount"].toInt(), 0);
    EXPECT_TRUE(none.json()["averageFwhm"].isNull());
}

TEST(CliStars, MatchMeasuresTheShiftAndTurnOfAFrame)
{
    const SyntheticFieldOptions reference = fieldOptions(1200, 900, 350);
    SyntheticFieldOptions frame = reference;
    frame.noiseSeed = 5;
    frame.shiftX = 6.0;
    frame.shiftY = -4.0;
    frame.rotationDegrees = 0.5;
    const QString referencePath = writeFloatField("reference.fits", makeSyntheticField(reference));
    const QString framePath = writeFloatField("frame.fits", makeSyntheticField(frame));
    const CliRun run = runCli({"match", referencePath, framePath, "--threshold", "0.01", "--json"});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject result = run.json();
    const SyntheticRegistration truth = trueRegistration(frame);
    EXPECT_NEAR(result["offsetX"].toDouble(), truth.offsetX, 0.5);
    EXPECT_NEAR(result["offsetY"].toDouble(), truth.offsetY, 0.5);
    EXPECT_NEAR(result["angle"].toDouble(), truth.angle, 0.1);
    EXPECT_GT(result["matchCount"].toInt(), 2);
    EXPECT_TRUE(result["stackable"].toBool());
    EXPECT_TRUE(run.err.contains("Calculated transformation from "));
    const CliRun text = runCli({"match", referencePath, referencePath, "--threshold", "0.01"});
    ASSERT_EQ(text.status, 0);
    EXPECT_TRUE(text.out.contains("stackable:  yes") && text.out.contains("angle:      0 degrees"));
}

TEST(CliStars, RefusesBadOptionsAndMissingFiles)
{
    const QString path = writeFloatField("small.fits", makeSyntheticField(fieldOptions(100, 80, 300)));
    for (const QStringList &bad : {QStringList{"stars"}, QStringList{"stars", path, "--size", "21"},
                                   QStringList{"stars", path, "--size", "5.5"}, QStringList{"match", path}})
        EXPECT_EQ(runCli(bad).status, 2) << bad.join(' ').toStdString();
    EXPECT_EQ(runCli({"stars", path, "--size", "20"}).status, 0);
    const CliRun missing = runCli({"match", path, fresh("missing.fits")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains("cannot open '" + fresh("missing.fits") + "': no such file (error 104)"));
}
