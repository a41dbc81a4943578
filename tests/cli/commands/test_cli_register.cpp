// verdanix-cli register: the registration run headless, its table as text or JSON, and the
// saved table that a later stacking reads.
#include "clirun.h"
#include "image/fitswriter.h"
#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "stars/registrationtable.h"
#include "stars/syntheticfield.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <gtest/gtest.h>

#include <csignal>

namespace {

struct Move {
    double shiftX;
    double shiftY;
    double degrees;
};

SyntheticFieldOptions frameOptions(const Move &move, int index, int width = 400, int height = 300)
{
    SyntheticFieldOptions options;
    options.width = width;
    options.height = height;
    options.colour = false;
    options.starCount = width * height / 400;
    options.noiseSeed = static_cast<std::uint32_t>(index + 1);
    options.shiftX = move.shiftX;
    options.shiftY = move.shiftY;
    options.rotationDegrees = move.degrees;
    return options;
}

QString writeFrame(const QString &path, const SyntheticFieldOptions &options)
{
    if (!QFileInfo::exists(path)) {
        NullMessageLog quiet;
        EXPECT_EQ(saveFitsImage(*makeSyntheticField(options).image, path, quiet), 0);
    }
    return path;
}

const std::vector<Move> kMoves = {{0, 0, 0}, {6.5, -3.25, 0}, {-2.75, 4.5, 0.5}};

QStringList threeFrames()
{
    QStringList paths;
    for (std::size_t i = 0; i < kMoves.size(); ++i)
        paths << writeFrame(QStringLiteral("reg-%1.fits").arg(i), frameOptions(kMoves[i], static_cast<int>(i)));
    return paths;
}

CliRun registerFrames(const QStringList &arguments)
{
    return runCli(QStringList{"register", "--threshold", "0.02"} + arguments);
}

} // namespace

TEST(CliRegister, PrintsTheTableAlignedWithTheReferenceFirst)
{
    const QStringList frames = threeFrames();
    const CliRun run = registerFrames(QStringList{"--threads", "2"} + frames);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << run.out.toStdString();
    EXPECT_EQ(lines[0].simplified(), "File X Offset Y Offset Angle Stars FWHM Stackable");
    const QStringList reference = lines[1].simplified().split(' ');
    ASSERT_EQ(reference.size(), 7);
    EXPECT_EQ(reference.mid(0, 4), (QStringList{"reg-0.fits", "0", "0", "0"}));
    for (int i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].startsWith(frames[i - 1] + ' ')) << lines[i].toStdString();
        EXPECT_EQ(lines[i].size(), lines[0].size()) << "columns line up: " << lines[i].toStdString();
        EXPECT_EQ(lines[i].indexOf(" yes"), lines[0].indexOf("Stackable") + 5) << "right-aligned figures";
    }
    for (const QString &frame : frames) {
        EXPECT_TRUE(run.err.contains("Processing " + frame + "...")) << "progress on stderr";
        EXPECT_TRUE(run.err.contains("Finished " + frame));
    }
}

TEST(CliRegister, JsonAndTheSavedTableHoldTheMeasuredMoves)
{
    const QStringList frames = threeFrames();
    QFile::remove("saved.json");
    const CliRun run = registerFrames(QStringList{"--json", "--save", "saved.json"} + frames);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject json = run.json();
    EXPECT_FLOAT_EQ(json.value("threshold").toDouble(), 0.02);
    EXPECT_GT(json.value("seconds").toDouble(), 0.0);
    const QJsonArray rows = json.value("frames").toArray();
    ASSERT_EQ(rows.size(), 3);
    for (int i = 0; i < 3; ++i) {
        const QJsonObject row = rows.at(i).toObject();
        const SyntheticRegistration truth = trueRegistration(frameOptions(kMoves[static_cast<std::size_t>(i)], i));
        EXPECT_EQ(row.value("file").toString(), frames[i]);
        EXPECT_TRUE(row.value("stackable").toBool());
        EXPECT_GT(row.value("stars").toDouble(), 20.0);
        EXPECT_NEAR(row.value("offsetX").toDouble(), truth.offsetX, 0.5) << "frame " << i;
        EXPECT_NEAR(row.value("offsetY").toDouble(), truth.offsetY, 0.5) << "frame " << i;
        EXPECT_NEAR(row.value("angle").toDouble(), truth.angle, 0.15) << "frame " << i;
    }

    RegistrationTable saved;
    QString error;
    ASSERT_TRUE(readRegistrationTable("saved.json", saved, error)) << error.toStdString();
    ASSERT_EQ(saved.frames.size(), 3u);
    EXPECT_EQ(saved.frames[1].file, QFileInfo(frames[1]).absoluteFilePath());
    EXPECT_FLOAT_EQ(saved.frames[1].offsetX, static_cast<float>(rows.at(1).toObject().value("offsetX").toDouble()));

    // The table is never replaced, and that is known before any frame is loaded.
    const CliRun again = registerFrames(QStringList{"--save", "saved.json"} + frames);
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.contains("saved.json exists already; it is never overwritten")) << again.err.toStdString();
    EXPECT_FALSE(again.err.contains("Processing"));
}

TEST(CliRegister, RefusesBadArgumentsBeforeAnyWork)
{
    const QStringList frames = threeFrames();
    const struct {
        QStringList arguments;
        int status;
        const char *message;
    } cases[] = {
        {{"--threshold", "1.5"}, 2, "--threshold takes a value from 0 to 1"},
        {{"--threshold", "nan"}, 2, "--threshold"},
        {{"--max", "-0.1"}, 2, "--max takes a value from 0 to 1"},
        {{"--size", "0"}, 2, "--size takes a whole number from 1 to 20"},
        {{"--size", "21"}, 2, "--size takes a whole number from 1 to 20"},
        {{"--threads", "0"}, 2, "--threads needs a whole number of at least 1"},
        {{"--bogus"}, 2, "unknown option --bogus"},
        {{"--dark", "no-dark.fits"}, 1, "cannot read no-dark.fits: no such file"},
        {{"--save", "no/folder/t.json"}, 1, "the folder of no/folder/t.json does not exist"},
    };
    for (const auto &c : cases) {
        const CliRun run = runCli(QStringList{"register"} + c.arguments + frames);
        EXPECT_EQ(run.status, c.status) << c.arguments.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
        EXPECT_FALSE(run.err.contains("Processing")) << c.arguments.join(' ').toStdString();
    }
    const CliRun one = runCli({"register", frames[0]});
    EXPECT_EQ(one.status, 2);
    EXPECT_TRUE(one.err.contains("register needs at least two frames"));
    const CliRun missing = runCli({"register", frames[0], "gone.fits"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.err.contains("cannot read gone.fits: no such file"));
}

TEST(CliRegister, AFrameThatCannotBeReadFailsWithItsNameAndReason)
{
    const QStringList frames = threeFrames();
    ASSERT_TRUE(QFile::copy(frames[1], "reg-copy.txt") || QFileInfo::exists("reg-copy.txt"));
    const CliRun run = registerFrames({"--threads", "1", frames[0], "reg-copy.txt", frames[2]});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.contains("Error raised (Code: 1101) while scanning frames. Stopping threads, 0 to go."));
    EXPECT_TRUE(run.err.endsWith("verdanix-cli: registration stopped: cannot read reg-copy.txt: its name does not end "
                                 "in an image type the program reads (error 1101)\n"))
        << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("Processing " + frames[2]));
}

TEST(CliRegister, FirstCtrlCStopsStartingFramesAndWritesNoTable)
{
    // One larger frame listed many times keeps the run busy long enough to interrupt it.
    const QString frame = writeFrame("reg-big.fits", frameOptions({0, 0, 0}, 0, 1200, 900));
    QStringList arguments = {"register", "--threads", "1", "--save", "interrupted.json"};
    for (int i = 0; i < 100; ++i)
        arguments << frame;
    QProcess process;
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(VERDANIX_CLI_PATH), arguments);
    ASSERT_TRUE(process.waitForStarted());
    QByteArray err;
    while (!err.contains("Finished ") && process.waitForReadyRead(60000))
        err += process.readAllStandardError();
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(60000));
    err += process.readAllStandardError();

    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << "the first Ctrl-C does not kill";
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_TRUE(err.contains("Aborting frame registration, please wait...")) << err.toStdString();
    EXPECT_TRUE(err.endsWith("verdanix-cli: registration aborted (error 1012)\n")) << err.toStdString();
    EXPECT_LT(err.count("Processing "), 100);
    EXPECT_FALSE(QFileInfo::exists("interrupted.json"));
}
