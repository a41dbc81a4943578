#include "verdanix.h"

#include "console/logfilehandler.h"
#include "console/outputwindow.h"
#include "darkpalette.h"
#include "platform/machine.h"
#include "platform/settingsfile.h"
#include "version.h"
#include "view/mdiimage.h"
#include "view/wndviewcorrection.h"

#include <QApplication>
#include <QDebug>
#include <QDockWidget>
#include <QEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleFactory>
#include <QTimer>
#include <QToolBar>

namespace {
constexpr int kWelcomeDelayMs = 50;
}

// The icons live in a static library, whose resource registration the linker would drop.
static void initResources()
{
    Q_INIT_RESOURCE(verdanix);
}

Verdanix::Verdanix(QWidget *parent) : QMainWindow(parent)
{
    initResources();
    qRegisterMetaType<FloatRGB>("FloatRGB");
    qDebug() << QStyleFactory::keys().join(QLatin1Char(' '));

    setObjectName(QStringLiteral("VerdanixClass"));
    resize(770, 578);
    setWindowTitle(QStringLiteral("Verdanix"));
    setMenuBar(new QMenuBar(this));
    menuBar()->setObjectName(QStringLiteral("menuBar"));
    mainToolBar = new QToolBar(this);
    mainToolBar->setObjectName(QStringLiteral("mainToolBar"));
    mainToolBar->setIconSize(QSize(16, 16));
    addToolBar(Qt::TopToolBarArea, mainToolBar);
    setStatusBar(new QStatusBar(this));
    statusBar()->setObjectName(QStringLiteral("statusBar"));

    qInstallMessageHandler(logFileHandler);

    mdiArea = new QMdiArea(this);
    mdiArea->setBackground(QBrush(QColor(32, 32, 32), Qt::SolidPattern));
    setCentralWidget(mdiArea);

    outputWindow = new OutputWindow;
    installMessageLog(outputWindow);
    QMdiSubWindow *consoleWindow = mdiArea->addSubWindow(outputWindow);
    consoleWindow->resize(472, 336);
    outputWindow->setWindowTitle(QStringLiteral("Messages"));
    outputWindow->show();

    outputWindow->logMessage(QStringLiteral("Starting..."));
    outputWindow->logMessage(QStringLiteral("Creating menus and actions..."));
    createActions();
    createMenus();

    outputWindow->logMessage(QStringLiteral("Setting application skin..."));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    vcWindow = new wndViewCorrection(this);
    vcWindow->setWindowFlags(Qt::Tool);
    connect(vcWindow, SIGNAL(vcUpdate()), this, SLOT(updateVC()));
    connect(outputWindow, SIGNAL(textEntered(QString)), this, SLOT(parseInput(QString)));
    vcWindow->show();
    lockActive = false;
    viewTarget = nullptr;
    setDockNestingEnabled(true);

    createStatusBar();
    QApplication::setPalette(darkPalette());

    vcDock = new QDockWidget(QStringLiteral("View Correction"), this);
    vcDock->setObjectName(QStringLiteral("vcDock"));
    vcDock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    vcDock->setWidget(vcWindow);
    addDockWidget(Qt::RightDockWidgetArea, vcDock);

    outputWindow->setStatusWidgets(statusLabel, progressBar);

    outputWindow->logMessage(QStringLiteral("Application ready"));
    outputWindow->logMessage(QStringLiteral("VERSION: ") + QString::fromLatin1(verdanix::kVersion));
    outputWindow->logMessage(QStringLiteral("BUILD: ") + QString::number(verdanix::kBuild));
    logStartupFigures();

    lockedWindow = nullptr;
    abortRequested = false;
    abortable = false;
    calculationRunning = false;

    connect(mdiArea, SIGNAL(subWindowActivated(QMdiSubWindow *)), this, SLOT(updateMenus()));

    if (settingsfile::firstRun())
        QTimer::singleShot(kWelcomeDelayMs, this, SLOT(showWelcome()));
}

Verdanix::~Verdanix()
{
    // Core code must not reach the console once it is gone.
    installMessageLog(nullptr);
}

void Verdanix::logStartupFigures()
{
    const MachineMemory memory = queryPhysicalMemory();
    outputWindow->logMessage(QStringLiteral("Available CPU cores/threads: ") + QString::number(hardwareThreads()));
    outputWindow->logMessage(QStringLiteral("Total physical memory: ")
                             + QString::number(bytesToMegabytes(memory.totalBytes)) + QStringLiteral(" MB"));
    outputWindow->logMessage(QStringLiteral("Available physical memory: ")
                             + QString::number(bytesToMegabytes(memory.availableBytes)) + QStringLiteral(" MB"));
}

void Verdanix::createStatusBar()
{
    abortButton = new QPushButton(QStringLiteral("Abort"), this);
    abortButton->setObjectName(QStringLiteral("pbAbort"));
    abortButton->hide();
    connect(abortButton, SIGNAL(clicked()), this, SLOT(evAbort()));
    statusBar()->addWidget(abortButton);

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    progressBar->setFixedSize(100, 16);
    statusBar()->addWidget(progressBar);

    statusLabel = new QLabel(QStringLiteral("Ready."), this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setMinimumWidth(200);
    statusLabel->setMaximumWidth(400);
    statusLabel->setFrameShape(QFrame::StyledPanel);
    statusBar()->addWidget(statusLabel);

    const char *const styles[3] = {
        "QLabel { background-color: #aa3333; }",
        "QLabel { background-color: #33aa33; }",
        "QLabel { background-color: #3333aa; }",
    };
    QLabel **labels[3] = {&redLabel, &greenLabel, &blueLabel};
    const char *const names[3] = {"lblRed", "lblGreen", "lblBlue"};
    for (int c = 0; c < 3; ++c) {
        auto *label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(names[c]));
        label->setFixedWidth(64);
        label->setFrameShape(QFrame::StyledPanel);
        label->setStyleSheet(QString::fromLatin1(styles[c]));
        statusBar()->addWidget(label);
        *labels[c] = label;
    }
}

void Verdanix::addImageWindow(mdiImage *window)
{
    mdiArea->addSubWindow(window);
    window->log = outputWindow;
    window->show();
    connect(window, SIGNAL(returnColor(FloatRGB)), this, SLOT(evReturnedColor(FloatRGB)));
    connect(window, SIGNAL(gotFocus(QWidget *)), this, SLOT(evGotFocus(QWidget *)));
    connect(window, SIGNAL(destroyed(QObject *)), this, SLOT(evClosedImg(QObject *)));
    window->installEventFilter(this);
    if (!window->isPreview)
        viewTarget = window;
}

mdiImage *Verdanix::currentImageWindow() const
{
    if (lockActive)
        return lockedWindow;
    QMdiSubWindow *active = mdiArea->activeSubWindow();
    return active ? qobject_cast<mdiImage *>(active->widget()) : nullptr;
}

mdiImage *Verdanix::lockImage()
{
    mdiImage *candidate = currentImageWindow();
    if (candidate && candidate->isPreview)
        candidate = viewTarget;
    lockedWindow = candidate;
    lockActive = candidate != nullptr;
    return candidate;
}

void Verdanix::releaseImage()
{
    lockActive = false;
    lockedWindow = nullptr;
}

bool Verdanix::startRun(const QString &refusal, std::atomic<bool> *runAbortFlag)
{
    if (calculationRunning) {
        outputWindow->logMessage(refusal);
        return false;
    }
    calculationRunning = true;
    abortButton->show();
    workerAbortFlag = runAbortFlag;
    abortable = runAbortFlag != nullptr;
    return true;
}

void Verdanix::finishRun(const QString &statusText)
{
    calculationRunning = false;
    abortable = false;
    workerAbortFlag = nullptr;
    abortButton->hide();
    progressBar->setValue(0);
    statusLabel->setText(statusText);
}

void Verdanix::evAbort()
{
    outputWindow->logMessage(QStringLiteral("<font color=\"#ffff00\">Aborting current process, please wait...</font>"));
    abortRequested = true;
    if (abortable && workerAbortFlag)
        *workerAbortFlag = true;
    abortable = false;
    outputWindow->setStatusText(QStringLiteral("Aborting..."));
}

void Verdanix::evReturnedColor(FloatRGB value)
{
    redLabel->setText(QString::number(static_cast<double>(value.r), 'g', 6));
    greenLabel->setText(QString::number(static_cast<double>(value.g), 'g', 6));
    blueLabel->setText(QString::number(static_cast<double>(value.b), 'g', 6));
}

void Verdanix::evClosedImg(QObject *)
{
    viewTarget = currentImageWindow();
}

void Verdanix::evGotFocus(QWidget *)
{
}

bool Verdanix::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        auto *window = qobject_cast<mdiImage *>(watched);
        if (window && !window->isPreview)
            viewTarget = window;
    }
    return QMainWindow::eventFilter(watched, event);
}
