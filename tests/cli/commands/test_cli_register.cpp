// verdanix-cli register: the registration run headless, its table as text or JSON, and the
// saved table that a later stacking reads.
#include "clirun.h"
#include "stars/registrationtable.h"
#include "testdata/starfield.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <gtest/gtest.h>

namespace {

const testsupport::SyntheticFrames &synthetic()
{
    static const testsupport::SyntheticFrames frames =
        testsupport::writeSyntheticFrames("reg", {{0, 0, 0}, {6.5, -3.25, 0}, {-2.75, 4.5, 0.5}});
    return frames;
}

CliRun registerFrames(const QStringList &arguments)
{
    return runCli(QStringList{"register", "--threshold", "0.02"} + arguments);
}

} // namespace

TEST(CliRegister, PrintsTheTableAlignedWithTheReferenceFirst)
{
    const QStringList frames = synthetic().paths;
    const CliRun run = registerFrames(QStringList{"--threads", "2"} + frames);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << run.out.toStdString();
    EXPECT_EQ(lines[0].simplified(), "File X Offset Y Offset Angle Stars FWHM Stackable");
    EXPECT_EQ(lines[1].simplified().split(' ').mid(0, 4), (QStringList{"reg-0.fits", "0", "0", "0"}));
    for (int i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].startsWith(frames[i - 1] + ' ')) << lines[i].toStdString();
        EXPECT_EQ(lines[i].size(), lines[0].size()) << "columns line up: " << lines[i].toStdString();
        EXPECT_EQ(lines[i].indexOf(" yes"), lines[0].indexOf("Stackable") + 5) << "right-aligned figures";
    }
    EXPECT_TRUE(run.err.contains("Finished " + frames[2])) << "progress on stderr";
}

TEST(CliRegister, JsonAndTheSavedTableHoldTheMeasuredMoves)
{
    const QStringList frames = synthetic().paths;
    QFile::remove("saved.json");
    const CliRun run = registerFrames(QStringList{"--json", "--save", "saved.json"} + frames);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_FLOAT_EQ(run.json().value("threshold").toDouble(), 0.02);
    const QJsonArray rows = run.json().value("frames").toArray();
    RegistrationTable saved;
    QString error;
    ASSERT_TRUE(readRegistrationTable("saved.json", saved, error)) << error.toStdString();
    ASSERT_TRUE(rows.size() == 3 && saved.frames.size() == 3u);
    for (int i = 0; i < 3; ++i) {
        const QJsonObject row = rows.at(i).toObject();
        const RegistrationTableRow &kept = saved.frames[static_cast<std::size_t>(i)];
        EXPECT_TRUE(row.value("file").toString() == frames[i] && row.value("stackable").toBool()) << i;
        EXPECT_EQ(kept.file, QFileInfo(frames[i]).absoluteFilePath());
        EXPECT_FLOAT_EQ(kept.offsetX, static_cast<float>(row.value("offsetX").toDouble()));
    }
    EXPECT_NEAR(rows.at(1).toObject().value("offsetX").toDouble(), synthetic().truth[1].offsetX, 0.5);
}

TEST(CliRegister, RefusesBadArgumentsBeforeAnyWork)
{
    const QStringList frames = synthetic().paths;
    const struct {
        QStringList arguments;
        int status;
        const char *message;
    } cases[] = {
        {{"--size", "21"}, 2, "--size takes a whole number from 1 to 20, not '21'"},
        {{"--dark", "no-dark.fits"}, 1, "cannot open 'no-dark.fits': no such file"},
        {{"gone.fits"}, 1, "cannot open 'gone.fits': no such file"},
    };
    for (const auto &c : cases) {
        const CliRun run = runCli(QStringList{"register"} + c.arguments + frames);
        EXPECT_EQ(run.status, c.status) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains("Processing")) << c.arguments.join(' ').toStdString();
    }
    EXPECT_TRUE(runCli({"register", frames[0]}).err.contains("register needs at least two frames"));
}

TEST(CliRegister, FirstCtrlCStopsStartingFramesAndWritesNoTable)
{
    // One larger frame listed many times keeps the run busy long enough to interrupt it.
    const QString frame = testsupport::writeSyntheticFrames("reg-big", {{0, 0, 0}}, 1200, 900).paths.first();
    QStringList arguments = {"register", "--threads", "1", "--save", "interrupted.json"};
    for (int i = 0; i < 100; ++i)
        arguments << frame;
    const CliRun run = interruptCliAt(arguments, "Finished ");
    EXPECT_EQ(run.status, 1) << "the first Ctrl-C ends the run, it does not kill";
    EXPECT_TRUE(run.err.contains("Aborting frame registration, please wait...")) << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith("verdanix-cli: registration aborted (error 1012)\n")) << run.err.toStdString();
    EXPECT_LT(run.err.count("Processing "), 100);
    EXPECT_FALSE(QFileInfo::exists("interrupted.json"));
}
