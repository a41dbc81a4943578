#pragma once
// Reading and writing images for the subcommands, with the command line's error lines.
#include "commandtable.h"

#include <functional>
#include <memory>

class ImageBuffer;

// Loads the whole image; on failure writes "cannot read PATH (error N)" and returns null.
std::unique_ptr<ImageBuffer> loadImageOrFail(const QString &path, CliContext &context);

// Refuses an existing or non-FITS target before any work is done; returns false after
// writing the reason.
bool checkFitsTarget(const QString &path, CliContext &context);

// Writes the image as FITS; returns kExitOk or writes the reason and returns kExitFailure.
int saveFitsOrFail(const ImageBuffer &image, const QString &path, CliContext &context);

// Loads `input`, hands it to `work` and saves what work returns as the FITS file `output`,
// which must not exist yet. work returns null after reporting its own failure with
// failWith. Running out of memory anywhere is reported, not thrown. Returns the exit status.
int transformImageFile(const QString &input, const QString &output, CliContext &context,
                       const std::function<std::unique_ptr<ImageBuffer>(std::unique_ptr<ImageBuffer>)> &work);

// Parses a number argument; writes a usage error naming the option when it is not one.
bool parseNumber(const QString &text, const QString &option, double &value, CliContext &context);
