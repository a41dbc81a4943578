#include "fitswriter.h"

#include "imagebuffer.h"
#include "imageloader.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>
#include <limits>
#include <new>

static_assert(kFitsNotEnoughMemory == kNotEnoughMemory, "one code for running out of memory on load and save");

namespace {

constexpr int kPlanes = 3;

// Bytes of the three planes of a width x height image; UINT64_MAX when that overflows.
std::uint64_t planeBytes(int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    std::uint64_t bytes = 0;
    if (__builtin_mul_overflow(static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), &bytes)
        || __builtin_mul_overflow(bytes, static_cast<std::uint64_t>(kPlanes * sizeof(float)), &bytes))
        return std::numeric_limits<std::uint64_t>::max();
    return bytes;
}

float nanToZero(float v)
{
    return std::isnan(v) ? 0.0f : v;
}

// The file that cfitsio writes into, next to the target so that it can be renamed onto it.
QString scratchPathFor(const QFileInfo &target)
{
    const quint64 random = QRandomGenerator::global()->generate64();
    return target.absolutePath() + QStringLiteral("/verdanix-%1.part").arg(random, 16, 16, QLatin1Char('0'));
}

// Removes the empty file that reserved a name, never one that has grown since.
void releaseReservation(const QString &path)
{
    const QFileInfo info(path);
    if (info.isFile() && !info.isSymLink() && info.size() == 0)
        QFile::remove(path);
}

} // namespace

void preparePlanes(FitsReader &record, const ImageBuffer &buffer)
{
    record.planes.reset();
    record.ownsPlanes = 0;
    if (!buffer.hasPixels()) {
        record.status = kFitsNothingToWrite;
        return;
    }
    const std::uint64_t bytes = planeBytes(buffer.width, buffer.height);
    if (bytes > static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max())) {
        record.status = kFitsNotEnoughMemory;
        return;
    }
    const auto planeSize = static_cast<std::size_t>(buffer.width) * static_cast<std::size_t>(buffer.height);
    try {
        // Uninitialised on purpose: every float is written below.
        record.planes.reset(new float[planeSize * kPlanes]);
    } catch (const std::bad_alloc &) {
        record.status = kFitsNotEnoughMemory;
        return;
    }
    float *red = record.planes.get();
    float *green = red + planeSize;
    float *blue = green + planeSize;
    for (int y = 0; y < buffer.height; ++y) {
        const float *in = buffer.pixel(0, y);
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(buffer.width);
        for (int x = 0; x < buffer.width; ++x, in += ImageBuffer::kFloatsPerPixel) {
            red[row + x] = nanToZero(in[0]);
            green[row + x] = nanToZero(in[1]);
            blue[row + x] = nanToZero(in[2]);
        }
    }
    record.ownsPlanes = 1;
    record.width = buffer.width;
    record.height = buffer.height;
    record.axes = kPlanes;
}

void writeFits(FitsReader &record, int width, int height)
{
    if (record.status != 0)
        return;
    if (!record.planes || !record.ownsPlanes || width <= 0 || height <= 0 || width != record.width
        || height != record.height) {
        record.status = kFitsNothingToWrite;
        return;
    }

    // Creating the name exclusively is the one step that cannot overwrite a file, even one
    // that appeared a moment ago. The empty file holds the name while cfitsio writes into a
    // scratch file beside it, which replaces it only once complete.
    const QFileInfo target(record.path);
    const QString finalPath = target.absoluteFilePath();
    {
        QFile reservation(finalPath);
        if (!reservation.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            record.status = kFitsFileNotCreated;
            return;
        }
    }

    // The disk-file create takes the name literally, without cfitsio's extended syntax, and
    // an absolute path cannot start with its overwrite mark '!'.
    const QString scratchPath = scratchPathFor(target);
    const QByteArray scratchName = QFile::encodeName(scratchPath);
    ffdkinit(&record.file, scratchName.constData(), &record.status);
    const bool scratchCreated = record.status == 0;
    if (!scratchCreated)
        record.file = nullptr;

    LONGLONG axes[3] = {width, height, kPlanes};
    ffcrimll(record.file, FLOAT_IMG, 3, axes, &record.status);
    LONGLONG firstPixel[3] = {1, 1, 1};
    const LONGLONG count = static_cast<LONGLONG>(width) * height * kPlanes;
    ffppxll(record.file, TFLOAT, firstPixel, count, record.planes.get(), &record.status);
    record.close();

    if (record.status == 0 && std::rename(scratchName.constData(), QFile::encodeName(finalPath).constData()) != 0)
        record.status = kFitsFileNotCreated;
    if (record.status != 0) {
        if (scratchCreated)
            QFile::remove(scratchPath);
        releaseReservation(finalPath);
    }
}

QString fitsStatusText(int status)
{
    switch (status) {
    case 0:
        return QStringLiteral("No error");
    case kFitsFileNotCreated:
        return QStringLiteral("Could not create FITS file (may be it already exists?), error %1").arg(status);
    case kFitsWriteError:
        return QStringLiteral("Saving failed: error writing to FITS file, error %1").arg(status);
    case kFitsNotEnoughMemory:
        return QStringLiteral("Saving failed: not enough memory for the image planes, error %1").arg(status);
    default:
        break;
    }
    char description[FLEN_STATUS] = {0};
    ffgerr(status, description);
    QString text = QStringLiteral("Saving failed: Unknown error %1").arg(status);
    if (description[0] != '\0')
        text += QStringLiteral(" (%1)").arg(QString::fromLatin1(description));
    return text;
}

int saveFitsImage(const ImageBuffer &buffer, const QString &path, MessageLog &log)
{
    log.setStatusText(QStringLiteral("Saving FITS ") + path);
    log.logMessage(QStringLiteral("Saving FITS file ") + path);
    FitsReader record(path);
    log.logMessage(QStringLiteral("Preparing..."));
    preparePlanes(record, buffer);
    if (record.status == 0) {
        log.logMessage(QStringLiteral("Done, writing file..."));
        writeFits(record, buffer.width, buffer.height);
    }

    if (record.status == 0)
        log.logMessage(QStringLiteral("File written."));
    else if (record.status == kFitsNotEnoughMemory)
        log.logMessage(QStringLiteral("Saving failed: %1 (error %2)")
                           .arg(notEnoughMemoryText(planeBytes(buffer.width, buffer.height)))
                           .arg(record.status));
    else
        log.logMessage(fitsStatusText(record.status));
    return record.status;
}
