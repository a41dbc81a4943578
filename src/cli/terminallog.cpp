#include "terminallog.h"

#include <unistd.h>

TerminalLog::TerminalLog(std::FILE *out) : TerminalLog(out, isatty(fileno(out)) != 0) {}

TerminalLog::TerminalLog(std::FILE *out, bool terminal) : stream(out), interactive(terminal) {}

void TerminalLog::writeAroundStatus(std::FILE *target, const char *data, qint64 size)
{
    QMutexLocker locker(&lock);
    clearStatusLine();
    std::fflush(stream);
    std::fwrite(data, 1, static_cast<std::size_t>(size), target);
    std::fflush(target);
    if (size > 0 && data[size - 1] == '\n')
        redrawStatusLine();
}

TerminalStream::TerminalStream(std::FILE *out, TerminalLog &terminalLog) : stream(out), log(terminalLog)
{
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

qint64 TerminalStream::writeData(const char *data, qint64 size)
{
    log.writeAroundStatus(stream, data, size);
    return size;
}

TerminalLog::~TerminalLog()
{
    QMutexLocker locker(&lock);
    clearStatusLine();
    std::fflush(stream);
}

void TerminalLog::appendLine(const QString &text, Severity)
{
    QMutexLocker locker(&lock);
    clearStatusLine();
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    redrawStatusLine();
    std::fflush(stream);
}

void TerminalLog::setStatusText(const QString &text)
{
    QMutexLocker locker(&lock);
    status = text;
    redrawStatusLine();
}

void TerminalLog::setProgress(float percent)
{
    QMutexLocker locker(&lock);
    progress = static_cast<int>(percent);
    redrawStatusLine();
}

void TerminalLog::traceMessage(const QString &) {}

void TerminalLog::clearStatusLine()
{
    if (statusShown) {
        std::fputs("\r\033[K", stream);
        statusShown = false;
    }
}

void TerminalLog::redrawStatusLine()
{
    // Progress belongs to a terminal; in a pipe or a file it would only add noise.
    if (!interactive || (progress <= 0 && status.isEmpty()))
        return;
    clearStatusLine();
    std::fprintf(stream, "[%3d%%] %s", qBound(0, progress, 100), status.toLocal8Bit().constData());
    statusShown = true;
    std::fflush(stream);
}
