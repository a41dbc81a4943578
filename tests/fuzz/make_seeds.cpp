// Writes a small seed corpus for fuzz_fitsloader into the folder given as the argument:
// one file per BITPIX, grey and colour, unsigned 16-bit, and a few odd layouts.
#include "support/fitsfixture.h"

#include <QDir>

#include <cstdio>

using namespace testsupport;

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path()))
        return 1;
    int failures = 0;
    auto write = [&](const QString &name, const FitsImage &image) {
        failures += writeFitsFile(folder.filePath(name), image) != 0;
    };
    for (int bitpix : {8, 16, 32, 64, -32, -64}) {
        write(QStringLiteral("grey%1.fits").arg(bitpix), fitsImage(bitpix, 7, 5));
        write(QStringLiteral("colour%1.fits").arg(bitpix), fitsImage(bitpix, 5, 4, 3));
    }
    FitsImage unsigned16 = fitsImage(16, 6, 6);
    unsigned16.bzero = 32768;
    write(QStringLiteral("unsigned16.fits"), unsigned16);
    write(QStringLiteral("fourplanes.fits"), fitsImage(16, 4, 4, 4));
    write(QStringLiteral("twoplanes.fits"), fitsImage(8, 4, 4, 2));
    write(QStringLiteral("line.fits"), FitsImage{16, {9}, {}, 0.0});
    return failures == 0 ? 0 : 1;
}
