// The flatten tool: background markers placed by hand or on a grid, the background model
// built from them, and the flattened image.
#include "verdanix.h"

#include "console/outputwindow.h"
#include "console/qdwa.h"
#include "log/outofmemory.h"
#include "platform/machine.h"
#include "platform/settingsfile.h"
#include "process/flattenbgwnd.h"
#include "process/flattenpipeline.h"
#include "process/regionstats.h"
#include "view/mdiimage.h"

#include <QCoreApplication>
#include <QProgressBar>

namespace {
const char *const kNotStartedHere = "Background flattening was not started from currently active window!";
}

ImageLock Verdanix::lockFlattenTarget()
{
    // While the tool's own panel has the focus no image window is active; the tool then
    // works on the window it was opened on.
    ImageLock window = lockImage();
    if (!window && flattenWindow)
        return lockWindow(flattenWindow);
    return window;
}

void Verdanix::startMarkerMode(mdiImage *window)
{
    if (flattenWindow && flattenWindow != window) {
        flattenWindow->leaveMarkerMode();
        outputWindow->logMessage(QStringLiteral("Box markers cleared."));
    }
    flattenWindow = window;
    if (flattenDock)
        if (auto *panel = qobject_cast<flattenbgwnd *>(flattenDock->widget()))
            panel->setTarget(windowLabel(window));
    window->enterMarkerMode();
}

void Verdanix::flattenBg()
{
    const ImageLock window = lockImage();
    if (!window || !window->buffer) {
        return;
    }
    // One tool at a time: asked for again, it shows its panel, working on the current image
    // (the markers placed so far stay when that is the image it already works on).
    if (flattenDock) {
        if (window != flattenWindow)
            startMarkerMode(window);
        flattenDock->show();
        flattenDock->raise();
        return;
    }
    // The panel goes straight into its dock: shown on its own first, it would take the
    // activation away from the image windows.
    auto *panel = new flattenbgwnd(this);

    auto *dock = new qDwa(QStringLiteral("Background Neutralization"), this);
    flattenDock = dock;
    dock->setObjectName(QStringLiteral("flattenDock"));
    dock->setAttribute(Qt::WA_DeleteOnClose);
    dock->setWidget(panel);
    dockPanel(dock);
    connect(dock, SIGNAL(widgetClosed()), this, SLOT(evCloseFlattenBgWnd()));

    startMarkerMode(window);

    connect(panel, SIGNAL(emitBoxSize(int)), this, SLOT(evSetBoxSize(int)));
    connect(panel, SIGNAL(clickedOK(int, double, int, double)), this, SLOT(evFlattenBg(int, double, int, double)));
    connect(panel, SIGNAL(clickedAuto(int, int, double)), this, SLOT(evAutoBg(int, int, double)));
    connect(panel, SIGNAL(clickedClear()), this, SLOT(evClearAuto()));
    connect(panel, SIGNAL(windowClosed()), this, SLOT(evCloseFlattenBgWnd()));
    // "Close" on the panel ends the tool and its dock together.
    connect(panel, SIGNAL(windowClosed()), dock, SLOT(close()));
}

void Verdanix::evSetBoxSize(int value)
{
    if (mdiImage *window = currentImageWindow())
        window->boxSize = value;
}

void Verdanix::evAutoBg(int size, int count, double sigma)
{
    const ImageLock window = lockFlattenTarget();
    if (!window || !window->buffer) {
        reportNoImage();
        return;
    }
    outputWindow->logMessage(QStringLiteral("Auto setting box markers..."));
    outputWindow->setStatusText(QStringLiteral("Auto setting box markers..."));
    QCoreApplication::processEvents();
    if (!window->markerMode) {
        outputWindow->logMessage(QString::fromLatin1(kNotStartedHere));
        outputWindow->setStatusText(QStringLiteral("Aborted."));
        return;
    }
    float step = 0.0f;
    std::vector<GridMarker> markers;
    if (!guardMemory(*outputWindow, [&] { markers = gridMarkerPositions(*window->buffer, size, count, sigma, step); }))
        return;
    window->placeAutoMarkers(markers, size, step);
    outputWindow->setStatusText(QStringLiteral("Done."));
    outputWindow->logMessage(QString::number(window->markerXs.size()) + QStringLiteral(" markers set."));
}

void Verdanix::evFlattenBg(int, double pow, int dist, double mult)
{
    const ImageLock window = lockFlattenTarget();
    if (!window || !window->buffer) {
        reportNoImage();
        return;
    }
    outputWindow->setStatusText(QStringLiteral("Background modelization and flattening..."));
    if (!window->markerMode) {
        outputWindow->logMessage(QString::fromLatin1(kNotStartedHere));
        outputWindow->setStatusText(QStringLiteral("Aborted."));
        return;
    }

    FlattenParams params;
    params.boxSize = window->boxSize;
    params.exponent = pow;
    params.distance = dist;
    params.multiplier = mult;
    params.autoStep = window->autoStep;
    params.threadCount = threadsAllowed(settingsfile::maxThreads());
    FlattenResult result;
    const bool enoughMemory = guardMemory(*outputWindow, [&] {
        result = flattenImage(*window->buffer, window->markerXs.toVector(), window->markerYs.toVector(), params,
                              *outputWindow);
    });
    if (enoughMemory && result.status != FlattenStatus::Done) {
        for (const QString &line : flattenRefusalLines(result.status))
            outputWindow->logMessage(line);
        outputWindow->setStatusText(QStringLiteral("Aborted."));
    }
    // The model ran while events were processed: the window may have gone meanwhile.
    if (enoughMemory && result.status == FlattenStatus::Done && window.get() == lockedWindow) {
        guardMemory(*outputWindow, [&] {
            openResultWindow(std::move(result.background), QStringLiteral("Background of ") + window->windowTitle());
            outputWindow->logMessage(QStringLiteral("Done."));
            openResultWindow(std::move(result.flat), window->getName(), window->titleCounter + 1);
        });
        outputWindow->setStatusText(QStringLiteral("Ready."));
    }
    outputWindow->setProgress(0);
}

void Verdanix::evClearAuto()
{
    const ImageLock window = lockFlattenTarget();
    if (!window) {
        reportNoImage();
        return;
    }
    if (window->markerMode) {
        window->clearMarkers();
        outputWindow->setStatusText(QStringLiteral("Box markers cleared."));
    } else {
        outputWindow->logMessage(QString::fromLatin1(kNotStartedHere));
        outputWindow->setStatusText(QStringLiteral("Aborted."));
    }
}

void Verdanix::evCloseFlattenBgWnd()
{
    mdiImage *window = flattenWindow;
    if (!window)
        return;
    window->leaveMarkerMode();
    flattenWindow = nullptr;
    outputWindow->logMessage(QStringLiteral("Box markers cleared."));
}
