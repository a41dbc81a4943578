#include "app/aboutbox.h"
#include "app/displaytexts.h"
#include "app/filedialogs.h"
#include "app/windowlayout.h"
#include "gui/guitest.h"
#include "process/flattenbgwnd.h"
#include "process/wndcombineimg.h"
#include "process/wndimagestats.h"
#include "view/wndviewcorrection.h"

namespace {

QStringList actionTexts(const QList<QAction *> &actions, bool checkedOnly = false)
{
    QStringList texts;
    for (QAction *action : actions)
        if (!checkedOnly || action->isChecked())
            texts << (action->isSeparator() ? QStringLiteral("|") : action->text());
    return texts;
}

// An image window added the way a loaded file's is.
mdiImage *imageWindow(Verdanix &window, const QString &name, bool preview = false)
{
    auto *image = new mdiImage;
    image->buffer = std::make_unique<ImageBuffer>(4, 4);
    image->isPreview = preview;
    image->setName(name);
    window.addImageWindow(image);
    return image;
}

} // namespace

TEST_F(MainWindowTest, StartsWithTheDarkLookLogsTheStartupLinesAboutNamesTheLibrariesAndExitCloses)
{
    EXPECT_EQ((QStringList{window->windowTitle(), window->objectName(), QApplication::style()->objectName().toLower(),
                           window->console()->windowTitle()}),
              list("Verdanix;VerdanixClass;fusion;Messages"));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), QColor(53, 53, 53));
    const QStringList lines = consoleLines(*window);
    ASSERT_GE(lines.size(), 9);
    EXPECT_EQ(lines.mid(0, 6), list("Starting...;Creating menus and actions...;Setting application skin...;"
                                    "Application ready;VERSION: 0.0.7;BUILD: 2"));
    EXPECT_TRUE(lines[6].startsWith("Available CPU cores/threads: ") && lines[7].startsWith("Total physical memory: ")
                && lines[7].endsWith(" MB") && lines[8].startsWith("Available physical memory: "));
    EXPECT_TRUE(status() == "Ready." && !window->findChild<QPushButton *>("pbAbort")->isVisible());
    for (const QString &part : {QString("Version 0.0.7, build 2"), "Qt " + QString::fromLatin1(qVersion()),
                                QString("LibRaw 0."), QString("cfitsio 4.")})
        EXPECT_TRUE(AboutBox::aboutText().contains(part)) << part.toStdString();
    window->exitAct->trigger();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowTest, MenusAndToolbarHoldTheActionsInOrder)
{
    const QList<QAction *> menus = window->menuBar()->actions();
    EXPECT_EQ(actionTexts(menus), list("&File;&Manipulate;&Combine;&Transform;&Image;&Window;&Help"));
    const std::pair<int, const char *> items[] = {
        {0, "Open File...;Save As...;|;&Preferences...;|;Exit"},
        {1,
         "Calibrate light frames...;Color Gain...;Neutralize Background;Flatten background...;Normalize color values"},
        {2, "Create Master frame...;Registration and Integration...;Combine images..."},
        {3, "&Crop"},
        {4, "Zoom In;Zoom Out;100 %;Fit to Window;|;Image Statistics..."},
        {6, "About"}};
    for (const auto &[menu, texts] : items)
        EXPECT_EQ(actionTexts(menus[menu]->menu()->actions()), list(texts)) << texts;
    auto *toolbar = window->findChild<QToolBar *>("mainToolBar");
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(actionTexts(toolbar->actions()),
              list("Open File...;Save As...;|;Create Master frame...;Registration and Integration...;Combine images...;"
                   "|;Calibrate light frames...;Flatten background...;Neutralize Background;|;&Crop"));
    const std::pair<QAction *, const char *> shortcuts[] = {
        {window->openAct, "Ctrl+O"},        {window->saveAsAct, "Ctrl+S"},  {window->exitAct, "Ctrl+Q"},
        {window->closeWindowAct, "Ctrl+W"}, {window->zoomInAct, "Ctrl++"},  {window->zoomOutAct, "Ctrl+-"},
        {window->zoomActualAct, "Ctrl+1"},  {window->zoomFitAct, "Ctrl+0"}, {window->cropAct, ""}};
    for (const auto &[action, keys] : shortcuts)
        EXPECT_EQ(action->shortcut().toString(), QLatin1String(keys)) << action->text().toStdString();
    EXPECT_FALSE(QApplication::windowIcon().pixmap(32, 32).isNull()) << "the program's own icon";
}

TEST_F(MainWindowTest, ActionsAndTheLockFollowTheCurrentImageWhichIsNeverAPreview)
{
    window->documentArea()->setActiveSubWindow(window->documentArea()->subWindowList().first());
    EXPECT_TRUE(window->lockImage().get() == nullptr && !window->lockActive) << "the console is no image";
    window->documentArea()->setActiveSubWindow(nullptr);
    for (QAction *action : {window->saveAsAct, window->colorGainAct, window->neutralizeAct, window->flattenAct,
                            window->normalizeAct, window->cropAct, window->fillBlackAct})
        EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    EXPECT_TRUE(window->combineAct->isEnabled());
    mdiImage *first = imageWindow(*window, "first");
    mdiImage *second = imageWindow(*window, "second");
    EXPECT_EQ(window->viewTarget, second);
    EXPECT_TRUE(window->saveAsAct->isEnabled() && window->cropAct->isEnabled());
    window->documentArea()->setActiveSubWindow(frameOf(imageWindow(*window, "Preview", true)));
    EXPECT_EQ(window->viewTarget, second) << "a preview never becomes the current image";
    {
        const ImageLock lock = window->lockImage();
        EXPECT_TRUE(lock.get() == second && window->lockActive);
        // While locked, activating another window does not change the operation's image.
        window->documentArea()->setActiveSubWindow(frameOf(first));
        EXPECT_EQ(window->currentImageWindow(), second);
    }
    EXPECT_FALSE(window->lockActive) << "the lock ends with its scope";
    EXPECT_EQ(window->lockImage().get(), first);
    // Closing the current image hands the role on and leaves no dangling pointer.
    window->viewTarget = first;
    first->parentWidget()->close();
    ASSERT_TRUE(waitUntil([&] { return window->viewTarget != first; }));
}

TEST_F(MainWindowTest, ABusyWindowRefusesASecondRunAndAbortReachesTheWorker)
{
    auto *abortButton = window->findChild<QPushButton *>("pbAbort");
    window->evAbort();
    EXPECT_EQ(lastLine(), "Aborting current process, please wait...") << "with nothing running it only says so";
    EXPECT_TRUE(window->abortRequested.load() && !window->calculationRunning) << "pending for the next loop";
    window->abortRequested = false;
    std::atomic<bool> workerFlag{false};
    ASSERT_TRUE(window->startRun("Cannot run calibration: A calculation is already running.", &workerFlag));
    EXPECT_TRUE(window->calculationRunning && window->abortable && abortButton->isVisible());
    EXPECT_FALSE(window->startRun("Cannot stack, another process is already running."));
    EXPECT_TRUE(lastLine() == "Cannot stack, another process is already running." && status() == lastLine());
    abortButton->click();
    EXPECT_TRUE(workerFlag.load() && window->abortRequested.load() && !window->abortable);
    EXPECT_TRUE(lastLine() == "Aborting current process, please wait..." && status() == "Aborting...");
    EXPECT_TRUE(window->console()->teOutput->toHtml().contains("#ffff00")) << "in yellow";
    window->finishRun("Calibration aborted.");
    EXPECT_FALSE(window->calculationRunning || abortButton->isVisible());
    EXPECT_EQ(status(), "Calibration aborted.");
}

TEST_F(MainWindowTest, AnErrorShowsInTheStatusBarAndRaisesTheConsoleWithoutActivatingIt)
{
    QMdiArea *area = window->documentArea();
    QMdiSubWindow *console = frameOf(window->console());
    mdiImage *image = imageWindow(*window, "cover.fits");
    frameOf(image)->setGeometry(console->geometry());
    area->setActiveSubWindow(frameOf(image));
    ASSERT_EQ(area->subWindowList(QMdiArea::StackingOrder).last(), frameOf(image));
    window->console()->logMessage("<font color=\"#ff6666\">Cannot open x.cr2: the file does not exist.</font>");
    EXPECT_EQ(area->subWindowList(QMdiArea::StackingOrder).last(), console);
    EXPECT_TRUE(area->activeSubWindow() == frameOf(image) && window->currentImageWindow() == image)
        << "the image stays the current one";
    EXPECT_EQ(status(), "Error: Cannot open x.cr2: the file does not exist.");
    window->console()->setStatusText("Ready.");
    EXPECT_NE(status(), "Ready.");
}

TEST_F(MainWindowTest, ReadoutFitsItsLabelsAndClearsWhenThePointerLeavesTheImage)
{
    const std::pair<double, const char *> cases[] = {
        {0.0, "0"}, {1234.567, "1235"}, {0.0012345, "0.001234"}, {1.5e-5, "1.5e-5"},
        {-1.23456e-7, "-1.235e-7"}, {-1.23456e-20, "-1.23e-20"}, {std::nan(""), "NaN"}};
    auto *red = window->findChild<QLabel *>("lblRed");
    for (const auto &[value, text] : cases) {
        EXPECT_EQ(readoutText(value), QLatin1String(text)) << value;
        window->evReturnedColor(FloatRGB{static_cast<float>(value), 0.0f, 0.0f, 1.0f});
        EXPECT_LE(red->fontMetrics().horizontalAdvance(red->text()), red->contentsRect().width()) << text;
    }
    auto *position = window->findChild<QLabel *>("lblPosition");
    window->evReturnedColor(FloatRGB{0.5f, 0.25f, 0.125f, 1.0f});
    window->evPointerMoved(12, 34, true);
    EXPECT_EQ(position->text() + " " + window->findChild<QLabel *>("lblBlue")->text(), "12, 34 0.125");
    window->evPointerMoved(-1, 34, false);
    EXPECT_TRUE(position->text().isEmpty() && red->text().isEmpty()) << "outside the image";
}

// Once agreed to, the box never returns: every MainWindowTest starts so, and its modal box would block it.
TEST(Welcome, DecliningEndsTheProgramAndAgreeingIsRemembered)
{
    QFile::remove(QString::fromLatin1(settingsfile::kFileName));
    for (const bool agree : {false, true}) {
        Verdanix window;
        window.show();
        QObject::connect(window.preferencesAct, &QAction::triggered, [] { QCoreApplication::exit(7); });
        clickInMessageBoxWhenShown("welcomeBox", agree ? "Yes" : "No");
        clickInMessageBoxWhenShown("firstRunBox", "OK");
        // A guard ends the event loop after 5 s; it dies with the window, before later tests run.
        QTimer::singleShot(5000, &window, [] { QCoreApplication::exit(99); });
        EXPECT_EQ(QApplication::exec(), agree ? 7 : 0) << "agreeing ends by opening the preferences";
        EXPECT_NE(settingsfile::firstRun(), agree);
        EXPECT_EQ(QFile::exists(QString::fromLatin1(settingsfile::kFileName)), agree);
        EXPECT_EQ(consoleLines(window).contains("Congrats to your new application!"), agree);
    }
}

TEST_F(MainWindowTest, WindowMenuListsConsoleAndImagesByTitleAndCounterCheckingTheActiveOne)
{
    open("M42.fits");
    mdiImage *second = open("M42.fits");
    mdiImage *derived = open("M42.fits", 4, 4, 1);
    window->documentArea()->setActiveSubWindow(frameOf(second));
    window->updateWindowMenu();
    EXPECT_EQ(
        actionTexts(window->windowMenu->actions()),
        list("Cascade;Tile;Close Window;|;Messages;View Correction;|;&1 M42.fits;&2 M42.fits [2];&3 M42.fits (1)"));
    EXPECT_EQ(actionTexts(window->windowMenu->actions(), true), list("View Correction;&2 M42.fits [2]"));
    window->windowMenu->actions().last()->trigger();
    EXPECT_EQ(window->currentImageWindow(), derived);
    window->showCombineWnd();
    QComboBox *offered = window->findChild<wndCombineImg *>()->cbImageA;
    EXPECT_EQ(offered->itemText(1) + ";" + offered->itemText(2), "M42.fits [2];M42.fits (1)");
}

TEST_F(MainWindowTest, WindowsFitImageTitleAndAreaShowTheirZoomAndTheMainWindowStaysOnTheScreen)
{
    const std::tuple<QSize, int, QSize> cases[] = {
        {{120, 80}, 300, {300, 110}},     // wide enough for the title
        {{640, 480}, 300, {650, 510}},    // the image at 100 %
        {{4000, 3000}, 300, {1000, 700}}, // never beyond the document area
        {{500, 1}, 100, {510, 94}},       // a one-row image can still be grabbed
    };
    for (const auto &[image, titleWidth, expected] : cases)
        EXPECT_EQ(imageWindowSize(image, QSize(10, 30), titleWidth, QSize(1000, 700)), expected) << image.width();
    const QRect screen(0, 0, 1280, 800);
    EXPECT_EQ(keptWithin(QRect(900, 500, 600, 400), QSize(300, 200), screen), QRect(680, 400, 600, 400));
    EXPECT_EQ(keptWithin(QRect(0, 0, 1400, 900), QSize(300, 200), screen), screen);
    QMdiSubWindow *small = frameOf(open("a-rather-long-name-of-a-light-frame.fits", 120, 80, 2));
    EXPECT_GT(small->width(), small->fontMetrics().horizontalAdvance(small->windowTitle()));
    auto *zoom = window->findChild<QLabel *>("lblZoom");
    window->zoomOutAct->trigger();
    EXPECT_EQ(zoom->text(), "50 %");
    window->zoomActualAct->trigger();
    EXPECT_EQ(zoom->text(), "100 %");
}

TEST_F(MainWindowTest, EveryDockFitsA1280By800ScreenWithTheStatusBarAndEveryButtonVisible)
{
    window->workAreaOverride = QRect(0, 0, 1280, 800);
    EXPECT_EQ(window->size(), QSize(770, 578)) << "the designed size on the first start";
    open("flat.fits", 64, 48);
    window->evCalibrate();
    window->createMasterFrame();
    window->flattenBg();
    window->flattenBg();
    EXPECT_EQ(window->findChildren<flattenbgwnd *>().size(), 1) << "the open panel is shown again";
    QCoreApplication::processEvents();
    const QRect inWindow = window->rect();
    EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(window->frameGeometry()) && window->statusBar()->isVisible()
                && inWindow.contains(window->statusBar()->geometry()));
    const QList<QDockWidget *> docks = window->findChildren<QDockWidget *>();
    ASSERT_EQ(docks.size(), 4);
    for (QDockWidget *dock : docks) {
        dock->raise();
        QCoreApplication::processEvents();
        for (QPushButton *button : dock->findChildren<QPushButton *>()) {
            const QRect place(button->mapTo(window.get(), QPoint(0, 0)), button->size());
            EXPECT_TRUE(!button->isVisibleTo(dock->widget()) || (button->isVisible() && inWindow.contains(place)))
                << dock->windowTitle().toStdString() << " " << button->text().toStdString();
        }
    }
}

TEST_F(MainWindowTest, GeometryDocksAndTheAutoStretchBoxAreRememberedFromOneRunToTheNext)
{
    window->resize(700, 500);
    window->addDockWidget(Qt::LeftDockWidgetArea, window->findChild<QDockWidget *>("vcDock"));
    for (bool autoStretch : {true, false}) {
        window->viewCorrectionPanel()->cbAuto->setChecked(autoStretch);
        ASSERT_TRUE(window->close());
        window = std::make_unique<Verdanix>();
        window->show();
        EXPECT_EQ(window->viewCorrectionPanel()->cbAuto->isChecked(), autoStretch);
    }
    EXPECT_EQ(window->size(), QSize(700, 500));
    EXPECT_EQ(window->dockWidgetArea(window->findChild<QDockWidget *>("vcDock")), Qt::LeftDockWidgetArea);
}

TEST_F(MainWindowTest, QuittingAsksOnlyAboutUnsavedResultsAndCancelKeepsTheProgram)
{
    open("loaded.fits")->unsavedResult = false; // as a window opened from a file
    ASSERT_TRUE(window->close()) << "unchanged files do not count";
    window = startMainWindow();
    open("result.fits");
    clickInMessageBoxWhenShown("unsavedBox", "Cancel");
    EXPECT_TRUE(!window->close() && window->isVisible());
    QDir().mkpath("saved");
    filedialogs::askSaveFileName = [](QWidget *, const QString &, const QString &, const QString &, const QString &) {
        return QDir::current().filePath("saved/result.fits");
    };
    clickInMessageBoxWhenShown("unsavedBox", "Save All");
    EXPECT_TRUE(window->close() && QFile::exists("saved/result.fits"));
    window = startMainWindow();
    open("dropped.fits");
    clickInMessageBoxWhenShown("unsavedBox", "Discard");
    EXPECT_TRUE(window->close());
}

TEST_F(MainWindowTest, StatisticsFollowTheActiveWindowAndItsSelection)
{
    mdiImage *ramp = open(greyImage(4, 1, [](int x, int) { return x + 1.0f; }), "ramp.fits");
    window->statisticsAct->trigger();
    auto *statistics = window->findChild<wndImageStats *>();
    ASSERT_TRUE(statistics && statistics->isVisible());
    const auto column = [&] { return tableColumn(*statistics->table, 0); };
    EXPECT_EQ(column(), list("1;4;2.5;2.5;1.11803;2.5"));
    EXPECT_TRUE(statistics->lblSource->text().startsWith("ramp.fits, whole image"));
    ramp->selection = SelectionRect{1, 0, 2, 1, 1};
    emit ramp->selectionChanged();
    EXPECT_EQ(column().mid(0, 2), list("2;3")) << "the selection only";
    open("empty.fits", 2, 2);
    EXPECT_EQ(column().first(), "0") << "the newly active image";
}
