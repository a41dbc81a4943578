#pragma once
// The working record of one FITS file read or write through cfitsio. One record per file and
// per thread; nothing in it is shared, so several records may be used on several threads at
// once. The record owns its cfitsio handle (closed by close() or the destructor) and its
// plane array.
//
// Pixel layout of `planes`: plane after plane, each plane width x rows floats, row-major in
// file order (file row 1 is our row 0). A colour image holds three planes (red, green, blue);
// a grey image holds one, which stands for all three. Values are as cfitsio returns them as
// floats, with BZERO/BSCALE applied, not divided by fullScale.
#include <QString>
#include <QStringList>

#include <fitsio.h>

#include <cstdint>
#include <memory>

class ImageBuffer;

// Why the last step of a read stopped; the loader turns this into its error code.
enum class FitsFailure {
    None,
    Cfitsio,           // a cfitsio call failed; `status` holds its code
    UnsupportedLayout, // BITPIX not one of the six, NAXIS not 2 or 3, NAXIS3 below 3
    TooLarge,          // the pixels would not fit in this machine's memory; see bytesNeeded
    DamagedCompression // gzip data that end early or fail their check; see `reason`
};

// Whether the file name alone makes a file FITS, compared in lower case: the extensions
// fts, fit and fits, the tile-compressed names .fz (any stem, such as .fits.fz) and the
// gzip-compressed names .fit.gz, .fits.gz and .fts.gz.
bool isFitsFileName(const QString &path);
// Whether the name is one of the compressed ones. Only in such a file does the image
// live beyond an empty primary header, in the first extension that holds one.
bool isCompressedFitsName(const QString &path);

// A gzip or zip file is decompressed whole into memory on opening, sized by what the file's
// trailer or header claims. Returns that claimed size in bytes, or 0 for a file that is not
// compressed that way, so a loader can refuse absurd claims before anything is allocated.
std::uint64_t fitsDecompressedSize(const QString &path);

struct FitsReader {
    // A colour image is read from its first three planes; further planes are ignored.
    static constexpr int kColourPlanes = 3;

    FitsReader() = default;
    explicit FitsReader(const QString &filePath) : path(filePath) {}
    ~FitsReader();
    FitsReader(const FitsReader &) = delete;
    FitsReader &operator=(const FitsReader &) = delete;

    // First pass: opens the file read-only, reads every keyword record into `header`, closes.
    // A gzip-compressed file (whatever its name) is unpacked on the first open, at most to
    // unpackLimit bytes, and every open reads it from memory.
    bool readHeader();
    // Second open: BITPIX gives bitsPerSample and fullScale, NAXIS and the axis sizes give
    // width, height and axes. Leaves the file open for readRows(). Refuses layouts that
    // cannot be loaded before any pixel is read. Under a compressed name an empty primary
    // image gives way to the first extension holding one (a tile-compressed image is
    // stored that way), and every figure is read from there.
    bool openImage();
    // Rows that a band starting at firstRow with rowCount rows keeps, clipped at the last
    // row; 0 when the band lies outside the image. Needs openImage().
    int rowsInBand(int firstRow, int rowCount) const;
    // Whether the file holds every byte of that band. Truncated files are refused here, before
    // anything is allocated for them, because their header alone may ask for gigabytes.
    // Tile-compressed images cannot be measured this way and always pass.
    bool bandInFile(int firstRow, int rows);
    // Reads `rows` rows from firstRow (both already clipped by rowsInBand) of every plane
    // into `planes` and sets `height` to rows. Reuses `planes` when it is large enough.
    bool readRows(int firstRow, int rows);
    // Writes the planes of the last read as pixels (r, g, b, 1.0) into rows bufferRow ...
    // bufferRow + height - 1 of a buffer `width` pixels wide, which the caller sized.
    void copyInto(ImageBuffer &buffer, int bufferRow) const;
    // 3 for a colour image, 1 for a grey one.
    int planeCount() const { return axes == 3 ? kColourPlanes : 1; }
    // Closes the file if open. Keeps the first failing status.
    void close();
    // Bytes held for the file beyond the pixels read: the whole decompressed file of a gzip
    // one, one decompressed tile of a tile-compressed image. Needs openImage().
    std::uint64_t bytesHeldForFile() const;
    // Why the last step failed, in words, for a log line: cfitsio's text for its status, or
    // what was wrong with the compressed data.
    QString failureText() const;

    fitsfile *file = nullptr;
    QString path;
    std::unique_ptr<float[]> planes;
    int ownsPlanes = 0; // 1 once planes holds a complete read
    int status = 0;     // cfitsio status of the last failing call, 0 otherwise
    QStringList header;
    int width = 0;  // NAXIS1
    int height = 0; // NAXIS2; after a band read, the number of rows read
    int bitsPerSample = 0;
    int axes = 0; // 2 for grey, 3 for colour
    float fullScale = 0.0f;

    // Rows in the file (NAXIS2), kept when `height` shrinks to a band.
    int imageHeight = 0;
    // A grey image's colour filter mosaic as its header describes it (BAYERPAT, XBAYROFF,
    // YBAYROFF; ROWORDER 'BOTTOM-UP' says the file stores the camera's rows last to first).
    // Read by openImage(); the pattern is empty when the header names none.
    QString bayerPattern;
    int bayerOffsetX = 0;
    int bayerOffsetY = 0;
    bool rowsBottomUp = false;
    FitsFailure failure = FitsFailure::None;
    // For FitsFailure::TooLarge: the bytes the load would have needed (UINT64_MAX on overflow).
    std::uint64_t bytesNeeded = 0;
    // The most a gzip-compressed file may unpack to, in bytes; 0 means the machine's physical
    // memory. Unpacking stops there whatever the file claims.
    std::uint64_t unpackLimit = 0;
    // For FitsFailure::DamagedCompression: what was wrong; after a failed write (fitswriter.h): why.
    QString reason;

private:
    bool open();
    bool unpackGzip();
    bool moveToFirstImage();
    void readBayerKeywords();

    std::int64_t planesCapacity = 0; // floats allocated in `planes`
    // A gzip-compressed file unpacked once and opened from memory by every open(); cfitsio
    // keeps the addresses of both fields while the file is open.
    struct FreeDeleter {
        void operator()(void *p) const;
    };
    std::unique_ptr<void, FreeDeleter> unpacked;
    void *unpackedData = nullptr;
    std::size_t unpackedSize = 0;
    bool gzipChecked = false;
};
