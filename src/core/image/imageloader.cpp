#include "imageloader.h"

#include "debayer.h"
#include "fitsreader.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"
#include "platform/machine.h"
#include "rawreader.h"
#include "standardimagedecoder.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <limits>
#include <sys/stat.h>

namespace {

enum class Format { Raw, Fits, Standard, Unreadable };

Format formatOf(const QString &path)
{
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("cr2") || extension == QLatin1String("nef"))
        return Format::Raw;
    if (isFitsFileName(path))
        return Format::Fits;
    static const char *const standard[] = {"jpg", "jpeg", "png", "tif", "bmp", "tiff"};
    for (const char *name : standard) {
        if (extension == QLatin1String(name))
            return Format::Standard;
    }
    return Format::Unreadable;
}

// FITS pixels are read a band of rows at a time and interleaved while the band is still in
// the cache, so a whole-image load never holds the planes of the full image next to the
// buffer. About 2 MB of planes per read.
constexpr std::int64_t kFloatsPerFitsRead = 512 * 1024;

int fitsErrorCode(const FitsReader &reader)
{
    switch (reader.failure) {
    case FitsFailure::UnsupportedLayout: return kFitsUnsupportedLayout;
    case FitsFailure::TooLarge: return kNotEnoughMemory;
    case FitsFailure::DamagedCompression: return kCompressedDataDamaged;
    case FitsFailure::Cfitsio:
    case FitsFailure::None: break;
    }
    return reader.status;
}

QString memoryText(std::uint64_t bytes)
{
    return bytes != 0 ? notEnoughMemoryText(bytes) : notEnoughMemoryText(std::bad_alloc());
}

std::atomic<bool> defaultDebayer{false};

// The decoder's own image (at most 8 bytes a pixel, 16-bit colour) and its 32-bit copy.
constexpr std::uint64_t kStandardDecoderBytesPerPixel = 12;

// What decoding a width x height standard image holds at its peak: the decoder's images and
// the loaded buffer; UINT64_MAX when that overflows.
std::uint64_t standardDecodeBytes(int width, int height)
{
    const std::uint64_t buffer = ImageBuffer::bytesFor(width, height);
    std::uint64_t total = 0;
    if (buffer == UINT64_MAX
        || __builtin_mul_overflow(std::uint64_t(width) * std::uint64_t(height), kStandardDecoderBytesPerPixel, &total)
        || __builtin_add_overflow(total, buffer, &total))
        return UINT64_MAX;
    return total;
}

// A folder, pipe, device or socket under an image's name: refused before anything opens it,
// since opening a pipe waits until something writes to it. A name that does not exist is left
// to the readers, whose codes say so.
bool isNonRegularFile(const QString &path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISREG(status.st_mode);
}

// The mosaic a load interpolates: a grey image of at least 2 x 2 pixels whose header names
// one of the four patterns, when the options ask for it.
std::optional<BayerLayout> mosaicToInterpolate(const FitsReader &reader, const LoadOptions &options)
{
    if (!options.debayer || reader.axes != 2 || !canDebayer(reader.width, reader.imageHeight))
        return std::nullopt;
    // A file storing the camera's rows last to first starts the pattern at its last row.
    const int rowShift = reader.rowsBottomUp ? reader.imageHeight - 1 : 0;
    return bayerLayout(reader.bayerPattern, reader.bayerOffsetX, reader.bayerOffsetY + rowShift);
}

QString describeLayout(const FitsReader &reader)
{
    QString text = reader.bayerPattern.trimmed().toUpper();
    if (reader.bayerOffsetX != 0 || reader.bayerOffsetY != 0)
        text += QStringLiteral(" offset %1,%2").arg(reader.bayerOffsetX).arg(reader.bayerOffsetY);
    if (reader.rowsBottomUp)
        text += QStringLiteral(" bottom-up");
    return text;
}

} // namespace

void setDefaultLoadOptions(const LoadOptions &options)
{
    defaultDebayer.store(options.debayer);
}

LoadOptions defaultLoadOptions()
{
    LoadOptions options;
    options.debayer = defaultDebayer.load();
    return options;
}

ImageLoader::ImageLoader() : log(&messageLog()), options(defaultLoadOptions()) {}

MessageLog &ImageLoader::sink() const
{
    return log ? *log : messageLog();
}

std::unique_ptr<ImageBuffer> ImageLoader::loadFile(const QString &path, bool verbose)
{
    errorCode = 0;
    bytesNeeded = 0;
    if (isNonRegularFile(path)) {
        errorCode = kNotARegularFile;
        sink().logMessage(failureLine(QStringLiteral("Cannot read"), path, inputFileProblem(path)));
        return nullptr;
    }
    switch (formatOf(path)) {
    case Format::Raw: return loadRaw(path, verbose);
    case Format::Fits: return loadFits(path, verbose);
    case Format::Standard: return loadStandard(path);
    case Format::Unreadable: break;
    }
    errorCode = kUnreadableExtension;
    return nullptr;
}

std::unique_ptr<ImageBuffer> ImageLoader::loadRows(const QString &path, int firstRow, int width, int rowCount)
{
    // Only a FITS band reads into it; every other load lets it go at once.
    std::unique_ptr<ImageBuffer> reusable = std::move(reusableBuffer);
    errorCode = 0;
    bytesNeeded = 0;
    if (isNonRegularFile(path)) {
        errorCode = kNotARegularFile;
        return nullptr;
    }
    switch (formatOf(path)) {
    case Format::Raw: {
        RawReader reader;
        auto buffer = reader.loadBand(path, firstRow, width, rowCount);
        errorCode = reader.errorCode;
        return buffer;
    }
    case Format::Fits: return readFits(path, false, firstRow, rowCount, false, std::move(reusable));
    case Format::Standard: return standardBand(path, firstRow, rowCount);
    case Format::Unreadable: break;
    }
    errorCode = kUnreadableExtension;
    return nullptr;
}

void ImageLoader::querySize(const QString &path, int &width, int &height)
{
    errorCode = 0;
    width = 0;
    height = 0;
    if (isNonRegularFile(path)) {
        errorCode = kNotARegularFile;
        return;
    }
    switch (formatOf(path)) {
    case Format::Raw: {
        RawReader reader;
        reader.readSize(path, width, height);
        errorCode = reader.errorCode;
        return;
    }
    case Format::Fits: {
        if (!compressedSizeAcceptable(path))
            return;
        FitsReader reader(path);
        reader.unpackLimit = memoryCeiling;
        if (reader.readHeader() && reader.openImage()) {
            width = reader.width;
            height = reader.height;
        }
        reader.close();
        errorCode = fitsErrorCode(reader);
        return;
    }
    case Format::Standard: {
        if (StandardImageSizeReader readSize = standardImageSizeReader()) {
            int code = 0;
            if (!readSize(path, width, height, code)) {
                width = height = 0;
                errorCode = code != 0 ? code : kStandardImageUnreadable;
            }
            return;
        }
        if (auto image = decodeStandard(path)) {
            width = image->width;
            height = image->height;
        }
        return;
    }
    case Format::Unreadable: break;
    }
    errorCode = kUnreadableExtension;
}

std::unique_ptr<ImageBuffer> ImageLoader::loadRaw(const QString &path, bool verbose)
{
    if (verbose)
        sink().logMessage(QStringLiteral("Opening RAW file ") + path);
    RawReader reader;
    auto buffer = reader.loadImage(path);
    errorCode = reader.errorCode;
    if (!buffer) {
        sink().logMessage(QStringLiteral("Error loading RAW file."));
        if (errorCode == kNotEnoughMemory)
            sink().logMessage(memoryText(reader.bytesNeeded));
        return nullptr;
    }
    if (verbose)
        sink().logMessage(QStringLiteral("Loading done."));
    return buffer;
}

std::unique_ptr<ImageBuffer> ImageLoader::loadFits(const QString &path, bool verbose)
{
    if (verbose)
        sink().logMessage(QStringLiteral("Loading FITS file ") + path);
    failureReason.clear();
    debayeredAs.clear();
    auto buffer = readFits(path, true, 0, 0, verbose);
    if (!buffer) {
        sink().logMessage(QStringLiteral("Error reading FITS file."));
        if (errorCode == kNotEnoughMemory)
            sink().logMessage(memoryText(bytesNeeded));
        else if (!failureReason.isEmpty() && isCompressedFitsName(path))
            sink().logMessage(QStringLiteral("Cannot read %1: %2").arg(path, failureReason));
        return nullptr;
    }
    if (!debayeredAs.isEmpty())
        sink().logMessage(QStringLiteral("Debayered %1 (%2, bilinear)").arg(path, debayeredAs));
    if (verbose)
        sink().logMessage(QStringLiteral("Loading done."));
    return buffer;
}

std::unique_ptr<ImageBuffer> ImageLoader::readFits(const QString &path, bool wholeImage, int firstRow, int rowCount,
                                                   bool verbose, std::unique_ptr<ImageBuffer> reusable)
{
    if (!compressedSizeAcceptable(path))
        return nullptr;
    FitsReader reader(path);
    reader.unpackLimit = memoryCeiling;
    if (!reader.readHeader() || !reader.openImage()) {
        noteFailure(reader);
        return nullptr;
    }
    if (wholeImage) {
        firstRow = 0;
        rowCount = reader.imageHeight;
    }
    const int rows = reader.rowsInBand(firstRow, rowCount);
    if (rows == 0) {
        errorCode = kBandOutsideImage;
        return nullptr;
    }
    // A mosaic is read with the row above and below each read, which interpolation needs.
    const std::optional<BayerLayout> mosaic = mosaicToInterpolate(reader, options);
    // A file shorter than its header says is damaged, whatever size it claims: saying so
    // comes before weighing that size against the memory.
    const RowRange fileRows = mosaic ? debayerSourceRows(firstRow, rows, reader.imageHeight) : RowRange{firstRow, rows};
    if (!reader.bandInFile(fileRows.first, fileRows.count)) {
        noteFailure(reader);
        return nullptr;
    }
    const int rowsPerRead = static_cast<int>(
        std::clamp<std::int64_t>(kFloatsPerFitsRead / (std::int64_t(reader.width) * reader.planeCount()), 1, rows));
    // Refuse before allocating: a header alone can ask for more than the machine has.
    const std::uint64_t bufferBytes = ImageBuffer::bytesFor(reader.width, rows);
    // A compressed file is held unpacked in memory for the whole load (gzip), or a tile of it
    // at a time (tile compression).
    const std::uint64_t heldBytes = std::max(reader.bytesHeldForFile(), fitsDecompressedSize(path));
    const int marginRows = mosaic ? 2 : 0;
    const std::uint64_t workingBytes = std::uint64_t(reader.width) * std::uint64_t(rowsPerRead + marginRows)
        * reader.planeCount() * sizeof(float);
    std::uint64_t totalBytes = 0;
    if (bufferBytes == UINT64_MAX || __builtin_add_overflow(bufferBytes, workingBytes, &totalBytes)
        || __builtin_add_overflow(totalBytes, heldBytes, &totalBytes) || !withinMemoryCeiling(totalBytes)) {
        errorCode = kNotEnoughMemory;
        bytesNeeded = bufferBytes == UINT64_MAX ? UINT64_MAX : totalBytes;
        return nullptr;
    }
    std::unique_ptr<ImageBuffer> buffer = std::move(reusable);
    if (buffer && buffer->width == reader.width && buffer->height >= rows && buffer->hasPixels())
        buffer->keepFirstRows(rows);
    else
        buffer.reset();
    try {
        // Every float is written by the band reads below.
        if (!buffer)
            buffer = ImageBuffer::createUnfilled(reader.width, rows);
    } catch (const AllocationFailure &failure) {
        errorCode = kNotEnoughMemory;
        bytesNeeded = failure.bytes;
        return nullptr;
    }
    for (int done = 0; done < rows; done += rowsPerRead) {
        const int readRows = std::min(rowsPerRead, rows - done);
        const RowRange source = mosaic ? debayerSourceRows(firstRow + done, readRows, reader.imageHeight)
                                       : RowRange{firstRow + done, readRows};
        if (!reader.readRows(source.first, source.count)) {
            noteFailure(reader);
            return nullptr;
        }
        if (mosaic)
            debayerBilinear(reader.planes.get(), source.first, reader.width, reader.imageHeight, *mosaic,
                            firstRow + done, readRows, *buffer, done);
        else
            reader.copyInto(*buffer, done);
    }
    reader.close();
    if (reader.status != 0) {
        noteFailure(reader);
        return nullptr;
    }
    if (verbose)
        sink().logMessage(QStringLiteral("File read, processing..."));
    buffer->whiteLevel = reader.fullScale;
    buffer->blackLevel = 0.0f;
    buffer->channels = mosaic ? 3 : reader.axes;
    if (mosaic)
        debayeredAs = describeLayout(reader);
    return buffer;
}

std::unique_ptr<ImageBuffer> ImageLoader::loadStandard(const QString &path)
{
    sink().logMessage(QStringLiteral("Loading standard image ") + path);
    if (!standardImageDecoder()) {
        errorCode = kUnreadableExtension;
        return nullptr;
    }
    auto buffer = decodeStandard(path);
    if (!buffer) {
        sink().logMessage(QStringLiteral("Error loading standard image."));
        if (errorCode == kNotEnoughMemory)
            sink().logMessage(memoryText(bytesNeeded));
    }
    return buffer;
}

std::unique_ptr<ImageBuffer> ImageLoader::standardBand(const QString &path, int firstRow, int rowCount)
{
    // Standard images cannot be read in part: decode the whole and cut the band out.
    auto image = decodeStandard(path);
    if (!image)
        return nullptr;
    if (firstRow < 0 || firstRow >= image->height || rowCount <= 0) {
        errorCode = kBandOutsideImage;
        return nullptr;
    }
    const int rows = std::min(rowCount, image->height - firstRow);
    try {
        auto band = ImageBuffer::createUnfilled(image->width, rows);
        std::memcpy(band->data.get(), image->pixel(0, firstRow),
                    static_cast<std::size_t>(band->floatCount) * sizeof(float));
        band->whiteLevel = image->whiteLevel;
        band->blackLevel = image->blackLevel;
        band->channels = image->channels;
        return band;
    } catch (const AllocationFailure &failure) {
        errorCode = kNotEnoughMemory;
        bytesNeeded = failure.bytes;
        return nullptr;
    }
}

std::unique_ptr<ImageBuffer> ImageLoader::decodeStandard(const QString &path)
{
    const StandardImageDecoder decode = standardImageDecoder();
    if (!decode) {
        errorCode = kUnreadableExtension;
        return nullptr;
    }
    // A header of a few bytes can claim millions of pixels, which the decoder would allocate
    // and fill before finding the data missing: the claimed size is weighed first.
    int claimedWidth = 0;
    int claimedHeight = 0;
    int sizeCode = 0;
    const StandardImageSizeReader readSize = standardImageSizeReader();
    if (readSize && readSize(path, claimedWidth, claimedHeight, sizeCode)) {
        const std::uint64_t bytes = standardDecodeBytes(claimedWidth, claimedHeight);
        if (!withinMemoryCeiling(bytes)) {
            errorCode = kNotEnoughMemory;
            bytesNeeded = bytes;
            return nullptr;
        }
    }
    int code = 0;
    std::unique_ptr<ImageBuffer> buffer;
    try {
        buffer = decode(path, code);
    } catch (const AllocationFailure &failure) {
        errorCode = kNotEnoughMemory;
        bytesNeeded = failure.bytes;
        return nullptr;
    } catch (const std::bad_alloc &) {
        errorCode = kNotEnoughMemory;
        return nullptr;
    }
    if (!buffer)
        errorCode = code != 0 ? code : kStandardImageUnreadable;
    return buffer;
}

QString ImageLoader::debayerNote(const QString &path)
{
    if (!options.debayer || formatOf(path) != Format::Fits || isNonRegularFile(path))
        return QString();
    FitsReader reader(path);
    reader.unpackLimit = memoryCeiling;
    if (!reader.openImage() || !mosaicToInterpolate(reader, options))
        return QString();
    return QStringLiteral("Debayered %1 (%2, bilinear)").arg(path, describeLayout(reader));
}

void ImageLoader::noteFailure(const FitsReader &reader)
{
    errorCode = fitsErrorCode(reader);
    bytesNeeded = reader.bytesNeeded;
    if (reader.failure == FitsFailure::Cfitsio || reader.failure == FitsFailure::DamagedCompression)
        failureReason = reader.failureText();
}

bool ImageLoader::compressedSizeAcceptable(const QString &path)
{
    const std::uint64_t bytes = fitsDecompressedSize(path);
    if (withinMemoryCeiling(bytes))
        return true;
    errorCode = kNotEnoughMemory;
    bytesNeeded = bytes;
    return false;
}

bool ImageLoader::withinMemoryCeiling(std::uint64_t bytes) const
{
    const std::uint64_t ceiling = memoryCeiling != 0 ? memoryCeiling : queryPhysicalMemory().totalBytes;
    // A machine that does not report its memory gets the benefit of the doubt.
    return ceiling == 0 || bytes <= ceiling;
}
