#include "messagelog.h"

namespace {
NullMessageLog nullLog;
std::atomic<MessageLog *> installedLog{nullptr};
} // namespace

MessageLog &messageLog()
{
    MessageLog *log = installedLog.load(std::memory_order_acquire);
    return log ? *log : nullLog;
}

void installMessageLog(MessageLog *log)
{
    installedLog.store(log, std::memory_order_release);
}
