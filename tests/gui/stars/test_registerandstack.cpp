// The registration dialog's "Register" and "Stack" and the star-search panel, driven through
// the main window on small synthetic star fields.
#include "gui/guitest.h"
#include "stars/wndregistrationdata.h"
#include "stars/wndstarsearch.h"
#include "testdata/starfield.h"

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;
// Finds the synthetic stars over their sky; the dialog's default of 0.1 finds almost none.
constexpr double kThreshold = 0.02;
const std::vector<FieldMove> kShifts = {{0, 0, 0}, {4, -3, 0}, {-5, 2, 0}, {2, 5, 0}};

class RegisterAndStackTest : public MainWindowTest {
protected:
    static void SetUpTestSuite()
    {
        for (const QString &path : writeSyntheticFrames("night", kShifts).paths)
            frames << QDir::current().absoluteFilePath(path);
    }
    wndRegistrationData *openDialog(const QStringList &files)
    {
        window->registrationAct->trigger();
        auto *dialog = window->findChildren<wndRegistrationData *>().value(0);
        if (dialog) {
            scriptOpenFiles(files);
            dialog->pbAddFiles->click();
            dialog->dsMinBright->setValue(kThreshold);
        }
        return dialog;
    }
    inline static QStringList frames;
};

} // namespace

TEST_F(RegisterAndStackTest, RegisterFillsTheTableAndStackOpensAStackWindow)
{
    wndRegistrationData *dialog = openDialog(frames);
    ASSERT_NE(dialog, nullptr);
    dialog->pbRegister->click();
    EXPECT_TRUE(idle());
    EXPECT_EQ(tableColumn(*dialog->twList, 6), list("yes;yes;yes;yes"));
    EXPECT_NEAR(dialog->frameEntries()[1].offsetX, -kShifts[1].shiftX, 0.5) << "the move that undoes the shift";
    // Unchecking a frame leaves three to stack, which lie up to 9 pixels apart across and 5 down.
    dialog->twList->item(3, 0)->setCheckState(Qt::Unchecked);
    dialog->pbStack->click();
    EXPECT_TRUE(lastLine() == "Stacking done" && idle());
    mdiImage *stack = imageTitled(*window, "Stack");
    EXPECT_TRUE(stack && stack->buffer->width > kWidth + 5 && stack->buffer->height > kHeight + 2);
}

TEST_F(RegisterAndStackTest, RequestsThatCannotRunAreRefusedAndEveryFailureEndsTheBusyState)
{
    const QString missing = QDir::current().absoluteFilePath("missing.fits");
    wndRegistrationData *dialog = openDialog(QStringList{missing});
    ASSERT_NE(dialog, nullptr);
    dialog->pbRegister->click();
    EXPECT_EQ(lastLine(), "You need at least two images for frame registration!");
    dialog->pbStack->click();
    EXPECT_EQ(lastLine(), "You need at least two stackable (successfully registered) images for frame stacking!");
    // A frame that cannot be read stops the run and leaves the table as it was.
    scriptOpenFiles({frames[0]});
    dialog->pbAddFiles->click();
    dialog->pbRegister->click();
    EXPECT_TRUE(lastLine() == "Calculation stopped due to error." && idle());
    EXPECT_EQ(tableColumn(*dialog->twList, 6), list("no;no"));
    // An unreadable first frame ends the stack after the frame buffer's own lines.
    dialog->updateFrameRow(frames[0], 0, 0, 0, 50, 3, true);
    dialog->updateFrameRow(missing, 0, 0, 0, 0, 0, true);
    dialog->pbStack->click();
    EXPECT_TRUE(lastLine() == "[ERROR] MultiFB exited with a non-zero error code." && idle());
    window->startRun("busy");
    dialog->pbRegister->click();
    EXPECT_EQ(lastLine(), "[INFO] Cannot execute. A calculation is already running!");
    window->finishRun();
}

TEST_F(RegisterAndStackTest, TheStarSearchOpensARegistrationDialogThatStacksButDoesNotRegister)
{
    window->starSearchAct->trigger();
    auto *panel = window->findChild<wndStarSearch *>();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ((QStringList{panel->windowTitle(), panel->cbPA->currentText(), panel->cbRA->currentText()}),
              list("Star Search;Sigma;Winsorize"));
    QPointer<QDockWidget> dock(qobject_cast<QDockWidget *>(panel->parentWidget()));
    scriptOpenFiles(frames.mid(0, 3));
    panel->pbAddFiles->click();
    panel->dsMinBright->setValue(kThreshold);
    panel->options.cbRefine->setChecked(true);
    panel->options.cbInterpolation->setCurrentIndex(2);
    panel->pbAnalyze->click();
    auto *dialog = window->findChild<wndRegistrationData *>();
    ASSERT_TRUE(dialog && idle());
    EXPECT_EQ(dialog->frameFiles(), frames.mid(0, 3));
    EXPECT_EQ(consoleLines(*window).filter(" refined with ").size(), 2);
    EXPECT_TRUE(dialog->options.cbRefine->isChecked() && !dialog->options.cbAutoThreshold->isChecked());
    EXPECT_EQ(dialog->options.cbInterpolation->currentText(), "Lanczos-3") << "the choices go along";
    const int lineCount = consoleLines(*window).size();
    dialog->pbRegister->click();
    EXPECT_EQ(consoleLines(*window).size(), lineCount) << "its Register is not connected";
    dialog->pbStack->click();
    EXPECT_NE(imageTitled(*window, "Stack"), nullptr);
    panel->pushButton->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dock.isNull());
}

TEST_F(RegisterAndStackTest, AbortStopsARegistrationAndAStack)
{
    // One frame at a time, so that each run waits (and sees the Abort) between frames. Both runs
    // log before they wait, which turns the event loop, so the Abort lands while they run.
    settingsfile::setValue("Preferences", "maxThreads", 1);
    wndRegistrationData *dialog = openDialog(frames);
    ASSERT_NE(dialog, nullptr);
    bool pressed = false;
    pressAbortSoon(*window, pressed);
    dialog->pbRegister->click();
    EXPECT_TRUE(pressed && idle());
    EXPECT_EQ(tableColumn(*dialog->twList, 6), list("no;no;no;no")) << "the table is left as it was";
    EXPECT_FALSE(window->abortRequested) << "a finished abort does not stop the next run";
    for (const QString &frame : frames)
        dialog->updateFrameRow(frame, 0, 0, 0, 50, 3, true);
    pressed = false;
    pressAbortSoon(*window, pressed);
    dialog->pbStack->click();
    EXPECT_TRUE(pressed && idle() && !imageTitled(*window, "Stack"));
    EXPECT_EQ(lastLine(), "Stacking aborted.");
}
