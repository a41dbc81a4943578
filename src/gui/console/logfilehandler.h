#pragma once
// The process-wide Qt message handler: every message of the process, the console's lines
// among them, is appended to the file "log" in the working directory with its kind as prefix.
#include <QtGlobal>

void logFileHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);

// The line written for one message ("Info: ..."); empty for an unknown kind.
QString logFileLine(QtMsgType type, const QString &message);
