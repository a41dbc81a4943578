#pragma once
// Writing an 8-bit preview as a standard image file (JPEG, PNG, ...). It refuses what the
// FITS writer refuses (a name that exists, also as a dangling symbolic link; a folder that
// does not exist) and appears whole or not at all (newfile.h).
#include <QImage>
#include <QString>

// Returns an empty string on success, else what went wrong in words for the log:
// "cannot write 'x.png': it exists already; it is never overwritten".
QString writePreviewFile(const QImage &image, const QString &path, const char *format = nullptr);
