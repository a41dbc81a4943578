#pragma once
// Turning an allocation that could not be satisfied into one log line. Operations that
// allocate images run their work through guardMemory; a failed allocation then leaves
// everything as it was and the user reads "Not enough memory" with the size asked for.
#include "log/messagelog.h"

#include <cstdint>
#include <new>
#include <utility>

QString notEnoughMemoryText(std::uint64_t bytes);
QString notEnoughMemoryText(const std::bad_alloc &failure);
// Runs work(); returns false after logging the failure when it ran out of memory.
template <typename Work>
bool guardMemory(MessageLog &log, Work &&work)
{
    try {
        std::forward<Work>(work)();
        return true;
    } catch (const std::bad_alloc &failure) {
        log.logMessage(notEnoughMemoryText(failure));
        return false;
    }
}

