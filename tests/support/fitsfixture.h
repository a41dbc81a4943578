#pragma once
// FITS files for tests, written through cfitsio, and raw header blocks for files that
// cfitsio would refuse to write (absurd sizes, missing data). Values are given in file
// order: plane after plane, each plane row-major from the first row of the file.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class ImageBuffer;

namespace testsupport {

struct FitsImage {
    int bitpix = 16;
    std::vector<long> axes; // NAXIS1, NAXIS2 [, NAXIS3 ...]; any count from 1
    std::vector<double> values;
    // Written as BZERO when non-zero, e.g. 32768 for unsigned 16-bit; values are then the
    // physical values, which cfitsio stores offset by it.
    double bzero = 0.0;
};

// Creates the file, its name taken literally (replacing one left by an earlier test).
// Values missing at the end are 0. `cards` are further header records, each a whole card
// such as "BAYERPAT= 'RGGB'".
// Returns the cfitsio status, 0 on success.
int writeFitsFile(const QString &path, const FitsImage &image, const QStringList &cards = {});

// A width x height (x planes) image whose value at (x, y, plane) is valueAt(x, y, plane).
FitsImage fitsImage(int bitpix, int width, int height, int planes = 0);
double valueAt(int x, int y, int plane);

// A frame of `planes` planes (0: a grey two-axis image) whose value at (x, y, plane) is
// value(x, y, plane), written with EXPECT on success; BITPIX 16 is stored unsigned (BZERO
// 32768). Returns the path.
using PixelValue = std::function<double(int x, int y, int plane)>;
QString writeFrame(const QString &path, int width, int height, const PixelValue &value, int bitpix = -32,
                   int planes = 3);
QString writeConstantFrame(const QString &path, int width, int height, double value, int bitpix = -32,
                           int planes = 3);

// Loads an image file as the program does, its log lines dropped; null if it cannot.
std::unique_ptr<ImageBuffer> loadImage(const QString &path);

// A primary header of the given cards (each "KEYWORD = value" or a whole card) followed by
// END and padded to whole 2880-byte blocks; append data bytes yourself.
QByteArray fitsHeaderBlock(const QStringList &cards);

// Writes bytes to a file; false if it cannot.
bool writeBytes(const QString &path, const QByteArray &bytes);

} // namespace testsupport
