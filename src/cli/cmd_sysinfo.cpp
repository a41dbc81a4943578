#include "cliargs.h"
#include "commands.h"
#include "platform/machine.h"

#include <QJsonObject>

int runSysinfo(const CliArgs &args, CliContext &context)
{
    if (!args.positionals().isEmpty())
        return failWith(context, QStringLiteral("sysinfo takes no file"), kExitUsage);

    const MachineMemory memory = queryPhysicalMemory();
    const auto totalMB = static_cast<qint64>(bytesToMegabytes(memory.totalBytes));
    const auto availableMB = static_cast<qint64>(bytesToMegabytes(memory.availableBytes));
    if (context.json) {
        printJson(context, QJsonObject{{QStringLiteral("hardwareThreads"), hardwareThreads()},
                                       {QStringLiteral("totalMemoryMB"), totalMB},
                                       {QStringLiteral("availableMemoryMB"), availableMB}});
    } else {
        context.out << "Available CPU cores/threads: " << hardwareThreads() << "\n"
                    << "Total physical memory: " << totalMB << " MB\n"
                    << "Available physical memory: " << availableMB << " MB\n";
    }
    return kExitOk;
}
