#pragma once
// A message log for tests: keeps every line, status text and progress value it is given, from
// any thread.
#include "log/messagelog.h"

#include <QMutex>
#include <QStringList>

namespace testsupport {

class CapturingLog : public MessageLog {
public:
    QStringList lines() const { return locked(logged); }
    QStringList statusTexts() const { return locked(statuses); }
    QList<float> progressValues() const { return locked(progress); }
    bool contains(const QString &line) const { return lines().contains(line); }
    // The line was logged with this severity.
    bool contains(const QString &line, Severity severity) const
    {
        QMutexLocker locker(&lock);
        for (int i = 0; i < logged.size(); ++i)
            if (logged[i] == line && severities[i] == severity)
                return true;
        return false;
    }

    void setStatusText(const QString &text) override { QMutexLocker locker(&lock); statuses << text; }
    void setProgress(float percent) override { QMutexLocker locker(&lock); progress << percent; }
    void traceMessage(const QString &) override {}

protected:
    void appendLine(const QString &text, Severity severity) override
    {
        QMutexLocker locker(&lock);
        logged << text;
        severities << severity;
    }

private:
    template <typename List> List locked(const List &list) const
    {
        QMutexLocker locker(&lock);
        return list;
    }

    mutable QMutex lock;
    QStringList logged;
    QList<Severity> severities;
    QStringList statuses;
    QList<float> progress;
};

} // namespace testsupport
