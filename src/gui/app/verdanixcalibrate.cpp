// Preferences and the light-frame calibration run.
#include "verdanix.h"

#include "calib/framecalibration.h"
#include "calib/resourcelimits.h"
#include "calib/wndcalibrate.h"
#include "calib/wndsettings.h"
#include "console/outputwindow.h"
#include "image/imageloader.h"

#include <QDockWidget>
#include <QLineEdit>
#include <QPushButton>

void Verdanix::evShowPreferences()
{
    auto *settings = new wndSettings;
    settings->setAttribute(Qt::WA_DeleteOnClose);
    settings->show();
}

void Verdanix::evCalibrate()
{
    auto *panel = new wndCalibrate(this);
    connect(panel->pbCalibrate, SIGNAL(clicked()), panel, SLOT(sCalibrate()));
    connect(panel->pbAdd, SIGNAL(clicked()), panel, SLOT(sAdd()));
    connect(panel->pbBias, SIGNAL(clicked()), panel, SLOT(sBias()));
    connect(panel->pbDark, SIGNAL(clicked()), panel, SLOT(sDark()));
    connect(panel->pbFlat, SIGNAL(clicked()), panel, SLOT(sFlat()));
    connect(panel->pbDelete, SIGNAL(clicked()), panel, SLOT(sDelete()));
    connect(panel->pbOutput, SIGNAL(clicked()), panel, SLOT(sOut()));

    auto *dock = new QDockWidget(QStringLiteral("Calibrate Light Frames"), this);
    dock->setObjectName(QStringLiteral("calibrateDock"));
    dock->setAttribute(Qt::WA_DeleteOnClose);
    dock->setWidget(panel);
    dockPanel(dock);
    panel->show();
    connect(panel, SIGNAL(doCalibrate(QObject *)), this, SLOT(evDoCalibrate(QObject *)));
}

void Verdanix::evDoCalibrate(QObject *sender)
{
    auto *panel = qobject_cast<wndCalibrate *>(sender);
    if (!panel)
        return;
    const QString refusal = QStringLiteral("Cannot run calibration: A calculation is already running.");
    if (calculationRunning) {
        refuse(refusal);
        return;
    }
    CalibrationParameters parameters;
    parameters.lightFrames = panel->lightFrames();
    parameters.outputFolder = panel->leOutput->text();
    parameters.biasPath = panel->leBias->text();
    parameters.darkPath = panel->leDark->text();
    parameters.flatPath = panel->leFlat->text();
    parameters.preferences = readRunPreferences();
    // The masters load before the run starts; they are debayered exactly as the frames will be.
    setDefaultLoadOptions(LoadOptions{parameters.preferences.debayerFits});
    const QString problem = calibrationRequestProblem(parameters);
    if (!problem.isEmpty()) {
        outputWindow->logMessage(problem, Severity::Warning);
        return;
    }

    outputWindow->logMessage(QStringLiteral("Calibrating frames..."));
    auto *run = new frameCalibration(parameters, this, *outputWindow);
    run->loadMasters();
    connect(run, SIGNAL(allWritten(QObject *)), this, SLOT(evDoneCalibrate(QObject *)));
    connect(run, SIGNAL(calibrateError(QObject *)), this, SLOT(evErrorCalibrate(QObject *)));
    startRun(refusal, run->abortFlag());
    run->calibrate();
}

void Verdanix::evDoneCalibrate(QObject *sender)
{
    auto *run = qobject_cast<frameCalibration *>(sender);
    const CalibrationOutcome outcome = calibrationOutcome(0);
    // The run emits its end from inside calibrate(), which is still on the stack.
    if (run)
        run->deleteLater();
    outputWindow->logMessage(outcome.logLine, outcome.logSeverity);
    finishRun(outcome.statusText);
}

void Verdanix::evErrorCalibrate(QObject *sender)
{
    auto *run = qobject_cast<frameCalibration *>(sender);
    const int code = run ? run->errorCode() : 0;
    if (run)
        run->deleteLater();
    const CalibrationOutcome outcome = calibrationOutcome(code);
    outputWindow->logMessage(outcome.logLine, outcome.logSeverity);
    finishRun(outcome.statusText);
}
