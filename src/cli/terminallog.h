#pragma once
// The command line's message log: lines go to standard error without their colour markup;
// on a terminal the status text and progress are kept on one line that rewrites itself.
#include "log/messagelog.h"

#include <QMutex>

#include <cstdio>

class TerminalLog : public MessageLog {
public:
    explicit TerminalLog(std::FILE *stream = stderr);
    ~TerminalLog() override;

    void setStatusText(const QString &text) override;
    void setProgress(float percent) override;
    void traceMessage(const QString &text) override;

    // The log's lines as plain text: markup removed, entities and line breaks resolved.
    static QString plainText(const QString &line);

protected:
    void appendLine(const QString &text) override;

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
