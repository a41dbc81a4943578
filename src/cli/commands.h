#pragma once
// The handlers of the subcommands, one file each (cmd_<name>.cpp).
#include "commandtable.h"

int runCalibrate(const QStringList &arguments, CliContext &context);
int runCombine(const QStringList &arguments, CliContext &context);
int runConvert(const QStringList &arguments, CliContext &context);
int runFlatten(const QStringList &arguments, CliContext &context);
int runGain(const QStringList &arguments, CliContext &context);
int runInfo(const QStringList &arguments, CliContext &context);
int runNeutralize(const QStringList &arguments, CliContext &context);
int runRender(const QStringList &arguments, CliContext &context);
int runStats(const QStringList &arguments, CliContext &context);
int runSysinfo(const QStringList &arguments, CliContext &context);
