#include "machine.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <thread>

MachineMemory parseMeminfo(const QString &text)
{
    MachineMemory memory;
    static const QRegularExpression line(QStringLiteral("^(\\w+):\\s+(\\d+)\\s*kB"),
                                         QRegularExpression::MultilineOption);
    auto it = line.globalMatch(text);
    while (it.hasNext()) {
        const auto match = it.next();
        const std::uint64_t bytes = match.captured(2).toULongLong() * 1024u;
        if (match.captured(1) == QLatin1String("MemTotal"))
            memory.totalBytes = bytes;
        else if (match.captured(1) == QLatin1String("MemAvailable"))
            memory.availableBytes = bytes;
    }
    return memory;
}

MachineMemory queryPhysicalMemory()
{
    QFile file(QStringLiteral("/proc/meminfo"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return parseMeminfo(QString::fromLatin1(file.readAll()));
}

int hardwareThreads()
{
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : static_cast<int>(count);
}

int threadsAllowed(int maxThreads)
{
    return std::max(1, std::min(maxThreads, hardwareThreads()));
}
