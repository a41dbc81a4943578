#pragma once
// Ctrl-C during a long command: the first one sets the run's abort flag, as the desktop
// program's Abort button does, so the run ends cleanly and leaves no half-written file. The
// handler resets itself, so a second Ctrl-C ends the program at once.
#include <atomic>
#include <csignal>

class InterruptSetsFlag {
public:
    explicit InterruptSetsFlag(std::atomic<bool> *flag);
    ~InterruptSetsFlag();
    InterruptSetsFlag(const InterruptSetsFlag &) = delete;
    InterruptSetsFlag &operator=(const InterruptSetsFlag &) = delete;

private:
    struct sigaction previous {};
};
