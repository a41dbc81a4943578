#pragma once
// Helpers shared by the image loading tests.
#include "image/imageloader.h"
#include "support/capturinglog.h"

#include <QFile>
#include <QSize>

#include <cstring>

// A whole load into `log` (or quietly), the loader's code into *code.
inline std::unique_ptr<ImageBuffer> loadInto(const QString &path, int *code = nullptr,
                                             testsupport::CapturingLog *log = nullptr, bool debayer = false)
{
    testsupport::CapturingLog quiet;
    ImageLoader loader;
    loader.log = log ? log : &quiet;
    loader.options.debayer = debayer;
    auto image = loader.loadFile(path, false);
    if (code)
        *code = loader.errorCode;
    return image;
}

// `band` holds, bit for bit, the rows of `whole` from firstRow on.
inline bool sameRows(const ImageBuffer *band, const ImageBuffer *whole, int firstRow = 0)
{
    return band && whole && band->width == whole->width && band->channels == whole->channels
           && firstRow + band->height <= whole->height
           && std::memcmp(band->data.get(), whole->pixel(0, firstRow), size_t(band->floatCount) * sizeof(float)) == 0;
}

inline bool sameImage(const ImageBuffer *a, const ImageBuffer *b)
{
    return a && b && a->height == b->height && sameRows(a, b);
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
