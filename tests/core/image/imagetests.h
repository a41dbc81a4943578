#pragma once
// Helpers shared by the image loading tests.
#include "image/imageloader.h"
#include "support/capturinglog.h"
#include "support/compressedfits.h"
#include "support/dngwriter.h"
#include "support/fitsfixture.h"

#include <QFile>
#include <QSize>
#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace testsupport;

// A loader that logs into its own `captured` log.
struct LoggedLoader : ImageLoader {
    LoggedLoader() { log = &captured; }
    QSize size(const QString &path)
    {
        int width = -1, height = -1;
        querySize(path, width, height);
        return {width, height};
    }
    CapturingLog captured;
};

// A whole load, logged into `log` or quietly.
inline std::unique_ptr<ImageBuffer> loadInto(const QString &path, bool debayer = false, CapturingLog *log = nullptr)
{
    LoggedLoader loader;
    loader.log = log ? log : &loader.captured;
    loader.options.debayer = debayer;
    return loader.loadFile(path, false);
}

// How a whole load of `path` under `ceiling` ends: "loaded", or the code then each log line
// after " | ".
inline std::string failure(const QString &path, std::uint64_t ceiling = 0, bool verbose = false)
{
    LoggedLoader loader;
    loader.memoryCeiling = ceiling;
    return loader.loadFile(path, verbose)
               ? "loaded"
               : (QStringList{QString::number(loader.errorCode)} + loader.captured.lines()).join(" | ").toStdString();
}

inline std::vector<float> rgba(const ImageBuffer &image, int x, int y)
{
    const FloatRGB p = image.getPixel(x, y);
    return {p.r, p.g, p.b, p.a};
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
