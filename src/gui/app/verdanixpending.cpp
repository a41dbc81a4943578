// Slots whose operations are not part of the program yet. They exist so that every action
// and signal is wired from the start; each does nothing until its operation arrives.
#include "verdanix.h"

void Verdanix::parseInput(QString) {}
