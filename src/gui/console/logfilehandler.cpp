#include "logfilehandler.h"

#include <QFile>
#include <QMutex>
#include <QTextStream>

QString logFileLine(QtMsgType type, const QString &message)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug: %1").arg(message);
    case QtWarningMsg:
        return QStringLiteral("Warning: %1").arg(message);
    case QtCriticalMsg:
        return QStringLiteral("Critical: %1").arg(message);
    case QtFatalMsg:
        return QStringLiteral("Fatal: %1").arg(message);
    case QtInfoMsg:
        return QStringLiteral("Info: %1").arg(message);
    }
    return QString();
}

void logFileHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    // Messages arrive from any thread; one writer at a time keeps lines whole.
    static QMutex fileLock;
    QMutexLocker locker(&fileLock);
    QFile file(QStringLiteral("log"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return;
    QTextStream stream(&file);
    stream << logFileLine(type, message) << '\n';
}
