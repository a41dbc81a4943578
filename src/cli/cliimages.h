#pragma once
// Reading and writing images for the subcommands, and reading their numbers, with the command
// line's error lines.
#include "commandtable.h"
#include "log/errorcodes.h"

#include <functional>
#include <memory>

class CliArgs;
class ImageBuffer;

// Loads the whole image; on failure writes "cannot open 'PATH': <reason> (error N)" and returns
// null.
std::unique_ptr<ImageBuffer> loadImageOrFail(const QString &path, CliContext &context);

// Refuses an input that is not a readable regular file (missing, a folder, a pipe, a device)
// before any work is done; returns false after writing the reason.
bool checkInputFile(const QString &path, CliContext &context);

// Refuses, before any work is done, an output whose suffix is none of `suffixes` (a usage error)
// or that cannot be created as a new file: the name exists (also as a dangling symbolic link)
// or its folder does not. Returns kExitOk, or the exit status after writing the reason.
int refuseOutputTarget(const QString &path, const QStringList &suffixes, CliContext &context);
// The same for a FITS file (.fits, .fit or .fts).
int refuseFitsTarget(const QString &path, CliContext &context);
// As refuseFitsTarget: true when the target can be written, false after writing the reason.
bool checkFitsTarget(const QString &path, CliContext &context);

// Writes the image as FITS; returns kExitOk or writes the reason and returns kExitFailure.
int saveFitsOrFail(const ImageBuffer &image, const QString &path, CliContext &context);

// Loads `input`, hands it to `work` and saves what work returns as the FITS file `output`,
// which must not exist yet. work returns null after reporting its own failure with
// failWith. Running out of memory anywhere is reported, not thrown. With --json a success
// prints {"input", "output"}. Returns the exit status.
int transformImageFile(const QString &input, const QString &output, CliContext &context,
                       const std::function<std::unique_ptr<ImageBuffer>(std::unique_ptr<ImageBuffer>)> &work);

// Parses a number from `low` to `high` (NaN and infinities are never in range); writes a usage
// error naming the option and the range when the text is not one.
bool parseNumber(const QString &text, const QString &option, double low, double high, double &value,
                 CliContext &context);
// Any number (NaN and infinities included), for options whose range their command checks itself.
bool parseNumber(const QString &text, const QString &option, double &value, CliContext &context);
// The same for a whole number.
bool parseWholeNumber(const QString &text, const QString &option, int low, int high, int &value, CliContext &context);
// The option's value through parseNumber / parseWholeNumber; `value` keeps its default when the
// option is absent.
bool optionNumber(const CliArgs &args, const QString &option, double low, double high, double &value,
                  CliContext &context);
bool optionWholeNumber(const CliArgs &args, const QString &option, int low, int high, int &value, CliContext &context);

// The most threads a command starts, as the preferences dialog allows.
constexpr int kMaxCliThreads = 100;
