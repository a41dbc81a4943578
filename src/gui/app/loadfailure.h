#pragma once
// Why an image file could not be opened, in words a user can act on: a missing file, a
// damaged RAW, a FITS file of a kind the program does not read.
#include <QString>

// `errorCode` is the loader's code after the failed load (imageloader.h).
QString loadFailureReason(const QString &path, int errorCode);
