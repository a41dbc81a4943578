#include "fitswriter.h"

#include "imagebuffer.h"
#include "imageloader.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"

#include "platform/newfile.h"

#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

constexpr int kPlanes = 3;
// FITS files are made of blocks of 2880 bytes; header and data are each padded to whole blocks.
constexpr std::size_t kFitsBlock = 2880;

std::size_t paddingFor(std::uint64_t bytes)
{
    return static_cast<std::size_t>((kFitsBlock - bytes % kFitsBlock) % kFitsBlock);
}

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

// The header cfitsio writes for a float image of width x height x 3, padded to whole blocks.
// cfitsio makes it in memory that may grow to one block only: that keeps the header exactly
// as cfitsio has always written it, while closing the memory file stops (with a status this
// ignores) before cfitsio would fill the image's data unit with zeros.
QByteArray floatImageHeader(int width, int height, int &status)
{
    struct BlockMemory {
        static void *grow(void *p, std::size_t bytes) { return bytes <= kFitsBlock ? std::realloc(p, bytes) : nullptr; }
    };
    std::size_t size = kFitsBlock;
    void *memory = std::calloc(1, size);
    if (!memory) {
        status = kNotEnoughMemory;
        return QByteArray();
    }
    fitsfile *file = nullptr;
    ffimem(&file, &memory, &size, kFitsBlock, &BlockMemory::grow, &status);
    LONGLONG axes[3] = {width, height, kPlanes};
    ffcrimll(file, FLOAT_IMG, 3, axes, &status);
    char *cards = nullptr;
    int count = 0;
    ffhdr2str(file, 0, nullptr, 0, &cards, &count, &status);
    QByteArray header;
    if (status == 0 && cards) {
        header = QByteArray(cards);
        header.append(QByteArray(static_cast<int>(paddingFor(header.size())), ' '));
    }
    int ignored = 0;
    if (cards)
        fffree(cards, &ignored);
    if (file)
        ffclos(file, &ignored);
    std::free(memory);
    return header;
}

// The samples of the planes in the file's byte order (big-endian), a slice at a time.
bool writeBigEndianFloats(NewFile &out, const float *samples, std::size_t count)
{
    constexpr std::size_t kSlice = 64 * 1024;
    std::vector<quint32> words(std::min(count, kSlice));
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(kSlice, count - done);
        for (std::size_t i = 0; i < n; ++i) {
            quint32 bits = 0;
            std::memcpy(&bits, samples + done + i, sizeof bits);
            words[i] = qToBigEndian(bits);
        }
        if (!out.write(reinterpret_cast<const char *>(words.data()), static_cast<qint64>(n * sizeof(quint32))))
            return false;
        done += n;
    }
    return true;
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
        record.status = kNotEnoughMemory;
        return;
    }
    const auto planeSize = static_cast<std::size_t>(buffer.width) * static_cast<std::size_t>(buffer.height);
    try {
        // Uninitialised on purpose: every float is written below.
        record.planes.reset(new float[planeSize * kPlanes]);
    } catch (const std::bad_alloc &) {
        record.status = kNotEnoughMemory;
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

    // Everything goes to an unnamed file that takes the name only once complete (newfile.h):
    // no signal, full disk or failure leaves anything under the name, or beside it.
    // A name that is taken is refused before anything is written; the link that names the
    // file stays the step that cannot overwrite, even a file that appeared a moment ago.
    const QString problem = newFileProblem(record.path);
    if (!problem.isEmpty()) {
        record.status = kFitsFileNotCreated;
        record.reason = problem;
        return;
    }
    NewFile out(record.path);
    if (out.error() != 0) {
        record.status = kFitsFileNotCreated;
        record.reason = out.errorText();
        return;
    }
    const QByteArray header = floatImageHeader(width, height, record.status);
    if (record.status != 0)
        return;
    const std::size_t samples = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * kPlanes;
    const QByteArray fill(static_cast<int>(paddingFor(samples * sizeof(float))), '\0');
    if (!out.write(header.constData(), header.size()) || !writeBigEndianFloats(out, record.planes.get(), samples)
        || !out.write(fill.constData(), fill.size())) {
        record.status = kFitsWriteError;
        record.reason = out.errorText();
        return;
    }
    const int published = out.commit();
    if (published != 0) {
        record.status = published == EEXIST || published == ENOENT ? kFitsFileNotCreated : kFitsWriteError;
        record.reason = out.errorText();
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
    case kNotEnoughMemory:
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

int saveFitsImage(const ImageBuffer &buffer, const QString &path, MessageLog &log, QString *reason)
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
    else if (record.status == kNotEnoughMemory)
        log.logMessage(QStringLiteral("Saving failed: %1 (error %2)")
                           .arg(notEnoughMemoryText(planeBytes(buffer.width, buffer.height)))
                           .arg(record.status));
    else
        log.logMessage(fitsStatusText(record.status));
    if (!record.reason.isEmpty())
        log.logMessage(failureLine(QStringLiteral("cannot write"), path, record.reason));
    if (reason)
        *reason = record.reason.isEmpty() && record.status != 0 ? errorCodeText(record.status) : record.reason;
    return record.status;
}
