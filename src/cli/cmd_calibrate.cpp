#include "calib/framecalibration.h"
#include "cliargs.h"
#include "commands.h"
#include "interrupt.h"
#include "terminallog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

int runCalibrate(const QStringList &arguments, CliContext &context)
{
    const CliArgs args(arguments, {QStringLiteral("--json")},
                       {QStringLiteral("--out"), QStringLiteral("--bias"), QStringLiteral("--dark"),
                        QStringLiteral("--flat"), QStringLiteral("--threads")});
    if (!args.ok())
        return failWith(context, args.error(), kExitUsage);

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
    if (const auto threads = args.value(QStringLiteral("--threads"))) {
        bool ok = false;
        parameters.preferences.maxThreads = threads->toInt(&ok);
        if (!ok || parameters.preferences.maxThreads < 1)
            return failWith(context, QStringLiteral("--threads needs a whole number of at least 1"), kExitUsage);
    }
    const QString problem = calibrationRequestProblem(parameters);
    if (!problem.isEmpty())
        return failWith(context, TerminalLog::plainText(problem));

    MessageLog &log = messageLog();
    log.logMessage(QStringLiteral("Calibrating frames..."));
    const bool json = args.has(QStringLiteral("--json"));
    frameCalibration run(parameters);
    run.loadMasters();

    QJsonArray written;
    QJsonArray failed;
    QObject::connect(&run, &frameCalibration::frameFinished,
                     [&](int finished, int total, const QString &output, int frameError) {
                         if (frameError == 0)
                             written.append(output);
                         else
                             failed.append(QJsonObject{{QStringLiteral("output"), output},
                                                       {QStringLiteral("errorCode"), frameError}});
                         if (json)
                             return;
                         context.out << "[" << finished << "/" << total << "] " << output;
                         if (frameError != 0)
                             context.out << " failed (error " << frameError << ")";
                         context.out << "\n";
                         context.out.flush();
                     });
    {
        const InterruptSetsFlag interrupt(run.abortFlag());
        run.calibrate();
    }

    const int code = run.errorCode();
    const CalibrationOutcome outcome = calibrationOutcome(code);
    log.logMessage(outcome.logLine);
    log.setProgress(0.0f);
    log.setStatusText(QString());
    if (json) {
        const QJsonObject result{{QStringLiteral("written"), written},
                                 {QStringLiteral("failed"), failed},
                                 {QStringLiteral("threads"), run.threadLimit()},
                                 {QStringLiteral("errorCode"), code}};
        context.out << QJsonDocument(result).toJson(QJsonDocument::Compact) << "\n";
    }
    if (code != 0)
        return failWith(context, TerminalLog::plainText(outcome.logLine) + QStringLiteral(" (error %1)").arg(code));
    return kExitOk;
}
