// Writes the seed corpora of the fuzz targets into <corpus folder>/<target>/:
//   fuzz_make_seeds <corpus folder> [folder of real test data]
// FITS files of every BITPIX and a few odd layouts; tiny DNG files (which LibRaw reads under
// any name) and, when the data folder is given, the damaged camera files in raw/bad; small
// PNG, JPEG, TIFF and BMP images; star fields in fuzz_starfinder's encoding; console lines.
// Inputs that once found a fault are kept beside the seeds as found-*, so that every short run
// tries them again; this program leaves them alone.
#include "starfuzzinput.h"
#include "support/dngwriter.h"
#include "support/fitsfixture.h"
#include "testdata/starfield.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

using namespace testsupport;

namespace {

int failures = 0;

void note(bool written, const QString &path)
{
    if (!written) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
    }
}

void writeFitsSeeds(const QDir &folder)
{
    auto write = [&](const QString &name, const FitsImage &image) {
        note(writeFitsFile(folder.filePath(name), image) == 0, folder.filePath(name));
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
}

void writeRawSeeds(const QDir &folder, const QString &dataFolder)
{
    const struct {
        const char *name;
        DngImage image;
    } dngs[] = {
        // LibRaw refuses images narrower or lower than 22 pixels.
        {"bayer.dng", dngImage(24, 22, DngLayout::BayerRggb)},
        {"linear.dng", dngImage(22, 22, DngLayout::LinearRgb)},
        {"flat.dng", flatBayerDng(26, 24, 1000, 2000, 3000)},
    };
    for (const auto &dng : dngs) {
        const QString path = folder.filePath(QLatin1String(dng.name));
        note(writeDng(path, dng.image), path);
    }
    if (dataFolder.isEmpty())
        return;
    const QDir bad(dataFolder + QStringLiteral("/raw/bad"));
    for (const QString &name : bad.entryList(QDir::Files)) {
        QFile::remove(folder.filePath(name));
        note(QFile::copy(bad.filePath(name), folder.filePath(name)), folder.filePath(name));
    }
}

void writeStandardSeeds(const QDir &folder)
{
    QImage colour(8, 6, QImage::Format_RGB32);
    for (int y = 0; y < colour.height(); ++y)
        for (int x = 0; x < colour.width(); ++x)
            colour.setPixel(x, y, qRgb(x * 30, y * 40, (x + y) * 15));
    const QImage grey = colour.convertToFormat(QImage::Format_Grayscale8);
    const QImage alpha = colour.convertToFormat(QImage::Format_ARGB32);
    const QImage deep = colour.convertToFormat(QImage::Format_RGBX64);
    const QImage indexed = colour.convertToFormat(QImage::Format_Indexed8);
    const struct {
        const char *name;
        const QImage &image;
        const char *format;
        int quality;
    } seeds[] = {
        {"colour.png", colour, "png", -1},       {"grey.png", grey, "png", -1},
        {"alpha.png", alpha, "png", -1},         {"sixteen.png", deep, "png", -1},
        {"indexed.png", indexed, "png", -1},     {"colour.jpg", colour, "jpg", 90},
        {"grey.jpg", grey, "jpg", 50},           {"colour.tif", colour, "tiff", -1},
        {"grey.tif", grey, "tiff", -1},          {"colour.bmp", colour, "bmp", -1},
        {"indexed.bmp", indexed, "bmp", -1},
    };
    for (const auto &seed : seeds) {
        const QString path = folder.filePath(QLatin1String(seed.name));
        QImageWriter writer(path, seed.format);
        writer.setQuality(seed.quality);
        note(writer.write(seed.image), path);
    }
    // A progressive JPEG and an LZW-compressed TIFF take other paths through their decoders.
    const QString progressive = folder.filePath(QStringLiteral("progressive.jpg"));
    QImageWriter jpeg(progressive, "jpg");
    jpeg.setProgressiveScanWrite(true);
    note(jpeg.write(colour), progressive);
    const QString lzw = folder.filePath(QStringLiteral("lzw.tif"));
    QImageWriter tiff(lzw, "tiff");
    tiff.setCompression(1);
    note(tiff.write(colour), lzw);
}

// A star field in fuzz_starfinder's encoding: `stars` Gaussian stars on a sky of 0.1.
QByteArray starSeed(int width, int height, int s, std::uint8_t flags, int encoding, int stars, float threshold,
                    std::uint32_t seed)
{
    const bool colour = flags & fuzzing::kStarColour;
    auto image = flatImage(width, height, 0.1f, colour);
    std::mt19937 random(seed);
    // Stars stay 2s from the edges, where the finder looks.
    std::uniform_real_distribution<double> across(2.0 * s, width - 2.0 * s - 1), down(2.0 * s, height - 2.0 * s - 1),
        peak(0.2, 0.8);
    for (int i = 0; i < stars; ++i) {
        const double x = across(random);
        const double y = down(random);
        addGaussianStar(*image, x, y, peak(random), 1.2, 1.2);
    }
    QByteArray bytes(int(fuzzing::kStarHeaderBytes), '\0');
    bytes[0] = char(width - 8);
    bytes[1] = char(height - 8);
    bytes[2] = char(s - 1);
    bytes[3] = char(flags | (encoding << 4));
    const float saturation = 0.98f;
    std::memcpy(bytes.data() + 4, &threshold, 4);
    std::memcpy(bytes.data() + 8, &saturation, 4);
    bytes[12] = char(3);
    bytes[13] = char(-2);
    bytes[14] = char(1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float *p = image->pixel(x, y);
            for (int c = 0; c < (colour ? 3 : 1); ++c) {
                const float v = std::clamp(p[c], 0.0f, 1.0f);
                if (encoding == fuzzing::kStarFloat) {
                    bytes.append(reinterpret_cast<const char *>(&p[c]), 4);
                } else if (encoding == fuzzing::kStarWords) {
                    const auto word = static_cast<std::uint16_t>(std::lround(v * 65535.0f));
                    bytes.append(char(word & 0xff)).append(char(word >> 8));
                } else {
                    bytes.append(char(std::lround(v * 255.0f)));
                }
            }
        }
    }
    return bytes;
}

void writeStarSeeds(const QDir &folder)
{
    using namespace fuzzing;
    const struct {
        const char *name;
        QByteArray bytes;
    } seeds[] = {
        {"grey-bytes", starSeed(64, 64, 3, 0, kStarBytes, 25, 0.1f, 1)},
        {"grey-runs-marked", starSeed(48, 40, 2, kStarPatternRuns | kStarMarked, kStarBytes, 15, 0.1f, 2)},
        {"colour-words", starSeed(40, 32, 2, kStarColour, kStarWords, 12, 0.1f, 3)},
        {"float-auto", starSeed(32, 32, 2, kStarAutoThreshold, kStarFloat, 8, 0.1f, 4)},
        {"specials", starSeed(40, 40, 2, 0, kStarBytesWithSpecials, 12, 0.05f, 5)},
    };
    for (const auto &seed : seeds) {
        const QString path = folder.filePath(QLatin1String(seed.name));
        note(writeBytes(path, seed.bytes), path);
    }
}

void writeConsoleSeeds(const QDir &folder)
{
    const char *const lines[] = {
        "open -f \"my frame.fits\"",
        "starsearch -s 10 -t 0.1 -m 0.98",
        "preview -l -0.5 -h 1.5 -s 3",
        "gain  -r 1.2 -g  -b \"",
        "help",
        "checkvals -x\n-f\n\"a b  c\"\n-t\n-0.25",
    };
    int index = 0;
    for (const char *line : lines) {
        const QString path = folder.filePath(QStringLiteral("line%1").arg(++index));
        note(writeBytes(path, QByteArray(line)), path);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <corpus folder> [folder of real test data]\n", argv[0]);
        return 2;
    }
    // Writing JPEG and TIFF goes through Qt's image plugins.
    QGuiApplication::setAttribute(Qt::AA_PluginApplication);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const QString dataFolder = argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString();
    const auto folder = [&](const char *name) {
        const QDir dir(root.filePath(QLatin1String(name)));
        note(QDir().mkpath(dir.path()), dir.path());
        return dir;
    };
    writeFitsSeeds(folder("fitsloader"));
    writeRawSeeds(folder("rawloader"), dataFolder);
    writeStandardSeeds(folder("standardimage"));
    writeStarSeeds(folder("starfinder"));
    writeConsoleSeeds(folder("consoleparser"));
    return failures == 0 ? 0 : 1;
}
