#include "platform/machine.h"

#include <gtest/gtest.h>

TEST(Machine, MeminfoGivesTotalAndAvailableBytes)
{
    const QString text = QStringLiteral("MemTotal:       24683520 kB\n"
                                        "MemFree:         1000000 kB\n"
                                        "MemAvailable:   20000000 kB\n"
                                        "Buffers:          123456 kB\n");
    const MachineMemory memory = parseMeminfo(text);
    EXPECT_EQ(memory.totalBytes, 24683520ull * 1024);
    EXPECT_EQ(memory.availableBytes, 20000000ull * 1024);
    EXPECT_EQ(bytesToMegabytes(memory.totalBytes), 24105u);

    const MachineMemory missing = parseMeminfo(QStringLiteral("MemTotal: 1024 kB\n"));
    EXPECT_EQ(missing.totalBytes, 1024u * 1024);
    EXPECT_EQ(missing.availableBytes, 0u);
}

TEST(Machine, ThisMachineReportsPlausibleFigures)
{
    const MachineMemory memory = queryPhysicalMemory();
    EXPECT_GT(memory.totalBytes, 0u);
    EXPECT_GT(memory.availableBytes, 0u);
    EXPECT_LE(memory.availableBytes, memory.totalBytes);
    EXPECT_GE(hardwareThreads(), 1);
}
