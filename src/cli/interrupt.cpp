#include "interrupt.h"

namespace {

// The flag of the run going on now, for the interrupt handler.
std::atomic<std::atomic<bool> *> interruptTarget{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<std::atomic<bool> *>::is_always_lock_free,
              "the interrupt handler may only touch lock-free atomics");

extern "C" void setFlagOnInterrupt(int)
{
    if (std::atomic<bool> *flag = interruptTarget.load())
        flag->store(true);
}

} // namespace

InterruptSetsFlag::InterruptSetsFlag(std::atomic<bool> *flag)
{
    interruptTarget = flag;
    struct sigaction action {};
    action.sa_handler = setFlagOnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previous);
}

InterruptSetsFlag::~InterruptSetsFlag()
{
    sigaction(SIGINT, &previous, nullptr);
    interruptTarget = nullptr;
}
