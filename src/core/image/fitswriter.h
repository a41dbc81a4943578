#pragma once
// Saving an image as FITS: one primary image, BITPIX -32, NAXIS 3 with axes (width, height, 3);
// plane 1 red, plane 2 green, plane 3 blue, each width x height floats row by row, the top
// row first. Samples are written as they stand in the buffer (no BSCALE/BZERO, no clamping; NaN
// as 0); the alpha float is not written. The file loads back with whiteLevel 1.0.
//
// Files of the user's are never touched: a name that exists already (also as a symbolic link,
// dangling or not) is refused (status 105), and so is a folder that does not exist. The file
// appears whole or not at all: the bytes go to an unnamed file that takes the name only once
// complete (newfile.h), so no failure, full disk or signal leaves a partial, empty or scratch
// file behind. The header is cfitsio's own; the data are written as cfitsio writes them. The
// name is taken literally, in the local 8-bit encoding: cfitsio's extended syntax ("!name",
// "name[1]", "mem://") has no meaning here.
//
// Each call works on its own record; records on different threads may write at the same time.
#include "fitsreader.h"
#include "log/errorcodes.h"

#include <QString>

class ImageBuffer;
class MessageLog;

// The writer's statuses (errorcodes.h): kFitsFileNotCreated (the name exists, or its folder
// does not), kFitsWriteError (the disk refused the bytes), kNotEnoughMemory (the planes could
// not be allocated) and kFitsNothingToWrite (an empty image, or no planes prepared).

// Allocates width x height x 3 floats in record.planes and fills them from the buffer; sets
// ownsPlanes and the record's width, height and axes (3). When the memory cannot be had the
// planes stay empty and status becomes kNotEnoughMemory; an empty buffer gives
// kFitsNothingToWrite.
void preparePlanes(FitsReader &record, const ImageBuffer &buffer);

// Creates record.path and writes the prepared planes. Does nothing when status is already
// non-zero. Leaves the first failing status in record.status, 0 on success, and after a
// failed create or write the reason in words in record.reason ("no space left on device");
// on failure nothing exists under record.path unless it existed before.
void writeFits(FitsReader &record, int width, int height);

// One line on a failed save, naming the status: texts for 105 ("Could not create FITS file"),
// 106 ("error writing to FITS file"), kNotEnoughMemory, and "Unknown error" for the rest.
QString fitsStatusText(int status);

// The interactive save, shared by the desktop program and the command line: logs
// "Saving FITS file <path>", "Preparing...", "Done, writing file...", then "File written." on
// success, or one line with the failure followed by the reason in words ("cannot write
// 'x.fits': the folder '/a/b' does not exist"), which also goes to *reason when given.
// Returns the status (0 on success).
int saveFitsImage(const ImageBuffer &buffer, const QString &path, MessageLog &log, QString *reason = nullptr);
