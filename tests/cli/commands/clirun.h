#pragma once
// Runs the command-line program as a user would and keeps what it printed.
#include <QJsonArray>
#include <QJsonDocument>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <csignal>
#include <initializer_list>

struct CliRun {
    int status = -1; // the exit code, -1 after a crash
    QString out;
    QString err;
    int signalsSent = 0; // interruptCliAt: signals sent before the program had ended
    QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

inline CliRun runCli(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VERDANIX_CLI_PATH), arguments);
    process.waitForFinished(120000);
    return CliRun{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                  QString::fromLocal8Bit(process.readAllStandardOutput()),
                  QString::fromLocal8Bit(process.readAllStandardError())};
}

// Starts the program, sends `signalNumbers` (default one Ctrl-C) a moment apart once its stderr
// shows `cue`, and waits for it to end; `signalsSent` says how many it got before it ended.
inline CliRun interruptCliAt(const QStringList &arguments, const QByteArray &cue,
                             std::initializer_list<int> signalNumbers = {SIGINT})
{
    QProcess process;
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(VERDANIX_CLI_PATH), arguments);
    QByteArray err;
    int sent = 0;
    if (process.waitForStarted()) {
        // Taken once: a process that has ended reports id 0, and kill(0) would signal the whole
        // process group, the test runner and make included.
        const auto pid = static_cast<pid_t>(process.processId());
        while (!err.contains(cue) && process.waitForReadyRead(60000))
            err += process.readAllStandardError();
        for (const int signalNumber : signalNumbers) {
            if (pid <= 0 || process.state() == QProcess::NotRunning)
                break;
            ::kill(pid, signalNumber);
            ++sent;
            // The next goes once the handler has run (so two cannot merge into one), or after 50 ms.
            QElapsedTimer waited;
            waited.start();
            while (!err.contains("Aborting") && waited.elapsed() < 50 && process.waitForReadyRead(10))
                err += process.readAllStandardError();
            if (!err.contains("Aborting"))
                process.waitForFinished(static_cast<int>(std::max<qint64>(0, 50 - waited.elapsed())));
        }
        process.waitForFinished(60000);
    }
    err += process.readAllStandardError();
    return CliRun{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                  QString::fromLocal8Bit(process.readAllStandardOutput()), QString::fromLocal8Bit(err), sent};
}
