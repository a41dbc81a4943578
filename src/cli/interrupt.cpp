#include "interrupt.h"

#include "platform/newfile.h"

#include <csignal>

namespace {

// The flag of the run going on now, for the interrupt handler; taken by the first Ctrl-C.
std::atomic<std::atomic<bool> *> interruptTarget{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool> *>::is_always_lock_free,
              "the interrupt handler may only touch lock-free atomics");

extern "C" void onSignal(int signalNumber)
{
    if (signalNumber == SIGINT) {
        if (std::atomic<bool> *flag = interruptTarget.exchange(nullptr)) {
            flag->store(true);
            return;
        }
    }
    removeScratchFilesNow();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

} // namespace

void installTerminationHandlers()
{
    static const bool installed = [] {
        installEndingSignalHandler(onSignal);
        return true;
    }();
    (void)installed;
}

InterruptSetsFlag::InterruptSetsFlag(std::atomic<bool> *flag)
{
    installTerminationHandlers();
    interruptTarget = flag;
}

InterruptSetsFlag::~InterruptSetsFlag()
{
    interruptTarget = nullptr;
}
