// The registration dialog's "Register" and "Stack" and the star-search panel, driven through
// the main window on small synthetic star fields.
#include "app/filedialogs.h"
#include "app/verdanix.h"
#include "image/imagebuffer.h"
#include "platform/settingsfile.h"
#include "stars/syntheticfield.h"
#include "stars/wndregistrationdata.h"
#include "stars/wndstarsearch.h"
#include "support/fitsfixture.h"
#include "support/guihelpers.h"
#include "view/mdiimage.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using testsupport::consoleLines;

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;
// Finds the synthetic stars over their sky; the dialog's default of 0.1 finds almost none.
constexpr double kThreshold = 0.02;

struct Shift {
    double x, y;
};
const Shift kShifts[] = {{0, 0}, {4, -3}, {-5, 2}, {2, 5}};

// A grey synthetic field shifted by `shift`, as unsigned 16-bit FITS.
QString writeFrame(const QString &name, const Shift &shift, int index)
{
    SyntheticFieldOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.colour = false;
    options.starCount = 300;
    options.noiseSeed = static_cast<std::uint32_t>(index + 1);
    options.shiftX = shift.x;
    options.shiftY = shift.y;
    const SyntheticField field = makeSyntheticField(options);
    testsupport::FitsImage fits;
    fits.bitpix = 16;
    fits.bzero = 32768;
    fits.axes = {kWidth, kHeight};
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            fits.values.push_back(std::clamp(std::round(field.image->pixel(x, y)[0] * 65535.0), 0.0, 65535.0));
    QFile::remove(name);
    EXPECT_EQ(testsupport::writeFitsFile(name, fits), 0);
    return QDir::current().absoluteFilePath(name);
}

QStringList scriptedFiles;

QStringList answerFiles(QWidget *, const QString &, const QString &, const QString &)
{
    return scriptedFiles;
}

class RegisterAndStackTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (int i = 0; i < 4; ++i)
            frames << writeFrame(QStringLiteral("night-%1.fits").arg(i), kShifts[i], i);
    }
    void SetUp() override
    {
        filedialogs::askOpenFileNames = answerFiles;
        window = testsupport::startMainWindow();
    }
    void TearDown() override { window.reset(); }

    wndRegistrationData *openDialog(const QStringList &files)
    {
        window->registrationAct->trigger();
        const QList<wndRegistrationData *> dialogs = window->findChildren<wndRegistrationData *>();
        wndRegistrationData *dialog = dialogs.isEmpty() ? nullptr : dialogs.last();
        if (dialog) {
            scriptedFiles = files;
            dialog->pbAddFiles->click();
            dialog->dsMinBright->setValue(kThreshold);
        }
        return dialog;
    }
    QStringList imageTitles() const
    {
        QStringList titles;
        for (QMdiSubWindow *sub : window->documentArea()->subWindowList())
            if (auto *image = qobject_cast<mdiImage *>(sub->widget()))
                titles << image->windowTitle();
        return titles;
    }
    bool abortVisible() const { return window->findChild<QPushButton *>(QStringLiteral("pbAbort"))->isVisible(); }
    QStringList column(wndRegistrationData &dialog, int c) const
    {
        QStringList texts;
        for (int row = 0; row < dialog.twList->rowCount(); ++row)
            texts << dialog.twList->item(row, c)->text();
        return texts;
    }

    static QStringList frames;
    std::unique_ptr<Verdanix> window;
};

QStringList RegisterAndStackTest::frames;

} // namespace

TEST_F(RegisterAndStackTest, RegisterFillsTheTableAndStackOpensAStackWindow)
{
    wndRegistrationData *dialog = openDialog(frames);
    ASSERT_NE(dialog, nullptr);
    dialog->pbRegister->click();

    EXPECT_FALSE(window->calculationRunning);
    EXPECT_FALSE(abortVisible());
    EXPECT_TRUE(consoleLines(*window).contains(QStringLiteral("All files done.")));
    EXPECT_EQ(column(*dialog, 6), QStringList({"yes", "yes", "yes", "yes"}));
    const QList<FrameEntry> entries = dialog->frameEntries();
    for (int i = 0; i < 4; ++i) {
        // The frame moved by the shift; the registration moves it back.
        EXPECT_NEAR(entries[i].offsetX, -kShifts[i].x, 0.5) << i;
        EXPECT_NEAR(std::abs(entries[i].offsetY), std::abs(kShifts[i].y), 0.5) << i;
        EXPECT_GT(entries[i].stars, 20.0f) << i;
    }

    // Unchecking a frame leaves three to stack.
    dialog->twList->item(3, 0)->setCheckState(Qt::Unchecked);
    dialog->pbStack->click();
    EXPECT_TRUE(imageTitles().contains(QStringLiteral("Stack")));
    const QStringList lines = consoleLines(*window);
    EXPECT_TRUE(lines.contains(QStringLiteral("Doing AVERAGE-Stacking...")));
    EXPECT_EQ(lines.last(), QStringLiteral("Stacking done"));
    EXPECT_FALSE(window->calculationRunning);
    EXPECT_FALSE(abortVisible());
    // The common frame holds the three frames, which lie up to 9 pixels apart across and 5 down.
    mdiImage *stack = window->newestWindow;
    ASSERT_NE(stack, nullptr);
    EXPECT_GT(stack->buffer->width, kWidth + 5);
    EXPECT_GT(stack->buffer->height, kHeight + 2);
}

TEST_F(RegisterAndStackTest, RequestsThatCannotRunAreRefusedAndEveryFailureEndsTheBusyState)
{
    wndRegistrationData *dialog = openDialog(QStringList{frames[0]});
    ASSERT_NE(dialog, nullptr);
    dialog->pbRegister->click();
    EXPECT_EQ(consoleLines(*window).last(),
              QStringLiteral("You need at least two images for frame registration!"));
    dialog->pbStack->click();
    EXPECT_EQ(consoleLines(*window).last(),
              QStringLiteral("You need at least two stackable (successfully registered) images for frame stacking!"));
    EXPECT_FALSE(window->calculationRunning);

    // A frame that cannot be read stops the run and leaves the table as it was.
    scriptedFiles = QStringList{QDir::current().absoluteFilePath("missing.fits")};
    dialog->pbAddFiles->click();
    dialog->pbRegister->click();
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Calculation stopped due to error."));
    EXPECT_EQ(column(*dialog, 6), QStringList({"no", "no"}));
    EXPECT_FALSE(window->calculationRunning);
    EXPECT_FALSE(abortVisible());

    // Trimming everything away is refused before anything is read.
    dialog->updateFrameRow(frames[0], 0, 0, 0, 50, 3, true);
    dialog->addFrameRow(frames[1], -4, 3, 0, 50, 3, true, true);
    dialog->cbReject->setCurrentIndex(2);
    dialog->dsThreshold->setValue(1.0);
    dialog->pbStack->click();
    EXPECT_FALSE(imageTitles().contains(QStringLiteral("Stack")));
    EXPECT_FALSE(window->calculationRunning);
    EXPECT_TRUE(consoleLines(*window).last().contains(QStringLiteral("trim"), Qt::CaseInsensitive))
        << consoleLines(*window).last().toStdString();

    // An unreadable first frame ends the stack after the frame buffer's own lines.
    const QString missing = QDir::current().absoluteFilePath("missing.fits");
    dialog->updateFrameRow(missing, 0, 0, 0, 0, 0, true);
    dialog->twList->selectRow(1);
    dialog->pbUp->click();
    ASSERT_EQ(dialog->frameFiles().first(), missing);
    dialog->cbReject->setCurrentIndex(0);
    dialog->pbStack->click();
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("[ERROR] MultiFB exited with a non-zero error code."));
    EXPECT_FALSE(window->calculationRunning);
    EXPECT_FALSE(abortVisible());

    window->startRun(QStringLiteral("busy"));
    dialog->pbRegister->click();
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("[INFO] Cannot execute. A calculation is already running!"));
    dialog->pbStack->click();
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Cannot stack, another process is already running."));
    window->finishRun();
}

TEST_F(RegisterAndStackTest, TheStarSearchOpensARegistrationDialogThatStacksButDoesNotRegister)
{
    window->starSearchAct->trigger();
    auto *panel = window->findChild<wndStarSearch *>();
    ASSERT_NE(panel, nullptr);
    auto *dock = qobject_cast<QDockWidget *>(panel->parentWidget());
    ASSERT_NE(dock, nullptr);
    EXPECT_EQ(dock->windowTitle(), QStringLiteral("Image Registration"));

    scriptedFiles = frames.mid(0, 3);
    panel->pbAddFiles->click();
    panel->dsMinBright->setValue(kThreshold);
    panel->pbAnalyze->click();
    EXPECT_FALSE(window->calculationRunning);
    EXPECT_FALSE(abortVisible());
    auto *dialog = window->findChild<wndRegistrationData *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->frameFiles(), frames.mid(0, 3));
    EXPECT_EQ(column(*dialog, 6), QStringList({"yes", "yes", "yes"}));

    const int lineCount = consoleLines(*window).size();
    dialog->pbRegister->click();
    EXPECT_EQ(consoleLines(*window).size(), lineCount) << "its Register is not connected";
    dialog->pbStack->click();
    EXPECT_TRUE(imageTitles().contains(QStringLiteral("Stack")));

    QPointer<QDockWidget> guarded(dock);
    panel->pushButton->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(guarded.isNull());
}

TEST_F(RegisterAndStackTest, AbortStopsARegistrationAndAStack)
{
    // One frame at a time, so that each run waits (and sees the Abort) between frames. Both runs
    // log before they wait, which turns the event loop, so the Abort lands while they run.
    settingsfile::setValue(QStringLiteral("Preferences"), QStringLiteral("maxThreads"), 1);
    wndRegistrationData *dialog = openDialog(frames);
    ASSERT_NE(dialog, nullptr);
    const auto abortSoon = [this](bool &pressedWhileRunning) {
        QTimer::singleShot(0, window.get(), [this, &pressedWhileRunning] {
            pressedWhileRunning = window->calculationRunning;
            window->findChild<QPushButton *>(QStringLiteral("pbAbort"))->click();
        });
    };
    bool pressed = false;
    abortSoon(pressed);
    dialog->pbRegister->click();
    EXPECT_TRUE(pressed);
    EXPECT_TRUE(consoleLines(*window).contains(QStringLiteral("Frame registration aborted.")));
    EXPECT_EQ(column(*dialog, 6), QStringList({"no", "no", "no", "no"})) << "the table is left as it was";
    EXPECT_FALSE(window->calculationRunning);
    EXPECT_FALSE(window->abortRequested) << "a finished abort does not stop the next run";
    EXPECT_FALSE(abortVisible());

    for (const QString &frame : frames)
        dialog->updateFrameRow(frame, 0, 0, 0, 50, 3, true);
    pressed = false;
    abortSoon(pressed);
    dialog->pbStack->click();
    EXPECT_TRUE(pressed);
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Stacking aborted."));
    EXPECT_FALSE(imageTitles().contains(QStringLiteral("Stack")));
    EXPECT_FALSE(window->calculationRunning);
    EXPECT_FALSE(abortVisible());
}
