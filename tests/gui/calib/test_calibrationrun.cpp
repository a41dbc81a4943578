#include "app/filedialogs.h"
#include "calib/wndcalibrate.h"
#include "gui/guitest.h"
#include "support/fitsfixture.h"

namespace {

// A 24 x 16 unsigned 16-bit grey frame of one value.
QString constantFrame(const QString &path, double value)
{
    return QDir::current().absoluteFilePath(writeConstantFrame(path, 24, 16, value, 16, 0));
}

class CalibrationPanelTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        filedialogs::askDirectory = [](QWidget *, const QString &, const QString &) {
            return QDir::current().absoluteFilePath("calibration/out");
        };
        QDir("calibration").removeRecursively();
        QDir().mkpath("calibration/out");
        MainWindowTest::SetUp();
        window->calibrateAct->trigger();
        panel = window->findChild<wndCalibrate *>();
        ASSERT_NE(panel, nullptr);
    }
    wndCalibrate *panel = nullptr;
};

} // namespace

TEST_F(CalibrationPanelTest, ThePanelRefusesIncompleteRequestsAndARunSubtractsTheNormalisedDark)
{
    EXPECT_EQ(qobject_cast<QDockWidget *>(panel->parentWidget())->windowTitle(), "Calibrate Light Frames");
    panel->pbCalibrate->click();
    EXPECT_EQ(lastLine(), "Not enough light frames for calibration!");
    scriptOpenFiles({constantFrame("calibration/M31.light.fits", 30000)});
    panel->pbAdd->click();
    ASSERT_TRUE(panel->lwFrames->count() == 1 && panel->lwFrames->item(0)->text() == "M31.light.fits");
    panel->pbCalibrate->click();
    EXPECT_EQ(lastLine(), "Please choose an output directory first!");
    panel->leOutput->setText("calibration/missing");
    panel->pbCalibrate->click();
    EXPECT_EQ(lastLine(), "Output directory does not exist. Please create it first.");
    scriptOpenFiles(
        {constantFrame("calibration/M42.light.fits", 32768), constantFrame("calibration/M42.b.fits", 16384)});
    panel->pbAdd->click();
    panel->leDark->setText(constantFrame("calibration/dark.fits", 6553.6));
    panel->pbOutput->click();
    window->startRun("busy");
    panel->pbCalibrate->click();
    EXPECT_EQ(lastLine(), "Cannot run calibration: A calculation is already running.");
    window->finishRun();
    panel->pbCalibrate->click();
    EXPECT_TRUE(consoleLines(*window).contains("Calibration done.") && idle() && status() == "Ready.");
    auto frame = loadImage("calibration/out/M42.light.fts");
    ASSERT_NE(frame, nullptr);
    // The 16-bit dark (6553.6, stored as 6554) is normalised like the frames, and the log says so once.
    EXPECT_FLOAT_EQ(frame->getPixel(3, 3).r, (32768.0f - 6554.0f) / 65536.0f);
    EXPECT_EQ(consoleLines(*window).filter("is not normalised").size(), 1);
}
