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
#include <functional>
#include <random>

using namespace testsupport;

namespace {

int failures = 0;

// Writes folder/name with `write`, which is given the path; a failure is reported and counted.
void seed(const QDir &folder, const QString &name, const std::function<bool(const QString &)> &write)
{
    const QString path = folder.filePath(name);
    if (!write(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++failures;
    }
}

void writeFitsSeeds(const QDir &folder)
{
    const auto fits = [&](const QString &name, const FitsImage &image) {
        seed(folder, name, [&](const QString &path) { return writeFitsFile(path, image) == 0; });
    };
    for (int bitpix : {8, 16, 32, 64, -32, -64}) {
        fits(QStringLiteral("grey%1.fits").arg(bitpix), fitsImage(bitpix, 7, 5));
        fits(QStringLiteral("colour%1.fits").arg(bitpix), fitsImage(bitpix, 5, 4, 3));
    }
    FitsImage unsigned16 = fitsImage(16, 6, 6);
    unsigned16.bzero = 32768;
    fits("unsigned16.fits", unsigned16);
    fits("fourplanes.fits", fitsImage(16, 4, 4, 4));
    fits("twoplanes.fits", fitsImage(8, 4, 4, 2));
    fits("line.fits", FitsImage{16, {9}, {}, 0.0});
}

void writeRawSeeds(const QDir &folder, const QString &dataFolder)
{
    // LibRaw refuses images narrower or lower than 22 pixels.
    for (const auto &dng : {std::pair{"bayer.dng", dngImage(24, 22, DngLayout::BayerRggb)},
                            {"linear.dng", dngImage(22, 22, DngLayout::LinearRgb)},
                            {"flat.dng", flatBayerDng(26, 24, 1000, 2000, 3000)}})
        seed(folder, dng.first, [&](const QString &path) { return writeDng(path, dng.second); });
    const QDir bad(dataFolder + QStringLiteral("/raw/bad"));
    for (const QString &name : dataFolder.isEmpty() ? QStringList() : bad.entryList(QDir::Files))
        seed(folder, name, [&](const QString &path) {
            QFile::remove(path);
            return QFile::copy(bad.filePath(name), path);
        });
}

void writeStandardSeeds(const QDir &folder)
{
    QImage colour(8, 6, QImage::Format_RGB32);
    for (int y = 0; y < colour.height(); ++y)
        for (int x = 0; x < colour.width(); ++x)
            colour.setPixel(x, y, qRgb(x * 30, y * 40, (x + y) * 15));
    const QImage grey = colour.convertToFormat(QImage::Format_Grayscale8);
    const QImage indexed = colour.convertToFormat(QImage::Format_Indexed8);
    const QImage alpha = colour.convertToFormat(QImage::Format_ARGB32);
    const QImage deep = colour.convertToFormat(QImage::Format_RGBX64);
    // A progressive JPEG and an LZW-compressed TIFF take other paths through their decoders.
    const struct {
        const char *name;
        const QImage &image;
        const char *format;
        int quality, compression;
        bool progressive;
    } seeds[] = {
        {"colour.png", colour, "png", -1, -1, false},   {"grey.png", grey, "png", -1, -1, false},
        {"indexed.png", indexed, "png", -1, -1, false}, {"alpha.png", alpha, "png", -1, -1, false},
        {"sixteen.png", deep, "png", -1, -1, false},    {"colour.jpg", colour, "jpg", 90, -1, false},
        {"grey.jpg", grey, "jpg", 50, -1, false},       {"colour.tif", colour, "tiff", -1, -1, false},
        {"grey.tif", grey, "tiff", -1, -1, false},      {"colour.bmp", colour, "bmp", -1, -1, false},
        {"indexed.bmp", indexed, "bmp", -1, -1, false}, {"progressive.jpg", colour, "jpg", -1, -1, true},
        {"lzw.tif", colour, "tiff", -1, 1, false},
    };
    for (const auto &s : seeds)
        seed(folder, s.name, [&](const QString &path) {
            QImageWriter writer(path, s.format);
            writer.setQuality(s.quality);
            writer.setCompression(s.compression);
            writer.setProgressiveScanWrite(s.progressive);
            return writer.write(s.image);
        });
}

// A star field in fuzz_starfinder's encoding: `stars` Gaussian stars on a sky of 0.1, 2s from
// the edges, where the finder looks; saturation 0.98, the second frame moved by (3, -2), 1°.
void writeStarSeed(const QDir &folder, const char *name, int width, int height, int s, std::uint8_t flags, int encoding,
                   int stars, float threshold, std::uint32_t randomSeed)
{
    const bool colour = flags & fuzzing::kStarColour;
    auto image = flatImage(width, height, 0.1f, colour);
    std::mt19937 random(randomSeed);
    std::uniform_real_distribution<double> across(2.0 * s, width - 2.0 * s - 1), down(2.0 * s, height - 2.0 * s - 1),
        peak(0.2, 0.8);
    for (int i = 0; i < stars; ++i) {
        const double x = across(random), y = down(random);
        addGaussianStar(*image, x, y, peak(random), 1.2, 1.2);
    }
    const float saturation = 0.98f;
    QByteArray bytes;
    bytes.append(char(width - 8)).append(char(height - 8)).append(char(s - 1)).append(char(flags | (encoding << 4)));
    bytes.append(reinterpret_cast<const char *>(&threshold), 4).append(reinterpret_cast<const char *>(&saturation), 4);
    bytes.append(char(3)).append(char(-2)).append(char(1)).append('\0');
    for (const float *p = image->data.get(); p < image->data.get() + image->floatCount; p += 4)
        for (int c = 0; c < (colour ? 3 : 1); ++c) {
            const float v = std::clamp(p[c], 0.0f, 1.0f);
            const auto word = static_cast<std::uint16_t>(std::lround(v * 65535.0f));
            if (encoding == fuzzing::kStarFloat)
                bytes.append(reinterpret_cast<const char *>(p + c), 4);
            else if (encoding == fuzzing::kStarWords)
                bytes.append(char(word & 0xff)).append(char(word >> 8));
            else
                bytes.append(char(std::lround(v * 255.0f)));
        }
    seed(folder, name, [&](const QString &path) { return writeBytes(path, bytes); });
}

void writeStarSeeds(const QDir &folder)
{
    using namespace fuzzing;
    writeStarSeed(folder, "grey-bytes", 64, 64, 3, 0, kStarBytes, 25, 0.1f, 1);
    writeStarSeed(folder, "grey-runs-marked", 48, 40, 2, kStarPatternRuns | kStarMarked, kStarBytes, 15, 0.1f, 2);
    writeStarSeed(folder, "colour-words", 40, 32, 2, kStarColour, kStarWords, 12, 0.1f, 3);
    writeStarSeed(folder, "float-auto", 32, 32, 2, kStarAutoThreshold, kStarFloat, 8, 0.1f, 4);
    writeStarSeed(folder, "specials", 40, 40, 2, 0, kStarBytesWithSpecials, 12, 0.05f, 5);
}

void writeConsoleSeeds(const QDir &folder)
{
    int line = 0;
    for (const char *text :
         {"open -f \"my frame.fits\"", "starsearch -s 10 -t 0.1 -m 0.98", "preview -l -0.5 -h 1.5 -s 3",
          "gain  -r 1.2 -g  -b \"", "help", "checkvals -x\n-f\n\"a b  c\"\n-t\n-0.25"})
        seed(folder, QStringLiteral("line%1").arg(++line), [&](const QString &path) { return writeBytes(path, text); });
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
    const auto folder = [&](const char *name) {
        seed(root, name, [](const QString &path) { return QDir().mkpath(path); });
        return QDir(root.filePath(name));
    };
    writeFitsSeeds(folder("fitsloader"));
    writeRawSeeds(folder("rawloader"), argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString());
    writeStandardSeeds(folder("standardimage"));
    writeStarSeeds(folder("starfinder"));
    writeConsoleSeeds(folder("consoleparser"));
    return failures == 0 ? 0 : 1;
}
