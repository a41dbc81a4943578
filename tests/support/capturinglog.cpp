#include "capturinglog.h"

namespace testsupport {

QStringList CapturingLog::lines() const
{
    QMutexLocker locker(&lock);
    return logged;
}

QStringList CapturingLog::statusTexts() const
{
    QMutexLocker locker(&lock);
    return statuses;
}

QList<float> CapturingLog::progressValues() const
{
    QMutexLocker locker(&lock);
    return progress;
}

void CapturingLog::setStatusText(const QString &text)
{
    QMutexLocker locker(&lock);
    statuses << text;
}

void CapturingLog::setProgress(float percent)
{
    QMutexLocker locker(&lock);
    progress << percent;
}

bool CapturingLog::contains(const QString &line, Severity severity) const
{
    QMutexLocker locker(&lock);
    for (int i = 0; i < logged.size(); ++i)
        if (logged[i] == line && severities[i] == severity)
            return true;
    return false;
}

void CapturingLog::appendLine(const QString &text, Severity severity)
{
    QMutexLocker locker(&lock);
    logged << text;
    severities << severity;
}

} // namespace testsupport
