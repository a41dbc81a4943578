#pragma once
// Runs the command-line program as a user would and keeps what it printed.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

struct CliRun {
    int status = -1; // the exit code, -1 after a crash
    QString out;
    QString err;
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
