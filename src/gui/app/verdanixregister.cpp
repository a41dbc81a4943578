// Frame registration: the registration dialog and the threaded registration run behind its
// "Register" button, and the star-search panel with its registration on the GUI thread.
#include "verdanix.h"

#include "console/outputwindow.h"
#include "stars/starcollector.h"
#include "stars/starsearchregistration.h"
#include "stars/wndregistrationdata.h"
#include "stars/wndstarsearch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <memory>

namespace {

const char *const kBusyRefusal = "[INFO] Cannot execute. A calculation is already running!";

// A registration dialog is larger than the designed main window's document area, which would
// place it partly off its left or top edge; its title bar and first column stay in view.
void showDialogInArea(QMdiArea *area, QWidget *dialog)
{
    QMdiSubWindow *window = area->addSubWindow(dialog);
    dialog->show();
    window->move(std::max(0, window->x()), std::max(0, window->y()));
}

} // namespace

void Verdanix::evShowRegistration()
{
    auto *dialog = new wndRegistrationData(this);
    showDialogInArea(mdiArea, dialog);
    connect(dialog, SIGNAL(stack(wndRegistrationData *)), this, SLOT(evStackResult(wndRegistrationData *)));
    connect(dialog, SIGNAL(sigRegister(wndRegistrationData *)), this, SLOT(evRegisterFrames(wndRegistrationData *)));
}

void Verdanix::evRegisterFrames(wndRegistrationData *sender)
{
    if (!sender)
        return;
    const QString refusal = QString::fromLatin1(kBusyRefusal);
    if (calculationRunning) {
        refuse(refusal);
        return;
    }
    RegistrationParameters parameters;
    parameters.files = sender->frameFiles();
    if (parameters.files.size() < 2) {
        outputWindow->logMessage(
            QStringLiteral("You need at least two images for frame registration!"), Severity::Error);
        return;
    }
    parameters.biasPath = sender->leBias->text();
    parameters.darkPath = sender->leDark->text();
    parameters.flatPath = sender->leFlat->text();
    parameters.threshold = static_cast<float>(sender->dsMinBright->value());
    parameters.maxBrightness = static_cast<float>(sender->dsMaxBright->value());
    parameters.maxStarSize = sender->sbStarSize->value();
    parameters.refine = sender->options.cbRefine->isChecked();
    parameters.autoThreshold = sender->options.cbAutoThreshold->isChecked();

    // The run watches the main window's own abort request, not a flag of its own. A press of
    // Abort left over from an earlier run must not stop this one before it starts.
    startRun(refusal);
    abortRequested = false;

    // The run has ended when run() returns; the collector goes with this call.
    auto collector = std::make_unique<StarCollector>();
    collector->log = outputWindow;
    collector->dialog = sender;
    collector->setAbortFlag(&abortRequested);
    connect(collector.get(), SIGNAL(collectFinished(QObject *)), this, SLOT(evCollectFinished(QObject *)));
    collector->configure(parameters);
    collector->run();

    if (collector->errorCode == kRegistrationAborted) {
        abortRequested = false;
        finishRun(QStringLiteral("Aborted."));
    } else if (collector->errorCode != 0) {
        outputWindow->logMessage(QStringLiteral("Calculation stopped due to error."));
        finishRun();
    } else if (calculationRunning) {
        // A run that ended without reporting its results still ends the busy state.
        finishRun();
    }
}

void Verdanix::evCollectFinished(QObject *sender)
{
    auto *collector = qobject_cast<StarCollector *>(sender);
    if (!collector)
        return;
    outputWindow->muted = false;
    outputWindow->logMessage(QStringLiteral("All files done."));
    // The user may have closed the dialog while the frames were measured.
    if (auto *dialog = qobject_cast<wndRegistrationData *>(collector->dialog.data())) {
        const int count = std::min(collector->files.size(), static_cast<int>(collector->results.size()));
        for (int i = 0; i < count; ++i) {
            const RegistrationResult &r = collector->results[static_cast<size_t>(i)];
            dialog->updateFrameRow(collector->files[i], r.offsetX, r.offsetY, r.angle, r.stars, r.fwhm, r.stackable);
        }
    }
    finishRun(QStringLiteral("Registration done."));
}

void Verdanix::findStars()
{
    auto *panel = new wndStarSearch;
    connect(panel->pbAddFiles, SIGNAL(clicked()), panel, SLOT(addFiles()));
    connect(panel->pbRemove, SIGNAL(clicked()), panel, SLOT(removeFiles()));
    connect(panel->pbAnalyze, SIGNAL(clicked()), panel, SLOT(slotAnalyze()));
    connect(panel->pbMF, SIGNAL(clicked()), panel, SLOT(slotSelectFlat()));
    connect(panel->pbMD, SIGNAL(clicked()), panel, SLOT(slotSelectDark()));
    connect(panel->pbMB, SIGNAL(clicked()), panel, SLOT(slotSelectBias()));
    connect(panel, SIGNAL(returnList(wndStarSearch *)), this, SLOT(getSSLights(wndStarSearch *)));

    auto *dock = new QDockWidget(QStringLiteral("Image Registration"), this);
    dock->setObjectName(QStringLiteral("starSearchDock"));
    dock->setAttribute(Qt::WA_DeleteOnClose);
    dock->setAllowedAreas(Qt::LeftDockWidgetArea | Qt::RightDockWidgetArea);
    dock->setWidget(panel);
    connect(panel->pushButton, SIGNAL(clicked()), dock, SLOT(close()));
    addDockWidget(Qt::RightDockWidgetArea, dock);
    dock->show();
}

void Verdanix::getSSLights(wndStarSearch *sender)
{
    if (!sender)
        return;
    // The star search runs on the GUI thread and processes events between frames, so it takes
    // the busy state like every other long run: nothing else may start meanwhile.
    const QString refusal = QString::fromLatin1(kBusyRefusal);
    if (calculationRunning) {
        refuse(refusal);
        return;
    }
    StarSearchRegistrationRequest request;
    request.files = sender->fileList();
    request.flatPath = sender->leFlat->text();
    request.darkPath = sender->leDark->text();
    request.biasPath = sender->leBias->text();
    request.search.maxStarSize = sender->sbStarSize->value();
    request.search.threshold = static_cast<float>(sender->dsMinBright->value());
    request.search.maxBrightness = static_cast<float>(sender->dsMaxBright->value());
    request.refine = sender->options.cbRefine->isChecked();
    request.search.autoThreshold = sender->options.cbAutoThreshold->isChecked();

    startRun(refusal);
    abortRequested = false;
    const StarSearchRegistration registration = runStarSearchRegistration(request, *outputWindow, &abortRequested);
    switch (registration.outcome) {
    case StarSearchOutcome::Registered:
        break;
    case StarSearchOutcome::Aborted:
        abortRequested = false;
        finishRun(QStringLiteral("Aborted."));
        return;
    case StarSearchOutcome::TooFewFrames:
        finishRun();
        return;
    case StarSearchOutcome::Failed:
        outputWindow->logMessage(QStringLiteral("Calculation stopped due to error."));
        finishRun();
        return;
    }

    auto *dialog = new wndRegistrationData(this);
    showDialogInArea(mdiArea, dialog);
    for (const RegistrationTableRow &row : registration.table.frames)
        dialog->addFrameRow(row.file, row.offsetX, row.offsetY, row.angle, row.stars, row.fwhm, row.stackable, true);
    dialog->leFlat->setText(request.flatPath);
    dialog->leDark->setText(request.darkPath);
    dialog->leBias->setText(request.biasPath);
    registrationoptions::copyChoices(sender->options, dialog->options);
    // This dialog holds results already: it stacks, but registers nothing.
    connect(dialog, SIGNAL(stack(wndRegistrationData *)), this, SLOT(evStackResult(wndRegistrationData *)));
    finishRun(QStringLiteral("Registration done."));
}
