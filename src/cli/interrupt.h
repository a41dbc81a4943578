#pragma once
// Signals during a command. The first Ctrl-C of a long run sets the run's abort flag, as the
// desktop program's Abort button does, so the run ends cleanly and leaves no half-written
// file. Any further Ctrl-C, and SIGTERM, SIGHUP or SIGQUIT, end the program at once as the
// signal would, after removing the scratch files of writes in progress (newfile.h): a file
// being written never appears under its name, and nothing is left beside it.
#include <atomic>

// Installs the handlers; called once at start-up (and by InterruptSetsFlag, to be sure).
void installTerminationHandlers();

class InterruptSetsFlag {
public:
    explicit InterruptSetsFlag(std::atomic<bool> *flag);
    ~InterruptSetsFlag();
    InterruptSetsFlag(const InterruptSetsFlag &) = delete;
    InterruptSetsFlag &operator=(const InterruptSetsFlag &) = delete;
};
