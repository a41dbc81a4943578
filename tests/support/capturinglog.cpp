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

void CapturingLog::appendLine(const QString &text)
{
    QMutexLocker locker(&lock);
    logged << text;
}

} // namespace testsupport
