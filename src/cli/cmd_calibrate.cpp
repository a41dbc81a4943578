#include "calib/framecalibration.h"
#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "interrupt.h"
#include "terminallog.h"

#include <QJsonArray>
#include <QJsonObject>

int runCalibrate(const CliArgs &args, CliContext &context)
{
    CalibrationParameters parameters;
    parameters.lightFrames = args.positionals();
    parameters.outputFolder = args.value(QStringLiteral("--out")).value_or(QString());
    parameters.biasPath = args.value(QStringLiteral("--bias")).value_or(QString());
    parameters.darkPath = args.value(QStringLiteral("--dark")).value_or(QString());
    parameters.flatPath = args.value(QStringLiteral("--flat")).value_or(QString());
    if (parameters.lightFrames.isEmpty())
        return failWith(context, QStringLiteral("calibrate needs at least one light frame"), kExitUsage);
    if (!args.has(QStringLiteral("--out")))
        return failWith(context, QStringLiteral("calibrate needs an output folder (--out DIR)"), kExitUsage);
    parameters.preferences = readRunPreferences();
    if (!optionWholeNumber(args, QStringLiteral("--threads"), 1, kMaxCliThreads, parameters.preferences.maxThreads,
                           context))
        return kExitUsage;
    const QString problem = calibrationRequestProblem(parameters);
    if (!problem.isEmpty())
        return failWith(context, problem);
    // Every file is looked at before any work: a missing master or a pipe among the frames is
    // named at once, not after a long run.
    for (const QString &path : parameters.lightFrames + QStringList{parameters.biasPath, parameters.darkPath,
                                                                    parameters.flatPath}) {
        if (!path.isEmpty() && !checkInputFile(path, context))
            return kExitFailure;
    }

    MessageLog &log = messageLog();
    log.logMessage(QStringLiteral("Calibrating frames..."));
    const bool json = args.has(QStringLiteral("--json"));
    frameCalibration run(parameters);
    const int masterError = run.loadMasters();

    QJsonArray written;
    QJsonArray failed;
    QObject::connect(&run, &frameCalibration::frameFinished,
                     [&](int finished, int total, const QString &output, int frameError) {
                         if (frameError == 0)
                             written.append(output);
                         else
                             failed.append(QJsonObject{{QStringLiteral("output"), output},
                                                       {QStringLiteral("error"), errorCodeText(frameError)},
                                                       {QStringLiteral("errorCode"), frameError}});
                         if (json)
                             return;
                         context.out << "[" << finished << "/" << total << "] " << output;
                         if (frameError != 0)
                             context.out << " failed: " << errorCodeText(frameError) << " (error " << frameError
                                         << ")";
                         context.out << "\n";
                         context.out.flush();
                     });
    {
        const InterruptSetsFlag interrupt(run.abortFlag());
        run.calibrate();
    }

    const int code = run.errorCode();
    const CalibrationOutcome outcome = calibrationOutcome(code);
    log.logMessage(outcome.logLine, outcome.logSeverity);
    log.setProgress(0.0f);
    log.setStatusText(QString());
    // The designed line above stays as it is; the command's own line says what happened in words.
    QString failure;
    if (code == kCalibrationAborted)
        failure = QStringLiteral("calibration aborted");
    else if (code != 0 && masterError != 0)
        failure = QStringLiteral("calibration stopped: a master frame cannot be used: ") + errorCodeText(code);
    else if (code != 0)
        failure = QStringLiteral("calibration failed: ") + errorCodeText(code);
    if (json)
        printJson(context, QJsonObject{{QStringLiteral("written"), written},
                                       {QStringLiteral("failed"), failed},
                                       {QStringLiteral("threads"), run.threadLimit()},
                                       {QStringLiteral("errorCode"), code != 0 ? QJsonValue(code) : QJsonValue()},
                                       {QStringLiteral("error"), code != 0 ? QJsonValue(failure) : QJsonValue()}});
    if (code != 0)
        return failWith(context, failure, kExitFailure, code);
    return kExitOk;
}
