#include "verdanix.h"

#include "console/logfilehandler.h"
#include "console/outputwindow.h"
#include "calib/resourcelimits.h"
#include "darkpalette.h"
#include "displaytexts.h"
#include "image/imageloader.h"
#include "platform/machine.h"
#include "platform/settingsfile.h"
#include "version.h"
#include "view/mdiimage.h"
#include "view/wndviewcorrection.h"
#include "windowlayout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QDockWidget>
#include <QEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <QToolBar>

namespace {
constexpr int kWelcomeDelayMs = 50;
// The read-out labels' font shrinks to fit their values, but not below this.
constexpr double kSmallestReadoutPt = 6.0;
}

// The icons live in a static library, whose resource registration the linker would drop.
static void initResources()
{
    Q_INIT_RESOURCE(verdanix);
}

Verdanix::Verdanix(QWidget *parent) : QMainWindow(parent)
{
    initResources();
    // Every window, the image windows and the console included, shows the program's icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Verdanix/verdanix")));
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
    consoleWindow = mdiArea->addSubWindow(outputWindow);
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
    createWindowMenu();

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
    restoreWindowLayout();

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
    // The read-out's values must fit the designed 64-pixel labels: the font gives way, not
    // the labels; the position and the zoom use the same font.
    constexpr int kReadoutWidth = 64;
    QFont readoutFont = statusLabel->font();
    const int room = kReadoutWidth - 2 * statusLabel->frameWidth() - 2;
    while (QFontMetrics(readoutFont).horizontalAdvance(widestReadoutText()) > room
           && readoutFont.pointSizeF() > kSmallestReadoutPt)
        readoutFont.setPointSizeF(readoutFont.pointSizeF() - 0.5);
    const QFontMetrics readoutMetrics(readoutFont);
    const auto readoutLabel = [this, &readoutFont](const char *name, const QString &toolTip) {
        auto *label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(name));
        label->setFrameShape(QFrame::StyledPanel);
        label->setFont(readoutFont);
        label->setToolTip(toolTip);
        return label;
    };

    positionLabel = readoutLabel("lblPosition", QStringLiteral("Pixel under the pointer (x, y)"));
    positionLabel->setAlignment(Qt::AlignCenter);
    positionLabel->setFixedWidth(readoutMetrics.horizontalAdvance(QStringLiteral("00000, 00000")) + 8);
    statusBar()->addWidget(positionLabel);

    QLabel **labels[3] = {&redLabel, &greenLabel, &blueLabel};
    const char *const names[3] = {"lblRed", "lblGreen", "lblBlue"};
    for (int c = 0; c < 3; ++c) {
        QLabel *label = readoutLabel(names[c], QString());
        label->setFixedWidth(kReadoutWidth);
        label->setStyleSheet(QString::fromLatin1(styles[c]));
        statusBar()->addWidget(label);
        *labels[c] = label;
    }

    zoomLabel = readoutLabel("lblZoom", QStringLiteral("Zoom of the current image window"));
    zoomLabel->setAlignment(Qt::AlignCenter);
    zoomLabel->setFixedWidth(readoutMetrics.horizontalAdvance(zoomText(0.03125)) + 8);
    statusBar()->addWidget(zoomLabel);
}

void Verdanix::addImageWindow(mdiImage *window)
{
    QMdiSubWindow *frame = mdiArea->addSubWindow(window);
    if (window->buffer) {
        // The image at 100 %, within the document area, wide enough for its whole title.
        const QStyle *style = frame->style();
        const int titleBar = style->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, frame);
        const int border = style->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, frame);
        const int viewFrame = 2 * window->frameWidth();
        const QSize extra(2 * border + viewFrame, titleBar + border + viewFrame);
        const int titleWidth =
            frame->fontMetrics().horizontalAdvance(window->windowTitle()) + 4 * titleBar + 2 * border;
        frame->resize(imageWindowSize(QSize(window->buffer->width, window->buffer->height), extra, titleWidth,
                                      mdiArea->viewport()->size()));
    }
    window->log = outputWindow;
    stretchNewWindow(window);
    window->show();
    connect(window, SIGNAL(returnColor(FloatRGB)), this, SLOT(evReturnedColor(FloatRGB)));
    connect(window, SIGNAL(pointerMoved(int, int, bool)), this, SLOT(evPointerMoved(int, int, bool)));
    connect(window, SIGNAL(pointerLeft()), this, SLOT(evPointerLeft()));
    connect(window, SIGNAL(zoomChanged(double)), this, SLOT(evZoomChanged(double)));
    connect(window, &mdiImage::selectionChanged, this, [this] { updateImageStatistics(); });
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

ImageLock Verdanix::lockImage()
{
    mdiImage *candidate = currentImageWindow();
    if (candidate && candidate->isPreview)
        candidate = viewTarget;
    return lockWindow(candidate);
}

ImageLock Verdanix::lockWindow(mdiImage *window)
{
    lockedWindow = window;
    lockActive = window != nullptr;
    return window ? ImageLock(this, window) : ImageLock();
}

ImageLock::~ImageLock()
{
    if (owner)
        owner->releaseImage();
}

void Verdanix::releaseImage()
{
    lockActive = false;
    lockedWindow = nullptr;
}

bool Verdanix::startRun(const QString &refusal, std::atomic<bool> *runAbortFlag)
{
    if (calculationRunning) {
        refuse(refusal);
        return false;
    }
    calculationRunning = true;
    // Every frame the run loads, masters included, follows the preference as saved now.
    setDefaultLoadOptions(LoadOptions{readRunPreferences().debayerFits});
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
    // Through the console, so that a failure's reason is not replaced at once.
    outputWindow->setStatusText(statusText);
}

void Verdanix::refuse(const QString &line)
{
    outputWindow->logMessage(line);
    outputWindow->setStatusText(line);
}

void Verdanix::evAbort()
{
    outputWindow->logMessage(QStringLiteral("Aborting current process, please wait..."), Severity::Notice);
    abortRequested = true;
    if (abortable && workerAbortFlag)
        *workerAbortFlag = true;
    abortable = false;
    outputWindow->setStatusText(QStringLiteral("Aborting..."));
}

void Verdanix::evReturnedColor(FloatRGB value)
{
    redLabel->setText(readoutText(value.r));
    greenLabel->setText(readoutText(value.g));
    blueLabel->setText(readoutText(value.b));
}

void Verdanix::evPointerMoved(int x, int y, bool insideImage)
{
    if (!insideImage) {
        clearReadout();
        return;
    }
    positionLabel->setText(QStringLiteral("%1, %2").arg(x).arg(y));
}

void Verdanix::evPointerLeft()
{
    clearReadout();
}

void Verdanix::clearReadout()
{
    for (QLabel *label : {positionLabel, redLabel, greenLabel, blueLabel})
        label->clear();
}

void Verdanix::evZoomChanged(double)
{
    updateZoomLabel();
}

void Verdanix::updateZoomLabel()
{
    mdiImage *window = currentImageWindow();
    zoomLabel->setText(window ? zoomText(window->zoom) : QString());
}

QList<mdiImage *> Verdanix::imageWindows() const
{
    QList<mdiImage *> windows;
    for (QMdiSubWindow *sub : mdiArea->subWindowList(QMdiArea::CreationOrder))
        if (auto *window = qobject_cast<mdiImage *>(sub->widget()))
            windows << window;
    return windows;
}

QString Verdanix::windowLabel(const mdiImage *window) const
{
    const QList<mdiImage *> windows = imageWindows();
    QStringList titles;
    for (const mdiImage *other : windows)
        titles << other->windowTitle();
    const int index = windows.indexOf(const_cast<mdiImage *>(window));
    return index < 0 ? window->windowTitle() : windowListLabels(titles).at(index);
}

void Verdanix::keepInWorkArea()
{
    if (isMaximized() || isFullScreen() || !isVisible())
        return;
    const QRect area = workAreaOverride.isValid() ? workAreaOverride
                                                  : (screen() ? screen()->availableGeometry() : QRect());
    const QSize frameExtra = frameGeometry().size() - geometry().size();
    const QRect kept = keptWithin(frameGeometry(), minimumSizeHint().expandedTo(minimumSize()) + frameExtra, area);
    if (kept.size() != frameGeometry().size())
        resize(kept.size() - frameExtra);
    if (kept.topLeft() != frameGeometry().topLeft())
        move(kept.topLeft());
}

void Verdanix::dockPanel(QDockWidget *dock)
{
    dock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    QDockWidget *neighbour = nullptr;
    for (QDockWidget *other : findChildren<QDockWidget *>()) {
        if (other != dock && other->isVisible() && !other->isFloating()
            && dockWidgetArea(other) == Qt::RightDockWidgetArea)
            neighbour = other;
    }
    addDockWidget(Qt::RightDockWidgetArea, dock);
    if (neighbour)
        tabifyDockWidget(neighbour, dock);
    dock->show();
    dock->raise();
    // The layout settles when events run; only then is the window's new minimum known.
    QTimer::singleShot(0, this, [this] { keepInWorkArea(); });
}

void Verdanix::restoreWindowLayout()
{
    const QByteArray geometry = settingsfile::value(QStringLiteral("Window"), QStringLiteral("Geometry"), QByteArray())
                                    .toByteArray();
    const QByteArray state =
        settingsfile::value(QStringLiteral("Window"), QStringLiteral("State"), QByteArray()).toByteArray();
    // Without them (the very first start) the window keeps its designed size.
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    if (!state.isEmpty())
        restoreState(state);
}

void Verdanix::saveWindowLayout()
{
    settingsfile::setValue(QStringLiteral("Window"), QStringLiteral("Geometry"), saveGeometry());
    settingsfile::setValue(QStringLiteral("Window"), QStringLiteral("State"), saveState());
}

void Verdanix::closeEvent(QCloseEvent *event)
{
    if (!confirmUnsavedResults()) {
        event->ignore();
        return;
    }
    saveWindowLayout();
    QMainWindow::closeEvent(event);
}

bool Verdanix::confirmUnsavedResults()
{
    QList<mdiImage *> unsaved;
    QStringList titles;
    for (mdiImage *window : imageWindows()) {
        if (window->unsavedResult && !window->isPreview) {
            unsaved << window;
            titles << window->windowTitle();
        }
    }
    if (unsaved.isEmpty())
        return true;
    QMessageBox box(QMessageBox::Question, QStringLiteral("Unsaved results"),
                    unsaved.size() == 1 ? QStringLiteral("One image window holds a result that has not been saved.")
                                        : QStringLiteral("%1 image windows hold results that have not been saved.")
                                              .arg(unsaved.size()),
                    QMessageBox::SaveAll | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setObjectName(QStringLiteral("unsavedBox"));
    box.setInformativeText(windowListLabels(titles).join(QLatin1Char('\n')));
    box.setDefaultButton(QMessageBox::Cancel);
    const int answer = box.exec();
    if (answer == QMessageBox::Discard)
        return true;
    if (answer != QMessageBox::SaveAll)
        return false;
    const QStringList labels = windowListLabels(titles);
    for (int i = 0; i < unsaved.size(); ++i) {
        // A window may have gone while a dialog was open; one that is not saved keeps the program open.
        if (unsaved[i] && unsaved[i]->unsavedResult
            && !saveWindow(unsaved[i], QStringLiteral("Save Image: ") + labels[i]))
            return false;
    }
    return true;
}

void Verdanix::evClosedImg(QObject *)
{
    viewTarget = currentImageWindow();
    updateImageStatistics();
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
