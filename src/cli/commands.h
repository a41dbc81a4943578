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
int runStars(const QStringList &arguments, CliContext &context);
int runMatch(const QStringList &arguments, CliContext &context);
// Defined with their help texts in cmd_register.cpp, cmd_stack.cpp and cmd_master.cpp.
extern const CliCommand kRegisterCommand, kStackCommand, kMasterCommand;
// Shared by the star commands (defined in cmd_stars.cpp): --size, --threshold (L or "auto") and --max
// into the search parameters, and a loaded image normalised as the registration does it.
// Each writes the reason and returns false on failure.
class CliArgs;
class ImageBuffer;
struct StarSearchParameters;
bool parseStarSearchOptions(const CliArgs &args, StarSearchParameters &parameters, CliContext &context);
bool normaliseForStarSearch(ImageBuffer &image, const QString &path, CliContext &context);
