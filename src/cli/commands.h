#pragma once
// The handlers of the subcommands, one file each (cmd_<name>.cpp).
#include "commandtable.h"

int runConvert(const QStringList &arguments, CliContext &context);
int runInfo(const QStringList &arguments, CliContext &context);
int runRender(const QStringList &arguments, CliContext &context);
int runSysinfo(const QStringList &arguments, CliContext &context);
