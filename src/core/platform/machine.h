#pragma once
// What the machine offers, read at the moment it is asked: physical memory from the
// kernel's /proc/meminfo and the number of hardware threads.
#include <QString>

#include <cstdint>

struct MachineMemory {
    std::uint64_t totalBytes = 0;
    std::uint64_t availableBytes = 0; // MemAvailable: what can be had without swapping
};

MachineMemory queryPhysicalMemory();
int hardwareThreads();
// The worker threads a preference of `maxThreads` allows here: at most one per hardware
// thread, at least one.
int threadsAllowed(int maxThreads);

// Parses the text of /proc/meminfo; fields that are missing stay 0.
MachineMemory parseMeminfo(const QString &text);

constexpr std::uint64_t bytesToMegabytes(std::uint64_t bytes)
{
    return bytes >> 20;
}
