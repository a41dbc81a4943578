#include "interrupt.h"

#include "platform/newfile.h"

#include <csignal>

namespace {

// The flag of the run going on now, for the interrupt handler; taken by the first Ctrl-C.
std::atomic<std::atomic<bool> *> interruptTarget{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool> *>::is_always_lock_free,
              "the interrupt handler may only touch lock-free atomics");

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

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
        for (const int signalNumber : kEndingSignals) {
            // A signal the program was started with ignored (nohup, a background job) stays so.
            struct sigaction inherited {};
            if (sigaction(signalNumber, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
                continue;
            struct sigaction action {};
            action.sa_handler = onSignal;
            sigemptyset(&action.sa_mask);
            sigaction(signalNumber, &action, nullptr);
        }
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
