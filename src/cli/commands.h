#pragma once
// The handlers of the subcommands, one file each (cmd_<name>.cpp).
#include "commandtable.h"

int runSysinfo(const QStringList &arguments, CliContext &context);
