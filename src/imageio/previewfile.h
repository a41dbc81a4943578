#pragma once
// Writing an 8-bit preview as a standard image file (JPEG, PNG, ...), never over an existing
// file and never leaving half a file behind.
#include <QImage>
#include <QString>

// Returns an empty string on success, else what went wrong in words for the log.
QString writePreviewFile(const QImage &image, const QString &path, const char *format = nullptr);
