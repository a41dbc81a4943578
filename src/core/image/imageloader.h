#pragma once
// Reads image files into ImageBuffers: the whole image, a band of rows, or only the size.
// The reader is chosen by the file name's extension alone, compared in lower case:
// cr2/nef are camera RAW (LibRaw), fts/fit/fits are FITS (cfitsio), and so are the compressed
// names .fz, .fit.gz, .fits.gz and .fts.gz (see isFitsFileName); jpg/jpeg/png/tif/tiff/bmp
// are standard images (decoded by whatever the front end installed, see
// standardimagedecoder.h). Rows are 0-based from the top, in file order. A folder, pipe,
// device or socket is refused (kNotARegularFile) before anything opens it, and a file shorter
// than its header says is refused as damaged before its claimed size is weighed against memory.
//
// Threads: one loader per thread. Loads share nothing, so several loaders may run at once.
// Ownership: the caller owns every buffer returned; the log is borrowed and must outlive
// the loader. No exception leaves a load: running out of memory is a failure like any other.
#include "imagebuffer.h"
#include "log/errorcodes.h"

#include <QString>

#include <cstdint>
#include <memory>

class MessageLog;
struct FitsReader;

// Error codes left in ImageLoader::errorCode besides 0 (success), LibRaw's own codes
// (negative) and cfitsio statuses (positive, below 1000): see errorcodes.h.

// What a load does beyond reading the file as it stands. Everything is off by default, and
// then every load gives what it gave before these options existed.
struct LoadOptions {
    // A FITS image of one plane whose BAYERPAT names a colour mosaic (RGGB, BGGR, GRBG or
    // GBRG; XBAYROFF and YBAYROFF applied) loads as a colour image, interpolated bilinearly
    // (debayer.h): whole loads, bands and masters alike. Other images load as they are.
    bool debayer = false;
};

// The options every ImageLoader starts with. A front end sets them before a run starts, from
// the user's preferences (desktop program) or its arguments (command line); core never reads
// the settings itself. Any thread may read them; a change reaches loaders created after it.
void setDefaultLoadOptions(const LoadOptions &options);
LoadOptions defaultLoadOptions();

class ImageLoader {
public:
    ImageLoader();

    // The whole image, or null with errorCode set and one error line in the log. verbose
    // adds the progress lines meant for an interactive open.
    std::unique_ptr<ImageBuffer> loadFile(const QString &path, bool verbose);
    // Rows firstRow ... firstRow + rowCount - 1, clipped at the last row. A RAW band is
    // `width` pixels wide; FITS and standard images give their own width. Logs nothing.
    std::unique_ptr<ImageBuffer> loadRows(const QString &path, int firstRow, int width, int rowCount);
    // Width and height without reading pixels; 0 x 0 on any failure. Logs nothing.
    void querySize(const QString &path, int &width, int &height);
    // The line a whole load logs when it debayers the file under the current options
    // ("Debayered <path> (GRBG, bilinear)"), or an empty string; reads the header only (a
    // gzip file is unpacked for it). For runs that read frames in bands, which log nothing.
    QString debayerNote(const QString &path);

    // Where loadFile writes; the global message log unless the caller sets another
    // (nullptr also means the global log).
    MessageLog *log;
    // 0 after a successful load, else the code of the last failure.
    int errorCode = 0;
    // From defaultLoadOptions() when the loader is created; a caller may change them.
    LoadOptions options;
    // Largest number of bytes a FITS load may ask for; 0 means the machine's physical memory.
    std::uint64_t memoryCeiling = 0;
    // A buffer the next loadRows of a FITS band reads into instead of a fresh one, when it has
    // the band's width and at least its rows: a stack reads band after band of the same size, and
    // fresh memory costs more to touch than the reading itself. The next loadRows takes it
    // either way.
    std::unique_ptr<ImageBuffer> reusableBuffer;

private:
    std::unique_ptr<ImageBuffer> loadRaw(const QString &path, bool verbose);
    std::unique_ptr<ImageBuffer> loadFits(const QString &path, bool verbose);
    std::unique_ptr<ImageBuffer> loadStandard(const QString &path);
    // The FITS pixels of rows firstRow ... firstRow + rowCount - 1 (clipped); wholeImage
    // ignores both and reads every row.
    std::unique_ptr<ImageBuffer> readFits(const QString &path, bool wholeImage, int firstRow, int rowCount,
                                          bool verbose, std::unique_ptr<ImageBuffer> reusable = nullptr);
    std::unique_ptr<ImageBuffer> decodeStandard(const QString &path);
    std::unique_ptr<ImageBuffer> standardBand(const QString &path, int firstRow, int rowCount);
    bool withinMemoryCeiling(std::uint64_t bytes) const;
    // False (with kNotEnoughMemory) when a compressed FITS file claims to unpack to more than
    // the ceiling; cfitsio would allocate that much on opening it.
    bool compressedSizeAcceptable(const QString &path);
    // Takes the code, the bytes asked for and the reason of a failed FITS read.
    void noteFailure(const FitsReader &reader);
    MessageLog &sink() const;
    // After a failure that ran out of memory: the bytes asked for, 0 when not known.
    std::uint64_t bytesNeeded = 0;
    // After a failed FITS read: why, in words (logged for compressed files).
    QString failureReason;
    // After a FITS read that interpolated a mosaic: its pattern for the log, else empty.
    QString debayeredAs;
};
