#include "platform/machine.h"

#include <gtest/gtest.h>

TEST(Machine, MeminfoGivesTotalAndAvailableBytesAndThisMachineReportsPlausibleFigures)
{
    const MachineMemory memory = parseMeminfo("MemTotal:       24683520 kB\nMemFree:         1000000 kB\n"
                                              "MemAvailable:   20000000 kB\nBuffers:          123456 kB\n");
    EXPECT_EQ(memory.totalBytes, 24683520ull * 1024);
    EXPECT_EQ(memory.availableBytes, 20000000ull * 1024);
    EXPECT_EQ(bytesToMegabytes(memory.totalBytes), 24105u);
    EXPECT_EQ(parseMeminfo("MemTotal: 1024 kB\n").availableBytes, 0u);
    const MachineMemory here = queryPhysicalMemory();
    EXPECT_TRUE(here.availableBytes > 0 && here.availableBytes <= here.totalBytes && hardwareThreads() >= 1);
}
