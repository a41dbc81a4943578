#include "calib/framecalibration.h"
#include "cliargs.h"
#include "commands.h"
#include "terminallog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <csignal>

namespace {

// The run's abort flag while a calibration runs, for the interrupt handler.
std::atomic<std::atomic<bool> *> interruptTarget{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool> *>::is_always_lock_free,
              "the interrupt handler may only touch lock-free atomics");

extern "C" void abortOnInterrupt(int)
{
    if (std::atomic<bool> *flag = interruptTarget.load())
        flag->store(true);
}

// The first Ctrl-C aborts like the Abort button: frames being written finish, so no
// half-written file is left behind. The handler resets itself, so a second Ctrl-C ends the
// program at once.
class InterruptAborts {
public:
    explicit InterruptAborts(std::atomic<bool> *flag)
    {
        interruptTarget = flag;
        struct sigaction action {};
        action.sa_handler = abortOnInterrupt;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous);
    }
    ~InterruptAborts()
    {
        sigaction(SIGINT, &previous, nullptr);
        interruptTarget = nullptr;
    }
    InterruptAborts(const InterruptAborts &) = delete;
    InterruptAborts &operator=(const InterruptAborts &) = delete;

private:
    struct sigaction previous {};
};

} // namespace

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
        const InterruptAborts interrupt(run.abortFlag());
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
