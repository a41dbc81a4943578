#pragma once
// Saving an image as FITS: one primary image, BITPIX -32, NAXIS 3 with axes (width, height, 3);
// plane 1 red, plane 2 green, plane 3 blue, each width x height floats row by row, the top
// row first. Samples are written as they stand in the buffer (no BSCALE/BZERO, no clamping; NaN
// as 0); the alpha float is not written. The file loads back with whiteLevel 1.0.
//
// Files of the user's are never touched: a name that exists already is refused (status 105),
// and a write that fails part-way leaves nothing behind. While a file is written its name
// holds an empty file and the data go to "verdanix-<random>.part" in the same folder, which
// replaces it once complete. The name is taken literally, in the local 8-bit encoding:
// cfitsio's extended syntax ("!name", "name[1]", "mem://") has no meaning here.
//
// Each call works on its own record; records on different threads may write at the same time.
#include "fitsreader.h"

#include <QString>

class ImageBuffer;
class MessageLog;

// cfitsio statuses the writer produces itself, and its own code for a failed allocation.
constexpr int kFitsFileNotCreated = FILE_NOT_CREATED; // 105: exists already, or cannot be created
constexpr int kFitsWriteError = WRITE_ERROR;          // 106
constexpr int kFitsNotEnoughMemory = 1103;            // the planes could not be allocated (as on load)
constexpr int kFitsNothingToWrite = NEG_AXIS;         // an empty image, or no planes prepared

// Allocates width x height x 3 floats in record.planes and fills them from the buffer; sets
// ownsPlanes and the record's width, height and axes (3). When the memory cannot be had the
// planes stay empty and status becomes kFitsNotEnoughMemory; an empty buffer gives
// kFitsNothingToWrite.
void preparePlanes(FitsReader &record, const ImageBuffer &buffer);

// Creates record.path and writes the prepared planes. Does nothing when status is already
// non-zero. Leaves the first failing status in record.status, 0 on success; on failure no
// file exists under record.path unless one existed before.
void writeFits(FitsReader &record, int width, int height);

// One line on a failed save, naming the status: texts for 105 ("Could not create FITS file"),
// 106 ("error writing to FITS file"), kFitsNotEnoughMemory, and "Unknown error" for the rest.
QString fitsStatusText(int status);

// The interactive save, shared by the desktop program and the command line: logs
// "Saving FITS file <path>", "Preparing...", "Done, writing file...", then "File written." on
// success or one line with the failure. Returns the status (0 on success).
int saveFitsImage(const ImageBuffer &buffer, const QString &path, MessageLog &log);
