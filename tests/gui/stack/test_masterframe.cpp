// The master-frame panel and its "Generate", driven through the main window.
#include "app/verdanix.h"
#include "calib/calibarithmetic.h"
#include "image/imagebuffer.h"
#include "platform/settingsfile.h"
#include "stack/wndmasterframe.h"
#include "support/fitsfixture.h"
#include "support/guihelpers.h"
#include "view/mdiimage.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// Frame k of 300 x 200 holds 1000 (k + 1) + x + y: every pixel's median is frame 2's value.
QStringList writeFlats(int count)
{
    QStringList paths;
    for (int k = 0; k < count; ++k)
        paths << QDir::current().absoluteFilePath(writeFrame(
            QStringLiteral("flat-%1.fits").arg(k), 300, 200,
            [k](int x, int y, int) { return 1000.0 * (k + 1) + x + y; }, 16, 0));
    return paths;
}

class MasterFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = startMainWindow();
        window->masterFrameAct->trigger();
        panel = window->findChild<wndMasterFrame *>();
        ASSERT_NE(panel, nullptr);
    }
    void TearDown() override { window.reset(); }

    std::unique_ptr<Verdanix> window;
    wndMasterFrame *panel = nullptr;
};

} // namespace

TEST_F(MasterFrameTest, ThePanelDocksAndTheFrameTypeDecidesWhichMastersAndNormalisationApply)
{
    QPointer<QDockWidget> dock(qobject_cast<QDockWidget *>(panel->parentWidget()));
    EXPECT_EQ(dock->windowTitle(), "Create Master Frame");
    EXPECT_EQ(panel->cbMethod->currentText(), "Median");
    EXPECT_EQ(panel->cbType->currentText(), "Flat Frame");

    const struct {
        int type;
        bool bias, darkFlat, normalize;
    } rows[] = {{1, true, false, false}, {3, true, false, false}, {2, false, false, false}, {0, true, true, true}};
    for (const auto &row : rows) {
        panel->leBias->setText("/m/bias.fits");
        panel->leDarkFlat->setText("/m/darkflat.fits");
        panel->cbNormalize->setChecked(true);
        panel->cbType->setCurrentIndex(row.type);
        EXPECT_EQ(panel->pbBias->isEnabled(), row.bias) << row.type;
        EXPECT_EQ(panel->leBias->text().isEmpty(), !row.bias) << row.type;
        EXPECT_EQ(panel->pbDarkFlat->isEnabled(), row.darkFlat) << row.type;
        EXPECT_EQ(panel->leDarkFlat->text().isEmpty(), !row.darkFlat) << row.type;
        EXPECT_EQ(panel->cbNormalize->isEnabled(), row.normalize) << row.type;
        EXPECT_EQ(panel->cbNormalize->isChecked(), row.normalize) << row.type;
    }

    window->masterFrameAct->trigger();
    panel->pbCancel->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dock.isNull());
    EXPECT_EQ(window->findChildren<wndMasterFrame *>().size(), 1) << "only its own dock closes";
}

TEST_F(MasterFrameTest, RemoveDeletesEverySelectedFrame)
{
    scriptOpenFiles({"/flats/f1.fits", "/flats/f2.fits", "/flats/f3.fits", "/flats/f4.fits"});
    panel->pbAdd->click();
    EXPECT_EQ(panel->lwFrames->item(0)->text(), "f1.fits");
    for (int row : {0, 1, 3})
        panel->lwFrames->item(row)->setSelected(true);
    panel->pbRemove->click();
    EXPECT_EQ(panel->framePaths(), QStringList({"/flats/f3.fits"}));
}

TEST_F(MasterFrameTest, FiveFlatsMakeAMasterFlatWindow)
{
    const QStringList flats = writeFlats(5);
    scriptOpenFiles(flats);
    panel->pbAdd->click();
    panel->pbGenerate->click();

    mdiImage *master = imageTitled(*window, "Master Flat");
    ASSERT_NE(master, nullptr) << consoleLines(*window).join('\n').toStdString();
    EXPECT_FALSE(window->calculationRunning || abortVisible(*window));
    auto middle = loadImage(flats[2]);
    ASSERT_TRUE(middle && normalizeImage(*middle));
    for (const auto &xy : {std::pair<int, int>{0, 0}, {17, 123}, {299, 199}})
        EXPECT_FLOAT_EQ(master->buffer->getPixel(xy.first, xy.second).r, middle->getPixel(xy.first, xy.second).r);
}

TEST_F(MasterFrameTest, RefusalsAbortAndFailuresLeaveNoWindowAndNoBusyState)
{
    panel->pbGenerate->click();
    EXPECT_EQ(consoleLines(*window).last(), "[ERROR] No frames selected form master frame generation!");
    window->startRun("busy");
    panel->pbGenerate->click();
    EXPECT_EQ(consoleLines(*window).last(), "[INFO] Cannot execute. A calculation is already running!");
    window->finishRun();

    scriptOpenFiles(writeFlats(1));
    panel->pbAdd->click();
    panel->pbGenerate->click();
    EXPECT_FALSE(window->calculationRunning) << "one frame ends the run after the frame buffer's own lines";

    // One loader at a time, so that the run waits (and sees the Abort) between frames.
    settingsfile::setValue("Preferences", "maxThreads", 1);
    scriptOpenFiles(writeFlats(5));
    panel->pbAdd->click();
    bool pressedWhileRunning = false;
    pressAbortSoon(*window, pressedWhileRunning);
    panel->pbGenerate->click();
    EXPECT_TRUE(pressedWhileRunning);
    EXPECT_EQ(consoleLines(*window).last(), "Aborted.");
    EXPECT_FALSE(window->calculationRunning || abortVisible(*window));
    EXPECT_EQ(window->findChildren<mdiImage *>().size(), 0);
}
