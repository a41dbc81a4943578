// The main window's actions, menus and toolbar, and keeping them in step with the
// current image.
#include "verdanix.h"

#include "console/outputwindow.h"
#include "displaytexts.h"
#include "process/wndimagestats.h"
#include "view/mdiimage.h"

#include <QAction>
#include <QDockWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QToolBar>

QAction *Verdanix::makeAction(const QString &text, const char *icon, const char *slot)
{
    auto *action = icon ? new QAction(QIcon(QString::fromLatin1(icon)), text, this) : new QAction(text, this);
    if (slot)
        connect(action, SIGNAL(triggered()), this, slot);
    return action;
}

void Verdanix::createActions()
{
    openAct = makeAction(QStringLiteral("Open File..."), ":/Verdanix/openFolder", SLOT(loadImage()));
    saveAsAct = makeAction(QStringLiteral("Save As..."), ":/Verdanix/saveAs", SLOT(saveImage()));
    preferencesAct = makeAction(QStringLiteral("&Preferences..."), ":/Verdanix/settings", SLOT(evShowPreferences()));
    exitAct = makeAction(QStringLiteral("Exit"), nullptr, SLOT(close()));
    calibrateAct = makeAction(QStringLiteral("Calibrate light frames..."), ":/Verdanix/calibrate", SLOT(evCalibrate()));
    colorGainAct = makeAction(QStringLiteral("Color Gain..."), nullptr, SLOT(setGain()));
    neutralizeAct = makeAction(QStringLiteral("Neutralize Background"), ":/Verdanix/neutralize", SLOT(neutralizeBackground()));
    flattenAct = makeAction(QStringLiteral("Flatten background..."), ":/Verdanix/flatten", SLOT(flattenBg()));
    normalizeAct = makeAction(QStringLiteral("Normalize color values"), nullptr, SLOT(normalize()));
    masterFrameAct = makeAction(QStringLiteral("Create Master frame..."), ":/Verdanix/master", SLOT(createMasterFrame()));
    registrationAct = makeAction(QStringLiteral("Registration and Integration..."), ":/Verdanix/stackFrames", SLOT(evShowRegistration()));
    combineAct = makeAction(QStringLiteral("Combine images..."), ":/Verdanix/combine", SLOT(showCombineWnd()));
    cropAct = makeAction(QStringLiteral("&Crop"), ":/Verdanix/crop", SLOT(cropImg()));
    aboutAct = makeAction(QStringLiteral("About"), nullptr, SLOT(evAbout()));
    fillBlackAct = makeAction(QStringLiteral("Fill black"), nullptr, SLOT(fillBlack()));
    fillBlackAct->setEnabled(false);
    averageBrightnessAct = makeAction(QStringLiteral("Get Average Brightness"), nullptr, SLOT(mediumBright()));
    averageColorAct = makeAction(QStringLiteral("Get Average Color"), nullptr, SLOT(avgColor()));
    cutAboveAct = makeAction(QStringLiteral("Cut above average color"), nullptr, SLOT(cutAbove()));
    backgroundColorAct = makeAction(QStringLiteral("Get Background color"), nullptr, SLOT(getBackgroundColor()));
    removeBackgroundAct = makeAction(QStringLiteral("Remove Background"), nullptr, SLOT(removeBackground()));
    testBufferAct = makeAction(QStringLiteral("Test buffer"), nullptr, SLOT(testBuffer()));
    standardDeviationAct = makeAction(QStringLiteral("Get Standard Deviation (Sigma)"), nullptr, SLOT(getStdDev()));
    testPreviewAct = makeAction(QStringLiteral("Test preview"), nullptr, SLOT(testPreview()));
    starSearchAct = makeAction(QStringLiteral("Image Registration and Stacking..."), nullptr, SLOT(findStars()));

    // The shortcuts users of desktop programs expect; the menus show them.
    openAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    saveAsAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    exitAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    const auto onImage = [this](void (mdiImage::*zoom)()) {
        return [this, zoom] {
            if (mdiImage *window = currentImageWindow())
                (window->*zoom)();
        };
    };
    zoomInAct = new QAction(QStringLiteral("Zoom In"), this);
    zoomInAct->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    connect(zoomInAct, &QAction::triggered, this, onImage(&mdiImage::zoomIn));
    zoomOutAct = new QAction(QStringLiteral("Zoom Out"), this);
    zoomOutAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    connect(zoomOutAct, &QAction::triggered, this, onImage(&mdiImage::zoomOut));
    zoomActualAct = new QAction(QStringLiteral("100 %"), this);
    zoomActualAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    connect(zoomActualAct, &QAction::triggered, this, onImage(&mdiImage::zoomActualSize));
    zoomFitAct = new QAction(QStringLiteral("Fit to Window"), this);
    zoomFitAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    connect(zoomFitAct, &QAction::triggered, this, onImage(&mdiImage::zoomToFit));

    cascadeAct = new QAction(QStringLiteral("Cascade"), this);
    connect(cascadeAct, &QAction::triggered, mdiArea, &QMdiArea::cascadeSubWindows);
    tileAct = new QAction(QStringLiteral("Tile"), this);
    connect(tileAct, &QAction::triggered, mdiArea, &QMdiArea::tileSubWindows);
    statisticsAct = makeAction(QStringLiteral("Image Statistics..."), nullptr, SLOT(showImageStatistics()));
    closeWindowAct = new QAction(QStringLiteral("Close Window"), this);
    closeWindowAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(closeWindowAct, &QAction::triggered, mdiArea, &QMdiArea::closeActiveSubWindow);
}

void Verdanix::createMenus()
{
    fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu->addAction(openAct);
    fileMenu->addAction(saveAsAct);
    fileMenu->addSeparator();
    fileMenu->addAction(preferencesAct);
    fileMenu->addSeparator();
    fileMenu->addAction(exitAct);

    manipulateMenu = menuBar()->addMenu(QStringLiteral("&Manipulate"));
    combineMenu = menuBar()->addMenu(QStringLiteral("&Combine"));
    combineMenu->addAction(masterFrameAct);
    combineMenu->addAction(registrationAct);
    combineMenu->addAction(combineAct);
    transformMenu = menuBar()->addMenu(QStringLiteral("&Transform"));
    imageMenu = menuBar()->addMenu(QStringLiteral("&Image"));
    imageMenu->addAction(zoomInAct);
    imageMenu->addAction(zoomOutAct);
    imageMenu->addAction(zoomActualAct);
    imageMenu->addAction(zoomFitAct);
    imageMenu->addSeparator();
    imageMenu->addAction(statisticsAct);
    helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->addAction(aboutAct);
    updateMenus();
    // Before the document area first activates a window nothing is settled: all enabled.
    for (QAction *action : {saveAsAct, colorGainAct, neutralizeAct, flattenAct, normalizeAct, cropAct})
        action->setEnabled(true);

    mainToolBar->addAction(openAct);
    mainToolBar->addAction(saveAsAct);
    mainToolBar->addSeparator();
    mainToolBar->addAction(masterFrameAct);
    mainToolBar->addAction(registrationAct);
    mainToolBar->addAction(combineAct);
    mainToolBar->addSeparator();
    mainToolBar->addAction(calibrateAct);
    mainToolBar->addAction(flattenAct);
    mainToolBar->addAction(neutralizeAct);
    mainToolBar->addSeparator();
    mainToolBar->addAction(cropAct);
}

void Verdanix::updateMenus()
{
    const bool hasImage = currentImageWindow() != nullptr;
    for (QAction *action : {saveAsAct, colorGainAct, neutralizeAct, flattenAct, normalizeAct, cropAct})
        action->setEnabled(hasImage);
    combineAct->setEnabled(true);
    for (QAction *action : {zoomInAct, zoomOutAct, zoomActualAct, zoomFitAct})
        action->setEnabled(hasImage);
    if (zoomLabel)
        updateZoomLabel();
    updateImageStatistics();

    manipulateMenu->clear();
    manipulateMenu->addAction(calibrateAct);
    manipulateMenu->addAction(colorGainAct);
    manipulateMenu->addAction(neutralizeAct);
    manipulateMenu->addAction(flattenAct);
    manipulateMenu->addAction(normalizeAct);
    transformMenu->clear();
    transformMenu->addAction(cropAct);
}

void Verdanix::createWindowMenu()
{
    windowMenu = new QMenu(QStringLiteral("&Window"), this);
    menuBar()->insertMenu(helpMenu->menuAction(), windowMenu);
    connect(windowMenu, &QMenu::aboutToShow, this, &Verdanix::updateWindowMenu);
    updateWindowMenu();
}

void Verdanix::updateWindowMenu()
{
    windowMenu->clear();
    windowMenu->addAction(cascadeAct);
    windowMenu->addAction(tileAct);
    windowMenu->addAction(closeWindowAct);
    windowMenu->addSeparator();
    QMdiSubWindow *active = mdiArea->activeSubWindow();
    const auto addEntry = [this, active](const QString &text, QMdiSubWindow *sub) {
        QAction *entry = windowMenu->addAction(text);
        entry->setCheckable(true);
        entry->setChecked(sub == active);
        connect(entry, &QAction::triggered, this, [this, sub = QPointer<QMdiSubWindow>(sub)] {
            if (!sub)
                return;
            if (sub->isMinimized())
                sub->showNormal();
            mdiArea->setActiveSubWindow(sub);
        });
    };
    addEntry(consoleWindow->windowTitle(), consoleWindow);
    // The panel's dock can be closed; this brings it back.
    windowMenu->addAction(vcDock->toggleViewAction());

    const QList<mdiImage *> windows = imageWindows();
    if (windows.isEmpty())
        return;
    windowMenu->addSeparator();
    QStringList titles;
    for (mdiImage *window : windows)
        titles << window->windowTitle();
    const QStringList labels = windowListLabels(titles);
    for (int i = 0; i < windows.size(); ++i) {
        // The first nine get a digit to reach them by keyboard.
        const QString label = QString(labels[i]).replace(QLatin1Char('&'), QStringLiteral("&&"));
        const QString text = i < 9 ? QStringLiteral("&%1 %2").arg(i + 1).arg(label) : label;
        addEntry(text, qobject_cast<QMdiSubWindow *>(windows[i]->parentWidget()));
    }
}

void Verdanix::showImageStatistics()
{
    if (!statisticsWindow) {
        statisticsWindow = new wndImageStats(this);
        statisticsWindow->setWindowFlags(statisticsWindow->windowFlags() | Qt::Tool);
        statisticsWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    statisticsWindow->show();
    statisticsWindow->raise();
    updateImageStatistics();
}

void Verdanix::updateImageStatistics()
{
    if (!statisticsWindow || !statisticsWindow->isVisible())
        return;
    mdiImage *window = currentImageWindow();
    // With the console or a preview active, the statistics stay with the current image.
    if (!window || window->isPreview)
        window = viewTarget;
    if (!window || !window->buffer) {
        statisticsWindow->showStatistics(QString(), nullptr, SelectionRect{});
        return;
    }
    statisticsWindow->showStatistics(windowLabel(window), window->buffer.get(), window->selection);
}
