#pragma once
// A message log for tests: keeps every line, status text and progress value it is given, from
// any thread.
#include "log/messagelog.h"

#include <QMutex>
#include <QStringList>

namespace testsupport {

class CapturingLog : public MessageLog {
public:
    QStringList lines() const;
    QStringList statusTexts() const;
    QList<float> progressValues() const;
    bool contains(const QString &line) const { return lines().contains(line); }
    // The line was logged with this severity.
    bool contains(const QString &line, Severity severity) const;

    void setStatusText(const QString &text) override;
    void setProgress(float percent) override;
    void traceMessage(const QString &) override {}

protected:
    void appendLine(const QString &text, Severity severity) override;

private:
    mutable QMutex lock;
    QStringList logged;
    QList<Severity> severities;
    QStringList statuses;
    QList<float> progress;
};

} // namespace testsupport
