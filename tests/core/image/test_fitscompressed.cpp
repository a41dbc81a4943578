// Compressed FITS files: tile-compressed (.fz) and gzip-compressed (.fits.gz) images load with
// the pixels of their uncompressed originals, whole and by bands, and damaged or oversized
// ones are refused with a reason.
#include "image/imageloader.h"
#include "support/capturinglog.h"
#include "support/compressedfits.h"
#include "support/fitsfixture.h"

#include <QFile>

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstring>

using namespace testsupport;

namespace {

std::unique_ptr<ImageBuffer> loadQuietly(ImageLoader &loader, const QString &path)
{
    CapturingLog quiet;
    loader.log = &quiet;
    return loader.loadFile(path, false);
}

bool sameRows(const ImageBuffer &band, const ImageBuffer &whole, int firstRow)
{
    return band.width == whole.width
        && std::memcmp(band.data.get(), whole.pixel(0, firstRow), static_cast<size_t>(band.floatCount) * sizeof(float))
        == 0;
}

// Whole load, size query and bands of `path` against the whole load of `original`.
void expectSameImage(const QString &path, const QString &original)
{
    ImageLoader loader;
    auto expected = loadQuietly(loader, original);
    ASSERT_TRUE(expected) << original.toStdString();
    auto image = loadQuietly(loader, path);
    ASSERT_TRUE(image) << path.toStdString() << " error " << loader.errorCode;
    EXPECT_EQ(image->width, expected->width);
    ASSERT_EQ(image->height, expected->height);
    EXPECT_EQ(image->channels, expected->channels);
    EXPECT_EQ(image->whiteLevel, expected->whiteLevel);
    EXPECT_TRUE(sameRows(*image, *expected, 0)) << path.toStdString();

    int width = 0, height = 0;
    loader.querySize(path, width, height);
    EXPECT_EQ(loader.errorCode, 0);
    EXPECT_EQ(width, expected->width);
    EXPECT_EQ(height, expected->height);

    // Bands across tile edges, and one clipped at the last row.
    for (const auto &[first, rows] : {std::pair{0, 7}, {13, 29}, {expected->height - 5, 100}}) {
        auto band = loader.loadRows(path, first, width, rows);
        ASSERT_TRUE(band) << path.toStdString() << " band " << first;
        EXPECT_EQ(band->height, std::min(rows, expected->height - first));
        EXPECT_TRUE(sameRows(*band, *expected, first)) << path.toStdString() << " band " << first;
    }
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(CompressedFits, EveryCompressedNameLoadsThePixelsOfItsOriginal)
{
    ASSERT_EQ(writeFitsFile("grey16.fits", fitsImage(16, 70, 45)), 0);
    ASSERT_EQ(writeFitsFile("colour16.fits", fitsImage(16, 70, 45, 3)), 0);
    ASSERT_EQ(writeFitsFile("float.fits", fitsImage(-32, 70, 45)), 0);
    const TileCompression rice;
    const TileCompression blocks{RICE_1, {16, 16, 1}};
    const TileCompression lossless{GZIP_1, {}};
    const struct {
        const char *original;
        const char *name;
        const TileCompression *tiles; // null: gzip the whole file
    } cases[] = {
        {"grey16.fits", "grey16.fits.fz", &rice},   {"colour16.fits", "colour16.fit.fz", &blocks},
        {"float.fits", "float.fts.fz", &lossless},  {"grey16.fits", "GREY16.FZ", &blocks},
        {"grey16.fits", "grey16.fits.gz", nullptr}, {"colour16.fits", "colour16.fit.gz", nullptr},
        {"float.fits", "float.FTS.GZ", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.tiles)
            ASSERT_EQ(tileCompressFits(c.original, c.name, *c.tiles), 0);
        else
            ASSERT_TRUE(gzipFile(c.original, c.name));
        expectSameImage(c.name, c.original);
    }
    // A gzip-compressed tile-compressed file opens too.
    ASSERT_TRUE(gzipFile("colour16.fit.fz", "twice.fits.gz"));
    expectSameImage("twice.fits.gz", "colour16.fits");

    // Other compressed names stay unreadable, as before.
    ASSERT_TRUE(gzipFile("grey16.fits", "grey16.gz"));
    ASSERT_TRUE(gzipFile("grey16.fits", "grey16.tar.gz"));
    for (const char *name : {"grey16.gz", "grey16.tar.gz"}) {
        ImageLoader loader;
        EXPECT_FALSE(loadQuietly(loader, name)) << name;
        EXPECT_EQ(loader.errorCode, kUnreadableExtension) << name;
    }
}

TEST(CompressedFits, DamagedFilesAreRefusedNamingTheFileAndTheReason)
{
    ASSERT_EQ(writeFitsFile("frame.fits", fitsImage(16, 200, 150)), 0);
    ASSERT_EQ(tileCompressFits("frame.fits", "frame.fits.fz"), 0);
    ASSERT_TRUE(gzipFile("frame.fits", "frame.fits.gz"));
    const QByteArray tiled = readAll("frame.fits.fz");
    const QByteArray zipped = readAll("frame.fits.gz");
    ASSERT_GT(tiled.size(), 2 * 2880);

    QByteArray flipped = zipped;
    for (int i = 40; i < 60; ++i)
        flipped[i] = static_cast<char>(flipped[i] ^ 0x5a);
    ASSERT_TRUE(writeBytes("cut.fits.fz", tiled.left(tiled.size() - 2880)));
    ASSERT_TRUE(writeBytes("cut.fits.gz", zipped.left(zipped.size() / 2)));
    ASSERT_TRUE(writeBytes("flipped.fits.gz", flipped));
    const struct {
        const char *name;
        int code;
    } cases[] = {{"cut.fits.fz", 0},
                 {"cut.fits.gz", kCompressedDataDamaged},
                 {"flipped.fits.gz", kCompressedDataDamaged}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        CapturingLog log;
        ImageLoader loader;
        loader.log = &log;
        EXPECT_FALSE(loader.loadFile(c.name, false));
        if (c.code != 0)
            EXPECT_EQ(loader.errorCode, c.code);
        else
            EXPECT_TRUE(loader.errorCode > 0 && loader.errorCode < 1000) << loader.errorCode; // cfitsio's status
        ASSERT_EQ(log.lines().size(), 2) << log.lines().join('|').toStdString();
        EXPECT_EQ(log.lines()[0], "Error reading FITS file.");
        const QString prefix = QStringLiteral("Cannot read %1: ").arg(c.name);
        EXPECT_TRUE(log.lines()[1].startsWith(prefix)) << log.lines()[1].toStdString();
        EXPECT_GT(log.lines()[1].size(), prefix.size() + 5);
        EXPECT_FALSE(loader.loadRows(c.name, 140, 200, 10));
        EXPECT_EQ(log.lines().size(), 2) << "band reads log nothing";
    }
}

TEST(CompressedFits, AGzipFileUnpackingBeyondTheCeilingIsRefusedWhateverItClaims)
{
    // 400 x 400 x 4 bytes of zeros: 640 kB unpacked from a few kB, its trailer edited to
    // claim 3000 bytes.
    ASSERT_EQ(writeFitsFile("zeros.fits", FitsImage{-32, {400, 400}, {}, 0.0}), 0);
    ASSERT_TRUE(gzipFile("zeros.fits", "zeros.fits.gz"));
    QByteArray lying = readAll("zeros.fits.gz");
    const char claim[4] = {'\xb8', '\x0b', 0, 0};
    lying.replace(lying.size() - 4, 4, claim, 4);
    ASSERT_TRUE(writeBytes("lying.fits.gz", lying));

    CapturingLog log;
    ImageLoader loader;
    loader.log = &log;
    loader.memoryCeiling = 300 * 1024;
    EXPECT_FALSE(loader.loadFile("lying.fits.gz", false));
    EXPECT_EQ(loader.errorCode, kNotEnoughMemory);
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_TRUE(log.lines()[1].startsWith("Not enough memory")) << log.lines()[1].toStdString();
    int width = -1, height = -1;
    loader.querySize("lying.fits.gz", width, height);
    EXPECT_EQ(loader.errorCode, kNotEnoughMemory);
    EXPECT_EQ(width, 0);

    // The honest file loads when the image, one read of rows and the unpacked file (a header
    // block and 640000 bytes of pixels padded to whole blocks) fit; the unpacked file counts.
    constexpr std::uint64_t kImage = 16 * 400 * 400, kRead = 4 * 400 * 400, kUnpacked = 2880 * (1 + 223);
    loader.memoryCeiling = kImage + kRead + kUnpacked;
    EXPECT_TRUE(loader.loadFile("zeros.fits.gz", false)) << loader.errorCode;
    loader.memoryCeiling = kImage + kRead + kUnpacked - 1;
    EXPECT_FALSE(loader.loadFile("zeros.fits.gz", false));
    EXPECT_EQ(loader.errorCode, kNotEnoughMemory);
}
