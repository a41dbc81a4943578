// The master-frame panel and its "Generate", driven through the main window.
#include "gui/guitest.h"
#include "stack/wndmasterframe.h"
#include "support/fitsfixture.h"

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

class MasterFrameTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        window->masterFrameAct->trigger();
        panel = window->findChild<wndMasterFrame *>();
        ASSERT_NE(panel, nullptr);
    }
    wndMasterFrame *panel = nullptr;
};

} // namespace

TEST_F(MasterFrameTest, ThePanelDocksAndTheFrameTypeDecidesWhichMastersAndNormalisationApply)
{
    QPointer<QDockWidget> dock(qobject_cast<QDockWidget *>(panel->parentWidget()));
    EXPECT_EQ((QStringList{dock->windowTitle(), panel->cbMethod->currentText(), panel->cbType->currentText()}),
              list("Create Master Frame;Median;Flat Frame"));
    const struct {
        int type;
        bool bias, darkFlat, normalize;
    } rows[] = {{1, true, false, false}, {2, false, false, false}, {0, true, true, true}};
    for (const auto &row : rows) {
        panel->leBias->setText("/m/bias.fits");
        panel->leDarkFlat->setText("/m/darkflat.fits");
        panel->cbNormalize->setChecked(true);
        panel->cbType->setCurrentIndex(row.type);
        // Each master is offered and kept, or disabled and cleared.
        EXPECT_EQ(std::make_tuple(panel->pbBias->isEnabled(), !panel->leBias->text().isEmpty(),
                                  panel->pbDarkFlat->isEnabled(), !panel->leDarkFlat->text().isEmpty(),
                                  panel->cbNormalize->isEnabled(), panel->cbNormalize->isChecked()),
                  std::make_tuple(row.bias, row.bias, row.darkFlat, row.darkFlat, row.normalize, row.normalize))
            << row.type;
    }
    scriptOpenFiles({"/flats/f1.fits", "/flats/f2.fits", "/flats/f3.fits"});
    panel->pbAdd->click();
    EXPECT_EQ(panel->lwFrames->item(0)->text(), "f1.fits");
    window->masterFrameAct->trigger();
    panel->pbCancel->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dock.isNull());
    EXPECT_EQ(window->findChildren<wndMasterFrame *>().size(), 1) << "only its own dock closes";
}

TEST_F(MasterFrameTest, FiveFlatsMakeAMasterFlatWindowAndRefusalsAbortAndFailuresMakeNone)
{
    panel->pbGenerate->click();
    EXPECT_EQ(lastLine(), "[ERROR] No frames selected form master frame generation!");
    const QStringList flats = writeFlats(5);
    scriptOpenFiles(flats.mid(0, 1));
    panel->pbAdd->click();
    panel->pbGenerate->click();
    EXPECT_FALSE(window->calculationRunning) << "one frame ends the run after the frame buffer's own lines";
    scriptOpenFiles(flats.mid(1));
    panel->pbAdd->click();
    panel->pbGenerate->click();
    mdiImage *master = imageTitled(*window, "Master Flat");
    ASSERT_NE(master, nullptr) << consoleLines(*window).join('\n').toStdString();
    EXPECT_TRUE(idle());
    EXPECT_FLOAT_EQ(master->buffer->getPixel(17, 123).r, 3140.0f / 65536.0f) << "frame 2's normalised value";
    // One loader at a time, so that the run waits (and sees the Abort) between frames.
    settingsfile::setValue("Preferences", "maxThreads", 1);
    bool pressedWhileRunning = false;
    pressAbortSoon(*window, pressedWhileRunning);
    panel->pbGenerate->click();
    EXPECT_TRUE(pressedWhileRunning && idle() && imageWindowCount() == 1);
    EXPECT_EQ(lastLine(), "Aborted.");
}
