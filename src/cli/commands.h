#pragma once
// The handlers of the subcommands, one file each (cmd_<name>.cpp).
#include "commandtable.h"

int runCalibrate(const CliArgs &args, CliContext &context);
int runCombine(const CliArgs &args, CliContext &context);
int runConvert(const CliArgs &args, CliContext &context);
int runFlatten(const CliArgs &args, CliContext &context);
int runGain(const CliArgs &args, CliContext &context);
int runInfo(const CliArgs &args, CliContext &context);
int runNeutralize(const CliArgs &args, CliContext &context);
int runRender(const CliArgs &args, CliContext &context);
int runStats(const CliArgs &args, CliContext &context);
int runSysinfo(const CliArgs &args, CliContext &context);
int runStars(const CliArgs &args, CliContext &context);
int runMatch(const CliArgs &args, CliContext &context);
// Defined with their help texts in cmd_register.cpp, cmd_stack.cpp and cmd_master.cpp.
extern const CliCommand kRegisterCommand, kStackCommand, kMasterCommand;
// Shared by the star commands (defined in cmd_stars.cpp): --size, --threshold (L or "auto") and --max
// as 'stars' and 'match' declare them, parsed into the search parameters, and a loaded image
// normalised as the registration does it. Each writes the reason and returns false on failure.
extern const CliOption kStarSizeOption, kStarThresholdOption, kStarMaxOption;
class ImageBuffer;
struct StarSearchParameters;
bool parseStarSearchOptions(const CliArgs &args, StarSearchParameters &parameters, CliContext &context);
bool normaliseForStarSearch(ImageBuffer &image, const QString &path, CliContext &context);
