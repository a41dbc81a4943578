// The main window's actions, menus and toolbar, and keeping them in step with the
// current image.
#include "verdanix.h"

#include "view/mdiimage.h"

#include <QAction>
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

    manipulateMenu->clear();
    manipulateMenu->addAction(calibrateAct);
    manipulateMenu->addAction(colorGainAct);
    manipulateMenu->addAction(neutralizeAct);
    manipulateMenu->addAction(flattenAct);
    manipulateMenu->addAction(normalizeAct);
    transformMenu->clear();
    transformMenu->addAction(cropAct);
}
