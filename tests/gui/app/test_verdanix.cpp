#include "app/aboutbox.h"
#include "app/displaytexts.h"
#include "app/verdanix.h"
#include "console/outputwindow.h"
#include "platform/settingsfile.h"
#include "support/guihelpers.h"
#include "view/mdiimage.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>

#include <gtest/gtest.h>

#include <cmath>

using testsupport::consoleLines;

using testsupport::logFileLines;
using testsupport::waitUntil;

namespace {

QStringList actionTexts(const QList<QAction *> &actions)
{
    QStringList texts;
    for (QAction *action : actions)
        texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
    return texts;
}

QMenu *menuNamed(Verdanix &window, const QString &title)
{
    for (QAction *action : window.menuBar()->actions())
        if (action->text() == title)
            return action->menu();
    return nullptr;
}

mdiImage *imageWindow(Verdanix &window, const QString &name, bool preview = false)
{
    auto *image = new mdiImage;
    image->buffer = std::make_unique<ImageBuffer>(4, 4);
    image->isPreview = preview;
    image->setName(name);
    window.addImageWindow(image);
    return image;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = testsupport::startMainWindow();
    }
    void TearDown() override { window.reset(); }
    std::unique_ptr<Verdanix> window;
};

} // namespace

TEST_F(MainWindowTest, StartsWithTheDarkLookAndLogsTheStartupLines)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Verdanix"));
    EXPECT_EQ(window->objectName(), QStringLiteral("VerdanixClass"));
    EXPECT_EQ(QApplication::style()->objectName().toLower(), QStringLiteral("fusion"));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(53, 53, 53));
    EXPECT_EQ(window->console()->windowTitle(), QStringLiteral("Messages"));

    const QStringList lines = consoleLines(*window);
    const QStringList expectedStart = {QStringLiteral("Starting..."), QStringLiteral("Creating menus and actions..."),
                                       QStringLiteral("Setting application skin..."), QStringLiteral("Application ready"),
                                       QStringLiteral("VERSION: 0.0.7"), QStringLiteral("BUILD: 2")};
    ASSERT_GE(lines.size(), 9);
    EXPECT_EQ(lines.mid(0, 6), expectedStart);
    EXPECT_TRUE(lines[6].startsWith(QStringLiteral("Available CPU cores/threads: ")));
    EXPECT_TRUE(lines[7].startsWith(QStringLiteral("Total physical memory: ")) && lines[7].endsWith(QStringLiteral(" MB")));
    EXPECT_TRUE(lines[8].startsWith(QStringLiteral("Available physical memory: ")));

    const QStringList file = logFileLines();
    for (const QString &line : expectedStart)
        EXPECT_TRUE(file.contains(QStringLiteral("Info: \"%1\"").arg(line))) << line.toStdString();

    auto *status = window->findChild<QLabel *>(QStringLiteral("statusLabel"));
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(), QStringLiteral("Ready."));
    EXPECT_FALSE(window->findChild<QPushButton *>(QStringLiteral("pbAbort"))->isVisible());
}

TEST_F(MainWindowTest, MenusAndToolbarHoldTheActionsInOrder)
{
    EXPECT_EQ(actionTexts(window->menuBar()->actions()),
              (QStringList{"&File", "&Manipulate", "&Combine", "&Transform", "&Image", "&Window", "&Help"}));
    EXPECT_EQ(actionTexts(menuNamed(*window, "&Image")->actions()),
              (QStringList{"Zoom In", "Zoom Out", "100 %", "Fit to Window", "|", "Image Statistics..."}));
    EXPECT_EQ(actionTexts(menuNamed(*window, "&File")->actions()),
              (QStringList{"Open File...", "Save As...", "|", "&Preferences...", "|", "Exit"}));
    EXPECT_EQ(actionTexts(menuNamed(*window, "&Manipulate")->actions()),
              (QStringList{"Calibrate light frames...", "Color Gain...", "Neutralize Background",
                           "Flatten background...", "Normalize color values"}));
    EXPECT_EQ(actionTexts(menuNamed(*window, "&Combine")->actions()),
              (QStringList{"Create Master frame...", "Registration and Integration...", "Combine images..."}));
    EXPECT_EQ(actionTexts(menuNamed(*window, "&Transform")->actions()), QStringList{"&Crop"});
    EXPECT_EQ(actionTexts(menuNamed(*window, "&Help")->actions()), QStringList{"About"});

    auto *toolbar = window->findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(toolbar->iconSize(), QSize(16, 16));
    EXPECT_EQ(actionTexts(toolbar->actions()),
              (QStringList{"Open File...", "Save As...", "|", "Create Master frame...", "Registration and Integration...",
                           "Combine images...", "|", "Calibrate light frames...", "Flatten background...",
                           "Neutralize Background", "|", "&Crop"}));
    for (QAction *action : toolbar->actions())
        EXPECT_TRUE(action->isSeparator() || !action->icon().pixmap(16, 16).isNull()) << action->text().toStdString();

    EXPECT_FALSE(window->fillBlackAct->isEnabled());
    const std::pair<QAction *, const char *> shortcuts[] = {
        {window->openAct, "Ctrl+O"},       {window->saveAsAct, "Ctrl+S"},      {window->exitAct, "Ctrl+Q"},
        {window->closeWindowAct, "Ctrl+W"}, {window->zoomInAct, "Ctrl++"},     {window->zoomOutAct, "Ctrl+-"},
        {window->zoomActualAct, "Ctrl+1"},  {window->zoomFitAct, "Ctrl+0"},    {window->calibrateAct, ""},
        {window->cropAct, ""}};
    for (const auto &[action, keys] : shortcuts)
        EXPECT_EQ(action->shortcut().toString(), QLatin1String(keys)) << action->text().toStdString();
    EXPECT_FALSE(QApplication::windowIcon().pixmap(32, 32).isNull()) << "the program's own icon";
    EXPECT_EQ(window->console()->parentWidget()->windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
}

TEST_F(MainWindowTest, ImageActionsAndTheLockFollowWhetherAnImageWindowIsCurrent)
{
    window->documentArea()->setActiveSubWindow(window->documentArea()->subWindowList().first());
    EXPECT_EQ(window->lockImage(), nullptr) << "the console is no image";
    EXPECT_FALSE(window->lockActive);
    window->documentArea()->setActiveSubWindow(nullptr);
    for (QAction *action : {window->saveAsAct, window->colorGainAct, window->neutralizeAct, window->flattenAct,
                            window->normalizeAct, window->cropAct})
        EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    EXPECT_TRUE(window->combineAct->isEnabled());

    mdiImage *image = imageWindow(*window, QStringLiteral("M42.fits"));
    window->documentArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(image->parentWidget()));
    EXPECT_TRUE(window->saveAsAct->isEnabled());
    EXPECT_TRUE(window->cropAct->isEnabled());
    EXPECT_EQ(actionTexts(menuNamed(*window, "&Transform")->actions()), QStringList{"&Crop"});
}

TEST_F(MainWindowTest, OperationsWorkOnTheLockedImageAndNeverOnAPreview)
{
    mdiImage *first = imageWindow(*window, QStringLiteral("first"));
    mdiImage *second = imageWindow(*window, QStringLiteral("second"));
    EXPECT_EQ(window->viewTarget, second);
    mdiImage *preview = imageWindow(*window, QStringLiteral("Preview"), true);
    EXPECT_EQ(window->viewTarget, second) << "a preview never becomes the current image";

    window->documentArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(preview->parentWidget()));
    EXPECT_EQ(window->lockImage(), second);
    EXPECT_TRUE(window->lockActive);

    // While locked, activating another window does not change the operation's image.
    window->documentArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(first->parentWidget()));
    EXPECT_EQ(window->lockImage(), second);
    EXPECT_EQ(window->currentImageWindow(), second);
    window->releaseImage();
    EXPECT_EQ(window->lockImage(), first);
    window->releaseImage();

    // Closing the current image hands the role on and leaves no dangling pointer.
    window->documentArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow *>(first->parentWidget()));
    window->viewTarget = first;
    first->parentWidget()->close();
    ASSERT_TRUE(waitUntil([&] { return window->viewTarget != first; }));
}

TEST_F(MainWindowTest, ABusyWindowRefusesASecondRunAndAbortReachesTheWorker)
{
    auto *abortButton = window->findChild<QPushButton *>(QStringLiteral("pbAbort"));
    auto *status = window->findChild<QLabel *>(QStringLiteral("statusLabel"));
    std::atomic<bool> workerFlag{false};

    ASSERT_TRUE(window->startRun(QStringLiteral("Cannot run calibration: A calculation is already running."), &workerFlag));
    EXPECT_TRUE(window->calculationRunning);
    EXPECT_TRUE(window->abortable);
    EXPECT_TRUE(abortButton->isVisible());

    EXPECT_FALSE(window->startRun(QStringLiteral("Cannot stack, another process is already running.")));
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Cannot stack, another process is already running."));
    EXPECT_EQ(status->text(), QStringLiteral("Cannot stack, another process is already running."));

    abortButton->click();
    EXPECT_TRUE(workerFlag.load());
    EXPECT_TRUE(window->abortRequested.load());
    EXPECT_FALSE(window->abortable);
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Aborting current process, please wait..."));
    EXPECT_TRUE(window->console()->teOutput->toHtml().contains(QStringLiteral("#ffff00")));
    EXPECT_EQ(status->text(), QStringLiteral("Aborting..."));

    window->finishRun(QStringLiteral("Calibration aborted."));
    EXPECT_FALSE(window->calculationRunning);
    EXPECT_FALSE(abortButton->isVisible());
    EXPECT_EQ(status->text(), QStringLiteral("Calibration aborted."));
    EXPECT_TRUE(window->startRun(QStringLiteral("refused")));
    window->finishRun();
    EXPECT_EQ(status->text(), QStringLiteral("Ready."));
}

TEST_F(MainWindowTest, AnErrorShowsInTheStatusBarAndRaisesTheConsoleWithoutActivatingIt)
{
    QMdiArea *area = window->documentArea();
    auto *console = qobject_cast<QMdiSubWindow *>(window->console()->parentWidget());
    mdiImage *image = imageWindow(*window, QStringLiteral("cover.fits"));
    auto *cover = qobject_cast<QMdiSubWindow *>(image->parentWidget());
    cover->setGeometry(console->geometry());
    area->setActiveSubWindow(cover);
    ASSERT_EQ(area->subWindowList(QMdiArea::StackingOrder).last(), cover);

    window->console()->logMessage(QStringLiteral("<font color=\"#ff6666\">Cannot open x.cr2: the file does not "
                                                 "exist.</font>"));
    EXPECT_EQ(area->subWindowList(QMdiArea::StackingOrder).last(), console);
    EXPECT_EQ(area->activeSubWindow(), cover) << "the image stays the current one";
    EXPECT_EQ(window->currentImageWindow(), image);
    auto *status = window->findChild<QLabel *>(QStringLiteral("statusLabel"));
    EXPECT_EQ(status->text(), QStringLiteral("Error: Cannot open x.cr2: the file does not exist."));
    window->console()->setStatusText(QStringLiteral("Ready."));
    EXPECT_NE(status->text(), QStringLiteral("Ready."));
}

TEST_F(MainWindowTest, AbortWithNothingRunningOnlySaysSo)
{
    window->evAbort();
    EXPECT_EQ(consoleLines(*window).last(), QStringLiteral("Aborting current process, please wait..."));
    EXPECT_EQ(window->findChild<QLabel *>(QStringLiteral("statusLabel"))->text(), QStringLiteral("Aborting..."));
    EXPECT_TRUE(window->abortRequested.load()) << "the request stays pending for the next loop that checks it";
    EXPECT_FALSE(window->calculationRunning);
}

TEST_F(MainWindowTest, ReadoutFitsItsLabelsAndClearsWhenThePointerLeavesTheImage)
{
    const std::pair<double, const char *> cases[] = {
        {0.1234567, "0.1235"}, {65535.0, "65535"},  {0.0, "0"},          {1234.567, "1235"},
        {12.3456, "12.35"},    {-0.5, "-0.5"},      {0.0012345, "0.001234"}, {1.5e-5, "1.5e-5"},
        {-1.23456e-7, "-1.235e-7"}, {123456.0, "1.235e5"}, {-1.23456e-20, "-1.23e-20"}, {std::nan(""), "NaN"}};
    auto *red = window->findChild<QLabel *>(QStringLiteral("lblRed"));
    for (const auto &[value, text] : cases) {
        EXPECT_EQ(readoutText(value), QLatin1String(text)) << value;
        window->evReturnedColor(FloatRGB{static_cast<float>(value), 0.0f, 0.0f, 1.0f});
        EXPECT_LE(red->fontMetrics().horizontalAdvance(red->text()), red->contentsRect().width()) << text;
    }

    auto *position = window->findChild<QLabel *>(QStringLiteral("lblPosition"));
    window->evReturnedColor(FloatRGB{0.5f, 0.25f, 0.125f, 1.0f});
    window->evPointerMoved(12, 34, true);
    EXPECT_EQ(position->text(), QStringLiteral("12, 34"));
    EXPECT_EQ(window->findChild<QLabel *>(QStringLiteral("lblBlue"))->text(), QStringLiteral("0.125"));
    window->evPointerMoved(-1, 34, false);
    EXPECT_TRUE(position->text().isEmpty() && red->text().isEmpty()) << "outside the image";
    window->evPointerMoved(1, 1, true);
    window->evPointerLeft();
    EXPECT_TRUE(position->text().isEmpty());
}

TEST_F(MainWindowTest, AboutBoxNamesTheVersionAndTheLinkedLibraries)
{
    const QString text = AboutBox::aboutText();
    EXPECT_TRUE(text.contains(QStringLiteral("Version 0.0.7, build 2")));
    EXPECT_TRUE(text.contains(QStringLiteral("Qt ") + QString::fromLatin1(qVersion())));
    EXPECT_TRUE(text.contains(QStringLiteral("LibRaw 0.")));
    EXPECT_TRUE(text.contains(QStringLiteral("cfitsio 4.")));
    window->aboutAct->trigger();
    auto *box = window->findChild<AboutBox *>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
    box->close();
}

TEST_F(MainWindowTest, ExitClosesTheMainWindow)
{
    window->exitAct->trigger();
    EXPECT_FALSE(window->isVisible());
}

TEST(Welcome, DecliningEndsTheProgramAndAsksAgainNextTime)
{
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    Verdanix window;
    window.show();
    testsupport::clickInMessageBoxWhenShown(QStringLiteral("welcomeBox"), QStringLiteral("No"));
    // A guard that dies with the test: left pending, it would end the event loops of later tests.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(settingsfile::firstRun());
    EXPECT_FALSE(QFile::exists(QString::fromLatin1(settingsfile::kFileName)));
}

TEST(Welcome, AgreeingIsRememberedAndTheBoxNeverReturns)
{
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    {
        Verdanix window;
        window.show();
        QObject::connect(window.preferencesAct, &QAction::triggered, [] { QCoreApplication::exit(7); });
        testsupport::clickInMessageBoxWhenShown(QStringLiteral("welcomeBox"), QStringLiteral("Yes"));
        testsupport::clickInMessageBoxWhenShown(QStringLiteral("firstRunBox"), QStringLiteral("OK"));
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
        guard.start(5000);
        EXPECT_EQ(QApplication::exec(), 7) << "agreeing ends by opening the preferences";
        EXPECT_FALSE(settingsfile::firstRun());
        EXPECT_TRUE(consoleLines(window).contains(QStringLiteral("Congrats to your new application!")));
    }
    Verdanix again;
    again.show();
    bool boxShown = false;
    QTimer::singleShot(300, [&] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            boxShown |= widget->objectName() == QStringLiteral("welcomeBox") && widget->isVisible();
        QCoreApplication::exit(0);
    });
    QApplication::exec();
    EXPECT_FALSE(boxShown);
}
