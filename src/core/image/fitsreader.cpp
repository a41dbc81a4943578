#include "fitsreader.h"

#include "imagebuffer.h"
#include "platform/machine.h"

#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>

namespace {

bool fullScaleFor(int bitpix, int &bits, float &scale)
{
    switch (bitpix) {
    case BYTE_IMG: bits = 8; scale = 255.0f; return true;
    case SHORT_IMG: bits = 16; scale = 65536.0f; return true;
    case LONG_IMG: bits = 32; scale = 4294967296.0f; return true;
    case LONGLONG_IMG: bits = 64; scale = 18446744073709551616.0f; return true;
    case FLOAT_IMG: bits = 32; scale = 1.0f; return true;
    case DOUBLE_IMG: bits = 64; scale = 1.0f; return true;
    default: return false;
    }
}

bool isGzipMagic(const QByteArray &bytes)
{
    return bytes.size() >= 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b';
}

} // namespace

bool isCompressedFitsName(const QString &path)
{
    const QString name = QFileInfo(path).fileName().toLower();
    if (name.endsWith(QLatin1String(".fz")))
        return true;
    for (const char *suffix : {".fit.gz", ".fits.gz", ".fts.gz"}) {
        if (name.endsWith(QLatin1String(suffix)))
            return true;
    }
    return false;
}

bool isFitsFileName(const QString &path)
{
    const QString extension = QFileInfo(path).suffix().toLower();
    return extension == QLatin1String("fts") || extension == QLatin1String("fit") || extension == QLatin1String("fits")
        || isCompressedFitsName(path);
}

std::uint64_t fitsDecompressedSize(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray magic = file.read(2);
    auto littleEndian32 = [](const QByteArray &bytes) {
        std::uint64_t value = 0;
        for (int i = bytes.size() - 1; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(bytes[i]);
        return bytes.size() == 4 ? value : 0;
    };
    if (magic == QByteArray("\x1f\x8b", 2)) {
        // gzip: the size modulo 2^32 is the last four bytes. cfitsio reads a size below the
        // compressed one, in a file above 10000 bytes, as wrapped and adds 2^32.
        constexpr qint64 kSmallFile = 10000;
        constexpr std::uint64_t kWrap = std::uint64_t(1) << 32;
        if (file.size() < 4 || !file.seek(file.size() - 4))
            return 0;
        const std::uint64_t claimed = littleEndian32(file.read(4));
        const auto compressed = static_cast<std::uint64_t>(file.size());
        return file.size() > kSmallFile && claimed < compressed ? claimed + kWrap : claimed;
    }
    if (magic == QByteArray("PK", 2)) {
        // zip: the first member's uncompressed size at byte 22.
        if (!file.seek(22))
            return 0;
        return littleEndian32(file.read(4));
    }
    return 0;
}

FitsReader::~FitsReader()
{
    close();
}

void FitsReader::FreeDeleter::operator()(void *p) const
{
    std::free(p);
}

void FitsReader::close()
{
    if (!file)
        return;
    // A failed close must not hide the error that led here.
    int closeStatus = 0;
    ffclos(file, &closeStatus);
    file = nullptr;
    if (status == 0 && closeStatus != 0) {
        status = closeStatus;
        failure = FitsFailure::Cfitsio;
    }
}

bool FitsReader::unpackGzip()
{
    gzipChecked = true;
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly) || !isGzipMagic(source.peek(2)))
        return true; // not gzip: cfitsio opens (or refuses) the file itself
    std::uint64_t limit = unpackLimit != 0 ? unpackLimit : queryPhysicalMemory().totalBytes;
    // A machine that does not report its memory gets the benefit of the doubt.
    if (limit == 0)
        limit = UINT64_MAX;
    // Start at the size the trailer claims, but trust no claim: grow only while within the
    // limit, so that a file which unpacks to more than it says cannot take the machine.
    constexpr std::uint64_t kSmallestFits = 2880;
    std::size_t capacity = static_cast<std::size_t>(
        std::max(std::min(fitsDecompressedSize(path), limit), std::min(kSmallestFits, limit)));
    unpacked.reset(std::malloc(capacity));
    z_stream stream{};
    // 16: a gzip wrapper is expected and its check value verified.
    if (!unpacked || inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        unpacked.reset();
        failure = FitsFailure::TooLarge;
        bytesNeeded = capacity;
        return false;
    }
    constexpr qint64 kChunkBytes = 1 << 20;
    QByteArray chunk;
    std::size_t produced = 0;
    bool atEnd = false;
    while (failure == FitsFailure::None && !atEnd) {
        if (stream.avail_in == 0) {
            chunk = source.read(kChunkBytes);
            stream.next_in = reinterpret_cast<Bytef *>(chunk.data());
            stream.avail_in = static_cast<uInt>(chunk.size());
            if (chunk.isEmpty()) {
                failure = FitsFailure::DamagedCompression;
                reason = QStringLiteral("the compressed data end early");
                break;
            }
        }
        if (produced == capacity) {
            const std::uint64_t larger = std::min<std::uint64_t>(std::uint64_t(capacity) * 2, limit);
            void *grown = larger > capacity ? std::realloc(unpacked.get(), larger) : nullptr;
            if (!grown) {
                failure = FitsFailure::TooLarge;
                bytesNeeded = larger > capacity ? larger : capacity + 1;
                break;
            }
            unpacked.release();
            unpacked.reset(grown);
            capacity = larger;
        }
        const std::size_t room = std::min<std::size_t>(capacity - produced, UINT_MAX);
        stream.next_out = static_cast<Bytef *>(unpacked.get()) + produced;
        stream.avail_out = static_cast<uInt>(room);
        const int result = inflate(&stream, Z_NO_FLUSH);
        produced += room - stream.avail_out;
        if (result == Z_STREAM_END) {
            // Another gzip member continues the file; anything else after the end (tape
            // padding) is ignored.
            if (stream.avail_in == 0 && chunk.size() == kChunkBytes) {
                chunk = source.read(kChunkBytes);
                stream.next_in = reinterpret_cast<Bytef *>(chunk.data());
                stream.avail_in = static_cast<uInt>(chunk.size());
            }
            const QByteArray next(reinterpret_cast<const char *>(stream.next_in), std::min<int>(stream.avail_in, 2));
            if (isGzipMagic(next))
                inflateReset(&stream);
            else
                atEnd = true;
        } else if (result != Z_OK && result != Z_BUF_ERROR) {
            failure = FitsFailure::DamagedCompression;
            reason = QStringLiteral("the compressed data are damaged (%1)")
                         .arg(QString::fromLatin1(stream.msg ? stream.msg : "cannot be unpacked"));
        }
    }
    inflateEnd(&stream);
    if (failure != FitsFailure::None) {
        unpacked.reset();
        return false;
    }
    unpackedData = unpacked.get();
    unpackedSize = produced;
    return true;
}

bool FitsReader::open()
{
    if (!gzipChecked && !unpackGzip())
        return false;
    if (unpacked) {
        // The label is not a file name: cfitsio would parse it as its extended syntax.
        if (ffomem(&file, "unpacked.fits", READONLY, &unpackedData, &unpackedSize, 0, nullptr, &status) != 0) {
            file = nullptr;
            failure = FitsFailure::Cfitsio;
            return false;
        }
        return true;
    }
    // The name is taken literally: a user's "M42 [final].fits" is a file name, not
    // cfitsio's extended syntax for a part of a file.
    const QByteArray name = QFile::encodeName(path);
    if (ffdkopn(&file, name.constData(), READONLY, &status) != 0) {
        file = nullptr;
        failure = FitsFailure::Cfitsio;
        return false;
    }
    return true;
}

bool FitsReader::readHeader()
{
    header.clear();
    if (!open())
        return false;
    int keywords = 0;
    int more = 0;
    ffghsp(file, &keywords, &more, &status);
    char card[FLEN_CARD];
    for (int i = 1; status == 0 && i <= keywords; ++i) {
        if (ffgrec(file, i, card, &status) == 0)
            header.append(QString::fromLatin1(card));
    }
    close();
    if (status != 0)
        failure = FitsFailure::Cfitsio;
    return status == 0;
}

bool FitsReader::moveToFirstImage()
{
    int naxis = 0;
    if (ffgidm(file, &naxis, &status) != 0 || naxis != 0)
        return status == 0;
    int hduCount = 0;
    ffthdu(file, &hduCount, &status);
    for (int hdu = 2; hdu <= hduCount && status == 0; ++hdu) {
        int type = 0;
        ffmahd(file, hdu, &type, &status);
        if (status != 0 || (type != IMAGE_HDU && !fits_is_compressed_image(file, &status)))
            continue;
        if (ffgidm(file, &naxis, &status) == 0 && naxis != 0)
            return true;
    }
    if (status != 0)
        return false;
    // No extension holds an image: the empty primary is refused as such.
    int type = 0;
    return ffmahd(file, 1, &type, &status) == 0;
}

bool FitsReader::openImage()
{
    if (!open())
        return false;
    if (isCompressedFitsName(path) && !moveToFirstImage()) {
        failure = FitsFailure::Cfitsio;
        close();
        return false;
    }
    int bitpix = 0;
    int naxis = 0;
    LONGLONG naxes[3] = {0, 0, 0};
    if (ffgidt(file, &bitpix, &status) == 0 && fullScaleFor(bitpix, bitsPerSample, fullScale)
        && ffgidm(file, &naxis, &status) == 0 && (naxis == 2 || naxis == 3)) {
        ffgiszll(file, 3, naxes, &status);
    }
    if (status != 0) {
        failure = FitsFailure::Cfitsio;
        close();
        return false;
    }
    if (bitsPerSample == 0 || (naxis != 2 && naxis != 3) || naxes[0] <= 0 || naxes[1] <= 0
        || (naxis == 3 && naxes[2] < kColourPlanes)) {
        failure = FitsFailure::UnsupportedLayout;
        close();
        return false;
    }
    if (naxes[0] > INT_MAX || naxes[1] > INT_MAX) {
        failure = FitsFailure::TooLarge;
        bytesNeeded = UINT64_MAX;
        // A file that does not even hold what its header claims is damaged: saying so tells
        // the user more than a size no machine has.
        int compressed = 0;
        int probe = 0;
        LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
        compressed = fits_is_compressed_image(file, &probe);
        ffghadll(file, &headStart, &dataStart, &dataEnd, &probe);
        LONGLONG claimed = 0;
        const bool overflow = __builtin_mul_overflow(naxes[0], naxes[1], &claimed)
            || __builtin_mul_overflow(claimed, LONGLONG(naxis == 3 ? naxes[2] : 1), &claimed)
            || __builtin_mul_overflow(claimed, LONGLONG(bitsPerSample / 8), &claimed)
            || __builtin_add_overflow(claimed, dataStart, &claimed);
        if (probe == 0 && !compressed && (overflow || claimed > file->Fptr->filesize)) {
            failure = FitsFailure::Cfitsio;
            status = END_OF_FILE;
        }
        close();
        return false;
    }
    width = static_cast<int>(naxes[0]);
    height = imageHeight = static_cast<int>(naxes[1]);
    axes = naxis;
    if (axes == 2)
        readBayerKeywords();
    return true;
}

void FitsReader::readBayerKeywords()
{
    // Missing keywords are the rule, not a failure: each lookup has its own status.
    char value[FLEN_VALUE] = {};
    int keyStatus = 0;
    if (ffgkys(file, "BAYERPAT", value, nullptr, &keyStatus) == 0)
        bayerPattern = QString::fromLatin1(value).trimmed();
    long offset = 0;
    keyStatus = 0;
    if (ffgkyj(file, "XBAYROFF", &offset, nullptr, &keyStatus) == 0)
        bayerOffsetX = static_cast<int>(offset % 2);
    keyStatus = 0;
    if (ffgkyj(file, "YBAYROFF", &offset, nullptr, &keyStatus) == 0)
        bayerOffsetY = static_cast<int>(offset % 2);
    keyStatus = 0;
    if (ffgkys(file, "ROWORDER", value, nullptr, &keyStatus) == 0)
        rowsBottomUp =
            QString::fromLatin1(value).trimmed().compare(QLatin1String("BOTTOM-UP"), Qt::CaseInsensitive) == 0;
}

std::uint64_t FitsReader::bytesHeldForFile() const
{
    std::uint64_t bytes = unpackedSize;
    if (file && file->Fptr->compressimg) {
        // cfitsio decompresses a whole tile for any pixel of it, into values of up to 8 bytes.
        constexpr std::uint64_t kBytesPerTilePixel = 8;
        std::uint64_t tile = kBytesPerTilePixel;
        for (int axis = 0; axis < file->Fptr->zndim && axis < MAX_COMPRESS_DIM; ++axis) {
            const auto length = static_cast<std::uint64_t>(std::max(1L, file->Fptr->tilesize[axis]));
            if (__builtin_mul_overflow(tile, length, &tile))
                return UINT64_MAX;
        }
        bytes += tile;
    }
    return bytes;
}

QString FitsReader::failureText() const
{
    if (failure == FitsFailure::DamagedCompression)
        return reason;
    char text[FLEN_STATUS] = {};
    ffgerr(status, text);
    return QString::fromLatin1(text);
}

int FitsReader::rowsInBand(int firstRow, int rowCount) const
{
    if (firstRow < 0 || rowCount <= 0 || firstRow >= imageHeight)
        return 0;
    return rowCount > imageHeight - firstRow ? imageHeight - firstRow : rowCount;
}

bool FitsReader::bandInFile(int firstRow, int rows)
{
    int compressed = fits_is_compressed_image(file, &status);
    LONGLONG headStart = 0;
    LONGLONG dataStart = 0;
    LONGLONG dataEnd = 0;
    ffghadll(file, &headStart, &dataStart, &dataEnd, &status);
    if (status != 0) {
        failure = FitsFailure::Cfitsio;
        return false;
    }
    if (compressed)
        return true;
    // The last byte of the band lies in the last plane read. A header may claim sizes whose
    // byte count overflows; such a band is not in any file.
    const LONGLONG rowsBefore = LONGLONG(planeCount() - 1) * imageHeight + firstRow + rows;
    LONGLONG bandEnd = 0;
    const bool overflow = __builtin_mul_overflow(rowsBefore, LONGLONG(width), &bandEnd)
        || __builtin_mul_overflow(bandEnd, LONGLONG(bitsPerSample / 8), &bandEnd)
        || __builtin_add_overflow(bandEnd, dataStart, &bandEnd);
    if (overflow || bandEnd > file->Fptr->filesize) {
        // What cfitsio itself reports when a read runs past the end.
        status = END_OF_FILE;
        failure = FitsFailure::Cfitsio;
        return false;
    }
    return true;
}

bool FitsReader::readRows(int firstRow, int rows)
{
    ownsPlanes = 0;
    const std::int64_t planeFloats = static_cast<std::int64_t>(width) * rows;
    const std::int64_t floats = planeFloats * planeCount();
    if (floats > planesCapacity) {
        // The smaller array goes before the larger one is asked for.
        planes.reset();
        planesCapacity = 0;
        planes.reset(new (std::nothrow) float[static_cast<std::size_t>(floats)]);
        if (!planes) {
            failure = FitsFailure::TooLarge;
            bytesNeeded = static_cast<std::uint64_t>(floats) * sizeof(float);
            return false;
        }
        planesCapacity = floats;
    }
    int anyNull = 0;
    for (int plane = 0; plane < planeCount() && status == 0; ++plane) {
        LONGLONG firstPixel[3] = {1, firstRow + 1, plane + 1};
        ffgpxvll(file, TFLOAT, firstPixel, planeFloats, nullptr, planes.get() + plane * planeFloats, &anyNull,
                 &status);
    }
    if (status != 0) {
        failure = FitsFailure::Cfitsio;
        planes.reset();
        planesCapacity = 0;
        return false;
    }
    height = rows;
    ownsPlanes = 1;
    return true;
}

void FitsReader::copyInto(ImageBuffer &buffer, int bufferRow) const
{
    const std::int64_t planeFloats = static_cast<std::int64_t>(width) * height;
    const float *red = planes.get();
    const float *green = planeCount() == 1 ? red : red + planeFloats;
    const float *blue = planeCount() == 1 ? red : red + 2 * planeFloats;
    float *out = buffer.pixel(0, bufferRow);
    for (std::int64_t i = 0; i < planeFloats; ++i) {
        out[0] = red[i];
        out[1] = green[i];
        out[2] = blue[i];
        out[3] = 1.0f;
        out += ImageBuffer::kFloatsPerPixel;
    }
}
