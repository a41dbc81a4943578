#pragma once
// The command line's message log: lines go to standard error as plain text (their severity
// shows only in the console window's colours); on a terminal the status text and progress
// are kept on one line that rewrites itself. The command's own output goes through a
// TerminalStream, which takes that line away first, so that progress never runs into a
// result on the screen.
#include "log/messagelog.h"

#include <QIODevice>
#include <QMutex>

#include <cstdio>

class TerminalLog : public MessageLog {
public:
    explicit TerminalLog(std::FILE *stream = stderr);
    // With `interactive` given instead of asking whether the stream is a terminal (tests).
    TerminalLog(std::FILE *stream, bool interactive);
    ~TerminalLog() override;

    // Writes `size` bytes to `target` with the status line taken away, and puts the line back
    // after a complete line of output.
    void writeAroundStatus(std::FILE *target, const char *data, qint64 size);

    void setStatusText(const QString &text) override;
    void setProgress(float percent) override;
    void traceMessage(const QString &text) override;

protected:
    void appendLine(const QString &text, Severity severity) override;

private:
    void redrawStatusLine();
    void clearStatusLine();

    std::FILE *stream;
    bool interactive;
    QMutex lock;
    QString status;
    int progress = -1;
    bool statusShown = false;
};

// A write-only device over standard output or standard error for the command's own lines.
class TerminalStream : public QIODevice {
public:
    TerminalStream(std::FILE *stream, TerminalLog &log);

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    std::FILE *stream;
    TerminalLog &log;
};
