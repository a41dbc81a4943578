// FITS loading: sample formats, grey and colour layouts, row bands, and damaged files.
#include "image/imageloader.h"
#include "support/capturinglog.h"
#include "support/compressedfits.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>

#include <fitsio.h>
#include <gtest/gtest.h>

#include <cstring>

using namespace testsupport;

namespace {

std::unique_ptr<ImageBuffer> load(const QString &path, int *code = nullptr, CapturingLog *log = nullptr)
{
    ImageLoader loader;
    CapturingLog quiet;
    loader.log = log ? log : &quiet;
    auto image = loader.loadFile(path, false);
    if (code)
        *code = loader.errorCode;
    return image;
}

// Every pixel of rows [firstRow, firstRow + image.height) of the pattern, alpha 1.
void expectPattern(const ImageBuffer &image, int firstRow, bool colour)
{
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const FloatRGB p = image.getPixel(x, y);
            const int row = firstRow + y;
            ASSERT_EQ(p.r, valueAt(x, row, 0)) << x << "," << y;
            ASSERT_EQ(p.g, valueAt(x, row, colour ? 1 : 0)) << x << "," << y;
            ASSERT_EQ(p.b, valueAt(x, row, colour ? 2 : 0)) << x << "," << y;
            ASSERT_EQ(p.a, 1.0f);
        }
    }
}

// A clean failure: no image, the code expected, and the FITS error line first; returns the lines.
QStringList expectFailure(const QString &path, int expectedCode, int expectedLines = 1)
{
    CapturingLog log;
    int code = 0;
    EXPECT_FALSE(load(path, &code, &log)) << path.toStdString();
    EXPECT_EQ(code, expectedCode) << path.toStdString();
    EXPECT_EQ(log.lines().size(), expectedLines) << log.lines().join('|').toStdString();
    EXPECT_EQ(log.lines().value(0), "Error reading FITS file.");
    return log.lines();
}

} // namespace

TEST(FitsLoader, EachBitpixLoadsItsGreyValuesWithItsWhiteLevel)
{
    const struct {
        int bitpix;
        float whiteLevel;
    } cases[] = {{8, 255.0f},   {16, 65536.0f}, {32, 4294967296.0f}, {64, 18446744073709551616.0f},
                 {-32, 1.0f}, {-64, 1.0f}};
    for (const auto &c : cases) {
        const QString path = QStringLiteral("bitpix%1.fits").arg(c.bitpix);
        ASSERT_EQ(writeFitsFile(path, fitsImage(c.bitpix, 20, 12)), 0);
        auto image = load(path);
        ASSERT_TRUE(image) << c.bitpix;
        EXPECT_EQ(image->whiteLevel, c.whiteLevel) << c.bitpix;
        EXPECT_EQ(image->blackLevel, 0.0f);
        EXPECT_EQ(image->width, 20);
        EXPECT_EQ(image->height, 12);
        EXPECT_EQ(image->channels, 2);
        expectPattern(*image, 0, false);
    }
}

TEST(FitsLoader, UnsignedSixteenBitKeepsItsPhysicalValues)
{
    // Stored offset by BZERO 32768; the loader sees physical values.
    FitsImage unsigned16 = fitsImage(16, 4, 3);
    unsigned16.bzero = 32768;
    unsigned16.values[0] = 60000;
    unsigned16.values[1] = 0;
    ASSERT_EQ(writeFitsFile("unsigned.fits", unsigned16), 0);
    auto image = load("unsigned.fits");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->getPixel(0, 0).r, 60000.0f);
    EXPECT_EQ(image->getPixel(1, 0).r, 0.0f);
    EXPECT_EQ(image->whiteLevel, 65536.0f);
}

TEST(FitsLoader, ColourCubeTakesItsFirstThreePlanesEvenWhenReadInPieces)
{
    // Wide enough that the whole-image load needs several reads per plane.
    ASSERT_EQ(writeFitsFile("colour.fts", fitsImage(16, 2000, 300, 3)), 0);
    auto image = load("colour.fts");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->channels, 3);
    expectPattern(*image, 0, true);

    ASSERT_EQ(writeFitsFile("four.fits", fitsImage(8, 11, 7, 4)), 0);
    image = load("four.fits");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->channels, 3);
    expectPattern(*image, 0, true);
}

TEST(FitsLoader, BandReadClipsAtTheLastRow)
{
    ASSERT_EQ(writeFitsFile("grey.fits", fitsImage(16, 30, 50)), 0);
    ASSERT_EQ(writeFitsFile("colour.fits", fitsImage(-32, 30, 50, 3)), 0);
    CapturingLog log;
    ImageLoader loader;
    loader.log = &log;
    for (const char *name : {"grey.fits", "colour.fits"}) {
        const bool colour = QString(name).startsWith("colour");
        // The width argument is for RAW bands; FITS bands keep the file's width.
        auto band = loader.loadRows(name, 40, 7, 100);
        ASSERT_TRUE(band) << name;
        EXPECT_EQ(loader.errorCode, 0);
        EXPECT_EQ(band->width, 30);
        EXPECT_EQ(band->height, 10);
        EXPECT_EQ(band->channels, colour ? 3 : 2);
        EXPECT_EQ(band->whiteLevel, colour ? 1.0f : 65536.0f);
        expectPattern(*band, 40, colour);

        band = loader.loadRows(name, 13, 30, 5);
        ASSERT_TRUE(band);
        EXPECT_EQ(band->height, 5);
        expectPattern(*band, 13, colour);

        for (int first : {-1, 50, 70}) {
            EXPECT_FALSE(loader.loadRows(name, first, 30, 5));
            EXPECT_EQ(loader.errorCode, kBandOutsideImage);
        }
        EXPECT_FALSE(loader.loadRows(name, 0, 30, 0));
        EXPECT_EQ(loader.errorCode, kBandOutsideImage);
    }
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST(FitsLoader, LayoutsThatCannotBeShownFailWithTheirOwnCode)
{
    ASSERT_EQ(writeFitsFile("line.fits", FitsImage{16, {40}, {}, 0.0}), 0);
    ASSERT_EQ(writeFitsFile("hyper.fits", FitsImage{16, {4, 4, 3, 2}, {}, 0.0}), 0);
    ASSERT_EQ(writeFitsFile("twoplanes.fits", fitsImage(16, 8, 8, 2)), 0);
    ASSERT_TRUE(writeBytes("empty-primary.fits", fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 0"})));
    ASSERT_TRUE(writeBytes("zero-width.fits", fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 2",
                                                               "NAXIS1 = 0", "NAXIS2 = 10"})));
    for (const char *name : {"line.fits", "hyper.fits", "twoplanes.fits", "empty-primary.fits", "zero-width.fits"})
        expectFailure(name, kFitsUnsupportedLayout);

    ImageLoader loader;
    int width = -1, height = -1;
    loader.querySize("twoplanes.fits", width, height);
    EXPECT_EQ(loader.errorCode, kFitsUnsupportedLayout);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);
}

TEST(FitsLoader, DamagedFilesFailCleanly)
{
    ASSERT_EQ(writeFitsFile("good.fits", fitsImage(16, 64, 64)), 0);
    QFile good("good.fits");
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();

    // Header intact, pixels cut short: refused before anything is allocated for them.
    ASSERT_TRUE(writeBytes("truncated.fits", bytes.left(2880 + 3000)));
    expectFailure("truncated.fits", END_OF_FILE);
    // ... while a band that lies in the part still present reads.
    ImageLoader loader;
    auto band = loader.loadRows("truncated.fits", 0, 64, 10);
    ASSERT_TRUE(band);
    expectPattern(*band, 0, false);
    EXPECT_FALSE(loader.loadRows("truncated.fits", 20, 64, 10));
    EXPECT_EQ(loader.errorCode, END_OF_FILE);

    ASSERT_TRUE(writeBytes("headless.fits", bytes.left(1000)));
    ASSERT_TRUE(writeBytes("garbage.fits", QByteArray(5000, '\x5a')));
    ASSERT_TRUE(writeBytes("empty.fits", QByteArray()));
    for (const char *name : {"headless.fits", "garbage.fits", "empty.fits"}) {
        CapturingLog log;
        int code = 0;
        EXPECT_FALSE(load(name, &code, &log)) << name;
        EXPECT_GT(code, 0) << name;
        EXPECT_LT(code, 1000) << name; // a cfitsio status
        EXPECT_EQ(log.lines(), QStringList{"Error reading FITS file."}) << name;
    }
}

TEST(FitsLoader, AShortFileIsDamagedWhateverItClaimsAndOnlyAWholeHugeOneLacksMemory)
{
    // A few blocks whose header claims gigapixels, even beyond what an int counts: cut short.
    const QByteArray huge = fitsHeaderBlock(
        {"SIMPLE = T", "BITPIX = -64", "NAXIS = 3", "NAXIS1 = 2000000000", "NAXIS2 = 2000000000", "NAXIS3 = 3"});
    ASSERT_TRUE(writeBytes("huge.fits", huge + QByteArray(2880, '\0')));
    const QByteArray wider = fitsHeaderBlock(
        {"SIMPLE = T", "BITPIX = 8", "NAXIS = 2", "NAXIS1 = 3000000000", "NAXIS2 = 2"});
    ASSERT_TRUE(writeBytes("wider.fits", wider));
    for (const char *name : {"huge.fits", "wider.fits"}) {
        expectFailure(QLatin1String(name), END_OF_FILE);
        EXPECT_TRUE(fileFailureText(QLatin1String(name), END_OF_FILE).startsWith("the file ends before the image"));
    }

    // Within the machine but above the caller's ceiling.
    ASSERT_EQ(writeFitsFile("modest.fits", fitsImage(16, 100, 100)), 0);
    CapturingLog log;
    ImageLoader loader;
    loader.log = &log;
    loader.memoryCeiling = 100 * 100 * 16;
    EXPECT_FALSE(loader.loadFile("modest.fits", false));
    EXPECT_EQ(loader.errorCode, kNotEnoughMemory);
    loader.memoryCeiling = 0;
    EXPECT_TRUE(loader.loadFile("modest.fits", false));

    // The size query does not read pixels, so a large header still reports its size; a (sparse)
    // file that holds all of that image is refused for memory before anything is allocated.
    int width = 0, height = 0;
    const QByteArray big = fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 2", "NAXIS1 = 100000",
                                            "NAXIS2 = 100000"});
    ASSERT_TRUE(writeBytes("big.fits", big));
    loader.querySize("big.fits", width, height);
    EXPECT_EQ(loader.errorCode, 0);
    EXPECT_EQ(width, 100000);
    EXPECT_EQ(height, 100000);
    ASSERT_TRUE(QFile::resize("big.fits", big.size() + qint64(100000) * 100000 * 2));
    expectFailure("big.fits", kNotEnoughMemory, 2);
}

TEST(FitsLoader, CompressedFilesClaimingTooMuchAreRefusedBeforeOpening)
{
    // A gzip trailer claiming almost 4 GB; cfitsio would allocate all of it on opening.
    const QByteArray bomb("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03garbage\xf0\xff\xff\xff", 21);
    ASSERT_TRUE(writeBytes("bomb.fits", bomb));
    CapturingLog log;
    ImageLoader loader;
    loader.log = &log;
    loader.memoryCeiling = 1u << 30;
    EXPECT_FALSE(loader.loadFile("bomb.fits", false));
    EXPECT_EQ(loader.errorCode, kNotEnoughMemory);
    EXPECT_EQ(log.lines().size(), 2);
    EXPECT_FALSE(loader.loadRows("bomb.fits", 0, 10, 10));
    EXPECT_EQ(loader.errorCode, kNotEnoughMemory);
    int width = -1, height = -1;
    loader.querySize("bomb.fits", width, height);
    EXPECT_EQ(loader.errorCode, kNotEnoughMemory);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(height, 0);

    // A size below the compressed one reads as wrapped past 4 GB.
    QByteArray wrapped = bomb.left(10) + QByteArray(12000, 'x') + QByteArray(4, '\0');
    ASSERT_TRUE(writeBytes("wrapped.fits", wrapped));
    EXPECT_FALSE(loader.loadFile("wrapped.fits", false));
    EXPECT_EQ(loader.errorCode, kNotEnoughMemory);
}

TEST(FitsLoader, NamesAreTakenLiterally)
{
    // cfitsio would otherwise read "[1]" as "the first extension".
    ASSERT_EQ(writeFitsFile("M42 [final].fits", fitsImage(16, 5, 5)), 0);
    auto image = load("M42 [final].fits");
    ASSERT_TRUE(image);
    expectPattern(*image, 0, false);
}

namespace {
QString singles(const char *name)
{
    return QStringLiteral(VERDANIX_DATA_DIR "/fits/singles/") + name;
}
} // namespace

TEST(FitsLoaderRealFiles, SingleFramesLoadWithTheirSizes)
{
    if (!QFile::exists(singles("M51.fits")))
        GTEST_SKIP() << "no real data in " VERDANIX_DATA_DIR;
    const struct {
        const char *name;
        int width, height, channels;
        float whiteLevel;
    } files[] = {{"M6707HH.fits", 1059, 1059, 2, 65536.0f},
                 {"M51.fits", 512, 512, 2, 65536.0f},
                 {"spitzer_example_image.fits", 1025, 513, 2, 1.0f},
                 {"a8280271.fits", 536, 520, 2, 65536.0f},
                 {"stars.fits", 120, 120, 3, 65536.0f},
                 {"ISAAC-crowded-gradient.fits", 1024, 1024, 2, 1.0f}};
    for (const auto &f : files) {
        ImageLoader loader;
        CapturingLog log;
        loader.log = &log;
        auto image = loader.loadFile(singles(f.name), false);
        ASSERT_TRUE(image) << f.name << " " << loader.errorCode;
        EXPECT_EQ(image->width, f.width) << f.name;
        EXPECT_EQ(image->height, f.height) << f.name;
        EXPECT_EQ(image->channels, f.channels) << f.name;
        EXPECT_EQ(image->whiteLevel, f.whiteLevel) << f.name;
        int width = 0, height = 0;
        loader.querySize(singles(f.name), width, height);
        EXPECT_EQ(width, f.width);
        EXPECT_EQ(height, f.height);
        auto band = loader.loadRows(singles(f.name), f.height - 10, f.width, 100);
        ASSERT_TRUE(band) << f.name;
        ASSERT_EQ(band->height, 10);
        EXPECT_EQ(0, std::memcmp(band->data.get(), image->pixel(0, f.height - 10),
                                 static_cast<size_t>(band->floatCount) * sizeof(float)))
            << f.name;
    }
}

TEST(FitsLoaderRealFiles, CompressedFilesLoadLikeTheirUncompressedCopies)
{
    const QString gz = singles("dss.14.29.56-62.41.05.fits.gz");
    const QString fz = singles("star_test1.fit.fz");
    if (!QFile::exists(gz) || !QFile::exists(fz))
        GTEST_SKIP() << "no real data in " VERDANIX_DATA_DIR;
    // The copies are unpacked by cfitsio and zlib, not by the loader.
    ASSERT_EQ(decompressFits(fz, "star_test1.fit"), 0);
    ASSERT_TRUE(gunzipFile(gz, "dss.fits"));
    for (const auto &[compressed, copy] : {std::pair{fz, QString("star_test1.fit")}, {gz, QString("dss.fits")}}) {
        auto image = load(compressed);
        auto expected = load(copy);
        ASSERT_TRUE(image && expected) << compressed.toStdString();
        ASSERT_EQ(image->floatCount, expected->floatCount);
        EXPECT_EQ(image->channels, expected->channels);
        EXPECT_EQ(0, std::memcmp(image->data.get(), expected->data.get(),
                                 static_cast<size_t>(image->floatCount) * sizeof(float)))
            << compressed.toStdString();
    }
    // Under a plain FITS name a tile-compressed file keeps its empty primary image and is
    // refused as such.
    ASSERT_TRUE(QFile::copy(fz, "star_test1.fits"));
    expectFailure("star_test1.fits", kFitsUnsupportedLayout);
}
