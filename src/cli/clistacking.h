#pragma once
// What the stack and master commands share: the interrupt that aborts a stack, the options
// that size a run (--threads, --mem), the named choices (--method, --reject), and how a
// finished or failed stack is reported.
#include "calib/resourcelimits.h"
#include "commandtable.h"
#include "interrupt.h"

#include <QJsonObject>

#include <atomic>
#include <memory>

class CliArgs;
class ImageBuffer;
class MultiFB;

// The index of the option's value in `names` (defaultIndex when the option is absent), or -1
// after writing a usage error that lists the names.
int parseChoice(const CliArgs &args, const QString &option, const QStringList &names, int defaultIndex,
                CliContext &context);

// --threads N and --mem MB over the preferences of verdanix.ini; false after a usage error.
bool parseResourceOptions(const CliArgs &args, ResourcePreferences &prefs, CliContext &context);

// Every frame must exist before anything is read; false after naming the first missing one.
bool checkFramesExist(const QStringList &frames, CliContext &context);

// The failure line of a stack that gave no result, with its error code.
int failStack(const MultiFB &fb, CliContext &context);

// Writes the stack and reports it: one line on stdout, or with --json the object `summary`
// with "bands", "seconds" and "output" added. Returns the exit status.
int saveStack(const ImageBuffer &result, const QString &output, const MultiFB &fb, double seconds, bool json,
              QJsonObject summary, CliContext &context);
