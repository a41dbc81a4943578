// The registration table file: what a registration measured, kept for a later stacking run.
#include "stars/registrationtable.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <cmath>
#include <tuple>

#include <gtest/gtest.h>

namespace {
RegistrationTable sampleTable()
{
    RegistrationTable table;
    table.threshold = 0.01f;
    table.seconds = 2.5;
    table.frames.push_back({"night/a.fits", 0, 0, 0, 412, 3.25f, true});
    table.frames.push_back({"night/b.fits", -12.375f, 7.1f, 0.731f, 398, 3.5f, true});
    table.frames.push_back({"/elsewhere/c.fits", NAN, NAN, NAN, 3, NAN, false});
    return table;
}

QString freshFolder(const QString &name)
{
    QDir(name).removeRecursively();
    QDir().mkpath(name);
    return QFileInfo(name).absoluteFilePath();
}
} // namespace

TEST(RegistrationTable, RoundTripKeepsEveryValueResolvesFilesAgainstTheTablesFolderAndReadingNamesWhatIsWrong)
{
    const QString folder = freshFolder("roundtrip");
    RegistrationTable table = sampleTable();
    const QJsonObject plain = registrationTableJson(table);
    EXPECT_EQ(plain.keys(), QStringList({"frames", "seconds", "threshold"})) << "no refinement keys where unused";
    EXPECT_EQ(plain.value("frames").toArray().at(1).toObject().keys().size(), 7);
    EXPECT_EQ(plain.value("threshold").toDouble(), 0.01) << "the float's shortest decimal";
    table.refined = table.autoThreshold = true;
    std::tie(table.frames[1].starPairs, table.frames[1].residualRms, table.frames[1].threshold) =
        std::tuple{312, 0.0125f, 0.0042f};
    // A file inside the folder is stored relative to it, so that the folder can move.
    table.frames.push_back({folder + "/sub/x.fits", 0, 0, 0, 0, 0, true});
    QString error;
    ASSERT_EQ(writeRegistrationTable(folder + "/table.json", table, error), 0) << error.toStdString();
    RegistrationTable back;
    ASSERT_TRUE(readRegistrationTable(folder + "/table.json", back, error)) << error.toStdString();
    ASSERT_EQ(back.frames.size(), 4u);
    EXPECT_TRUE(back.threshold == 0.01f && back.seconds == 2.5 && back.refined && back.autoThreshold);
    for (std::size_t i = 0; i < 2; ++i) {
        const RegistrationTableRow &a = table.frames[i], &b = back.frames[i];
        EXPECT_EQ(b.file, QFileInfo(a.file).absoluteFilePath());
        EXPECT_TRUE(b.offsetX == a.offsetX && b.offsetY == a.offsetY && b.angle == a.angle && b.stars == a.stars
                    && b.fwhm == a.fwhm && b.stackable)
            << "frame " << i;
    }
    EXPECT_TRUE(back.frames[1].starPairs == 312 && back.frames[1].residualRms == 0.0125f
                && back.frames[1].threshold == 0.0042f);
    EXPECT_TRUE(back.frames[0].starPairs == 0 && std::isnan(back.frames[0].residualRms)) << "the reference";
    EXPECT_TRUE(back.frames[2].file == "/elsewhere/c.fits" && std::isnan(back.frames[2].offsetX)
                && !back.frames[2].stackable)
        << "outside the table's folder: stays absolute";
    QFile file(folder + "/table.json");
    EXPECT_TRUE(back.frames[3].file == folder + "/sub/x.fits" && file.open(QIODevice::ReadOnly)
                && file.readAll().contains("\"file\": \"sub/x.fits\""));
    // Reading names what is wrong.
    const QString broken = freshFolder("broken");
    const std::pair<const char *, const char *> cases[] = { // the file's text, the error's words
        {"{\"frames\": [", "not JSON"},
        {"[1, 2]", "not an object"},
        {"{\"threshold\": 0.1}", "no \"frames\" list"},
        {"{\"frames\": []}", "no frames"},
        {"{\"frames\": [{\"file\":\"a.fits\",\"offsetX\":0,\"offsetY\":0,\"angle\":0,\"stackable\":true},"
         "{\"file\":\"b.fits\",\"offsetX\":\"1\",\"offsetY\":0,\"angle\":0,\"stackable\":true}]}",
         "frame 1: \"offsetX\" is not a number"},
        {"{\"frames\": [{\"file\":\"a.fits\",\"offsetX\":null,\"offsetY\":0,\"angle\":0,\"stackable\":true}]}",
         "frame 0: is stackable but its offsets or angle are not numbers"},
        {nullptr, "cannot open"},
    };
    int n = 0;
    for (const auto &[text, expected] : cases) {
        const QString path = broken + QStringLiteral("/t%1.json").arg(n++);
        ASSERT_TRUE(!text || testsupport::writeBytes(path, text));
        RegistrationTable table = sampleTable();
        QString error;
        EXPECT_FALSE(readRegistrationTable(path, table, error)) << expected;
        EXPECT_TRUE(error.contains(path) && error.contains(QString::fromUtf8(expected))) << error.toStdString();
        EXPECT_TRUE(table.frames.empty());
    }
    // The smallest table by hand: optional figures take their defaults, and an earlier error is cleared.
    const QString minimal = broken + "/minimal.json";
    ASSERT_TRUE(testsupport::writeBytes(minimal, "{\"frames\": [{\"file\":\"a.fits\",\"offsetX\":1,\"offsetY\":2,"
                                                 "\"angle\":0.5,\"stackable\":true}]}"));
    RegistrationTable smallest;
    error = QStringLiteral("left from an earlier read");
    ASSERT_TRUE(readRegistrationTable(minimal, smallest, error)) << error.toStdString();
    EXPECT_TRUE(error.isEmpty() && smallest.frames[0].file == broken + "/a.fits");
    EXPECT_TRUE(smallest.frames[0].stars == 0.0f && smallest.threshold == 0.1f);
}
