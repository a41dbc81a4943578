#include "app/filedialogs.h"
#include "app/verdanix.h"
#include "calib/wndcalibrate.h"
#include "console/outputwindow.h"
#include "image/imageloader.h"
#include "platform/settingsfile.h"
#include "support/guihelpers.h"
#include "support/fitsfixture.h"

#include <QAction>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextEdit>

#include <gtest/gtest.h>

using testsupport::consoleLines;

namespace {

QStringList scriptedFiles;
QString scriptedFolder;

QStringList answerFiles(QWidget *, const QString &, const QString &, const QString &)
{
    return scriptedFiles;
}

QString answerFolder(QWidget *, const QString &, const QString &)
{
    return scriptedFolder;
}

QString writeFrame(const QString &path, double value)
{
    testsupport::FitsImage image;
    image.bitpix = 16;
    image.bzero = 32768.0;
    image.axes = {24, 16};
    image.values.assign(24 * 16, value);
    QFile::remove(path);
    EXPECT_EQ(testsupport::writeFitsFile(path, image), 0);
    return QDir::current().absoluteFilePath(path);
}

class CalibrationPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        filedialogs::askOpenFileNames = answerFiles;
        filedialogs::askDirectory = answerFolder;
        QDir(QStringLiteral("calibration")).removeRecursively();
        QDir().mkpath(QStringLiteral("calibration/out"));
        window = testsupport::startMainWindow();
        window->calibrateAct->trigger();
        panel = window->findChild<wndCalibrate *>();
        ASSERT_NE(panel, nullptr);
    }
    void TearDown() override { window.reset(); }

    std::unique_ptr<Verdanix> window;
    wndCalibrate *panel = nullptr;
};

} // namespace

TEST_F(CalibrationPanelTest, ThePanelDocksAndRefusesIncompleteRequests)
{
    auto *dock = qobject_cast<QDockWidget *>(panel->parentWidget());
    ASSERT_NE(dock, nullptr);
    EXPECT_EQ(dock->windowTitle(), QStringLiteral("Calibrate Light Frames"));

    panel->pbCalibrate->click();
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Not enough light frames for calibration!"));

    scriptedFiles = QStringList{writeFrame("calibration/M42.light.fits", 30000)};
    panel->pbAdd->click();
    ASSERT_EQ(panel->lwFrames->count(), 1);
    EXPECT_EQ(panel->lwFrames->item(0)->text(), QStringLiteral("M42.light.fits"));
    panel->pbCalibrate->click();
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Please choose an output directory first!"));
    panel->leOutput->setText(QStringLiteral("calibration/missing"));
    panel->pbCalibrate->click();
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Output directory does not exist. Please create it first."));

    window->startRun(QStringLiteral("busy"));
    scriptedFolder = QDir::current().absoluteFilePath("calibration/out");
    panel->pbOutput->click();
    panel->pbCalibrate->click();
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Cannot run calibration: A calculation is already running."));
    window->finishRun();
}

TEST_F(CalibrationPanelTest, ARunWritesCalibratedFramesAndASecondRunRefusesToOverwrite)
{
    scriptedFiles = QStringList{writeFrame("calibration/M42.light.fits", 32768),
                                writeFrame("calibration/M42.b.fits", 16384)};
    panel->pbAdd->click();
    panel->leDark->setText(writeFrame("calibration/dark.fits", 6553.6));
    scriptedFolder = QDir::current().absoluteFilePath("calibration/out");
    panel->pbOutput->click();

    panel->pbCalibrate->click();
    EXPECT_TRUE(consoleLines(*window).contains(QStringLiteral("Calibration done.")));
    EXPECT_FALSE(window->calculationRunning);
    EXPECT_EQ(window->findChild<QLabel *>(QStringLiteral("statusLabel"))->text(), QStringLiteral("Ready."));

    ImageLoader loader;
    auto frame = loader.loadFile(QStringLiteral("calibration/out/M42.light.fts"), false);
    ASSERT_NE(frame, nullptr);
    // The 16-bit dark (6553.6 stored as 6554) is normalised like the frames before it is
    // subtracted, and the log says so once.
    EXPECT_FLOAT_EQ(frame->getPixel(3, 3).r, (32768.0f - 6554.0f) / 65536.0f);
    EXPECT_EQ(consoleLines(*window).filter(QStringLiteral("is not normalised")).size(), 1);

    panel->pbCalibrate->click();
    const QStringList lines = consoleLines(*window);
    EXPECT_EQ(lines.last(), QStringLiteral("Error during frame calibration: Could not create FITS file (may be it "
                                           "already exists?)"));
    // The reason stays in the status bar for a while before the bare "Error 105".
    EXPECT_EQ(window->findChild<QLabel *>(QStringLiteral("statusLabel"))->text(), lines.last());
    EXPECT_FALSE(window->calculationRunning);
}
