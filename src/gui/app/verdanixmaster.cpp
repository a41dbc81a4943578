// Master frames: the panel in its dock and the generation run behind its "Generate" button.
#include "verdanix.h"

#include "console/outputwindow.h"
#include "image/imagebuffer.h"
#include "stack/masterframe.h"
#include "stack/multifb.h"
#include "stack/stackstatistics.h"
#include "stack/wndmasterframe.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

namespace {

MasterFrameOptions masterOptions(const wndMasterFrame &panel)
{
    MasterFrameOptions options;
    options.type = static_cast<MasterType>(panel.cbType->currentIndex());
    options.method = panel.cbMethod->currentIndex();
    options.rejection = panel.cbRejection->currentIndex();
    options.normalizeChannels = panel.cbNormalize->isChecked();
    options.biasPath = panel.leBias->text();
    options.darkFlatPath = panel.leDarkFlat->text();
    return options;
}

} // namespace

void Verdanix::createMasterFrame()
{
    auto *panel = new wndMasterFrame;
    connect(panel->pbAdd, SIGNAL(clicked()), panel, SLOT(addFiles()));
    connect(panel->pbRemove, SIGNAL(clicked()), panel, SLOT(deleteFiles()));
    connect(panel->pbGenerate, SIGNAL(clicked()), panel, SLOT(slotGenerate()));
    connect(panel->pbBias, SIGNAL(clicked()), panel, SLOT(browseBias()));
    connect(panel->pbDarkFlat, SIGNAL(clicked()), panel, SLOT(browseDarkFlat()));
    connect(panel->cbType, SIGNAL(currentIndexChanged(int)), panel, SLOT(updateElements(int)));
    connect(panel, SIGNAL(generateFrame(wndMasterFrame *)), this, SLOT(evMasterFrame(wndMasterFrame *)));

    auto *dock = new QDockWidget(QStringLiteral("Create Master Frame"), this);
    dock->setObjectName(QStringLiteral("masterFrameDock"));
    dock->setAttribute(Qt::WA_DeleteOnClose);
    dock->setWidget(panel);
    connect(panel->pbCancel, SIGNAL(clicked()), dock, SLOT(close()));
    dockPanel(dock);
}

void Verdanix::evMasterFrame(wndMasterFrame *sender)
{
    if (!sender)
        return;
    const QString refusal = QStringLiteral("[INFO] Cannot execute. A calculation is already running!");
    if (calculationRunning) {
        refuse(refusal);
        return;
    }
    const QStringList paths = sender->framePaths();
    if (paths.isEmpty()) {
        outputWindow->logMessage(QStringLiteral("[ERROR] No frames selected form master frame generation!"));
        return;
    }
    // Everything the run needs is read now: the panel may be closed while it runs.
    const MasterFrameOptions options = masterOptions(*sender);

    startRun(refusal);
    abortRequested = false;
    outputWindow->logMessage(QStringLiteral("[Info] Generating master frame."));
    auto fb = std::make_unique<MultiFB>(*outputWindow, paths);
    if (fb->errorCode != 0) {
        // The frame buffer has said why (fewer than two frames, an unreadable first frame).
        finishRun();
        return;
    }
    const QString problem =
        stackstats::rejectionFractionProblem(masterRejectionMode(options), fb->rejectFraction, fb->frameCount());
    if (!problem.isEmpty()) {
        outputWindow->logMessage(problem, Severity::Error);
        finishRun();
        return;
    }
    // Logging processes events, so Abort may have been pressed while the frame buffer was set
    // up; that press counts for the run.
    workerAbortFlag = fb->abortFlag();
    abortable = true;
    if (abortRequested)
        *workerAbortFlag = true;

    std::unique_ptr<ImageBuffer> master = generateMasterFrame(*fb, options, *outputWindow);
    fb.reset();
    if (!master) {
        outputWindow->muted = false;
        outputWindow->logMessage(QStringLiteral("Aborted."));
        finishRun(QStringLiteral("Aborted."));
        return;
    }
    master->whiteLevel = 1.0f;
    master->blackLevel = 0.0f;
    openResultWindow(std::move(master), masterFrameTitle(options.type));
    finishRun();
}
