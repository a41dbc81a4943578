#include "platform/machine.h"

#include <gtest/gtest.h>

TEST(Machine, MeminfoGivesTotalAndAvailableBytesAndThisMachineReportsPlausibleFigures)
{
    const MachineMemory memory = parseMeminfo(QStringLiteral("MemTotal:       24683520 kB\n"
                                                             "MemFree:         1000000 kB\n"
                                                             "MemAvailable:   20000000 kB\n"
                                                             "Buffers:          123456 kB\n"));
    EXPECT_EQ(memory.totalBytes, 24683520ull * 1024);
    EXPECT_EQ(memory.availableBytes, 20000000ull * 1024);
    EXPECT_EQ(bytesToMegabytes(memory.totalBytes), 24105u);
    EXPECT_EQ(parseMeminfo(QStringLiteral("MemTotal: 1024 kB\n")).availableBytes, 0u);
    const MachineMemory here = queryPhysicalMemory();
    EXPECT_GT(here.availableBytes, 0u);
    EXPECT_LE(here.availableBytes, here.totalBytes);
    EXPECT_GE(hardwareThreads(), 1);
}
