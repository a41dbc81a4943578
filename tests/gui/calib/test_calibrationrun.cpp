#include "app/filedialogs.h"
#include "app/verdanix.h"
#include "calib/wndcalibrate.h"
#include "image/imagebuffer.h"
#include "support/fitsfixture.h"
#include "support/guihelpers.h"

#include <QAction>
#include <QDir>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <gtest/gtest.h>

using testsupport::consoleLines;

namespace {

QString scriptedFolder;
QString answerFolder(QWidget *, const QString &, const QString &)
{
    return scriptedFolder;
}

// A 24 x 16 unsigned 16-bit grey frame of one value.
QString writeFrame(const QString &path, double value)
{
    return QDir::current().absoluteFilePath(testsupport::writeConstantFrame(path, 24, 16, value, 16, 0));
}

class CalibrationPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        filedialogs::askDirectory = answerFolder;
        scriptedFolder = QDir::current().absoluteFilePath("calibration/out");
        QDir("calibration").removeRecursively();
        QDir().mkpath("calibration/out");
        window = testsupport::startMainWindow();
        window->calibrateAct->trigger();
        panel = window->findChild<wndCalibrate *>();
        ASSERT_NE(panel, nullptr);
    }
    void TearDown() override { window.reset(); }
    QString lastLine() { return consoleLines(*window).last(); }

    std::unique_ptr<Verdanix> window;
    wndCalibrate *panel = nullptr;
};

} // namespace

TEST_F(CalibrationPanelTest, ThePanelDocksAndRefusesIncompleteRequests)
{
    EXPECT_EQ(qobject_cast<QDockWidget *>(panel->parentWidget())->windowTitle(), "Calibrate Light Frames");
    panel->pbCalibrate->click();
    EXPECT_EQ(lastLine(), "Not enough light frames for calibration!");

    testsupport::scriptOpenFiles({writeFrame("calibration/M42.light.fits", 30000)});
    panel->pbAdd->click();
    ASSERT_EQ(panel->lwFrames->count(), 1);
    EXPECT_EQ(panel->lwFrames->item(0)->text(), "M42.light.fits");
    panel->pbCalibrate->click();
    EXPECT_EQ(lastLine(), "Please choose an output directory first!");
    panel->leOutput->setText("calibration/missing");
    panel->pbCalibrate->click();
    EXPECT_EQ(lastLine(), "Output directory does not exist. Please create it first.");

    window->startRun("busy");
    panel->pbOutput->click();
    panel->pbCalibrate->click();
    EXPECT_EQ(lastLine(), "Cannot run calibration: A calculation is already running.");
    window->finishRun();
}

TEST_F(CalibrationPanelTest, ARunWritesCalibratedFramesAndASecondRunRefusesToOverwrite)
{
    testsupport::scriptOpenFiles(
        {writeFrame("calibration/M42.light.fits", 32768), writeFrame("calibration/M42.b.fits", 16384)});
    panel->pbAdd->click();
    panel->leDark->setText(writeFrame("calibration/dark.fits", 6553.6));
    panel->pbOutput->click();
    panel->pbCalibrate->click();
    EXPECT_TRUE(consoleLines(*window).contains("Calibration done."));
    EXPECT_FALSE(window->calculationRunning);
    auto *status = window->findChild<QLabel *>("statusLabel");
    EXPECT_EQ(status->text(), "Ready.");

    auto frame = testsupport::loadImage("calibration/out/M42.light.fts");
    ASSERT_NE(frame, nullptr);
    // The 16-bit dark (6553.6 stored as 6554) is normalised like the frames before it is
    // subtracted, and the log says so once.
    EXPECT_FLOAT_EQ(frame->getPixel(3, 3).r, (32768.0f - 6554.0f) / 65536.0f);
    EXPECT_EQ(consoleLines(*window).filter("is not normalised").size(), 1);

    panel->pbCalibrate->click();
    EXPECT_EQ(lastLine(), "Error during frame calibration: Could not create FITS file (may be it already exists?)");
    // The reason stays in the status bar for a while before the bare "Error 105".
    EXPECT_EQ(status->text(), lastLine());
    EXPECT_FALSE(window->calculationRunning);
}
