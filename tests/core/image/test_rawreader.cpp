// Camera RAW loading through LibRaw, on DNG files written by the test support code and, when
// present, on real camera files.
#include "image/imageloader.h"
#include "support/capturinglog.h"
#include "support/dngwriter.h"
#include "support/fitsfixture.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>
#include <libraw/libraw.h>

#include <cmath>

using namespace testsupport;

namespace {

// Linear DNGs need no interpolation, so every developed pixel equals its samples.
void expectLinearPattern(const ImageBuffer &image, int firstRow)
{
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const FloatRGB p = image.getPixel(x, y);
            ASSERT_EQ(p.r, rgbAt(x, firstRow + y, 0)) << x << "," << y;
            ASSERT_EQ(p.g, rgbAt(x, firstRow + y, 1)) << x << "," << y;
            ASSERT_EQ(p.b, rgbAt(x, firstRow + y, 2)) << x << "," << y;
            ASSERT_EQ(p.a, 1.0f);
        }
}

void expectSixteenBitRange(const ImageBuffer &image)
{
    const float *p = image.data.get();
    for (std::int64_t i = 0; i < image.floatCount; i += ImageBuffer::kFloatsPerPixel) {
        for (int c = 0; c < 3; ++c) {
            ASSERT_GE(p[i + c], 0.0f);
            ASSERT_LE(p[i + c], 65535.0f);
            ASSERT_EQ(p[i + c], std::floor(p[i + c]));
        }
        ASSERT_EQ(p[i + 3], 1.0f);
    }
}

} // namespace

TEST(RawLoader, DevelopsLinearSixteenBitCameraColour)
{
    ASSERT_TRUE(writeDng("linear.cr2", dngImage(64, 48, DngLayout::LinearRgb)));
    ImageLoader loader;
    auto image = loader.loadFile("linear.cr2", false);
    ASSERT_TRUE(image) << loader.errorCode;
    EXPECT_EQ(image->width, 64);
    EXPECT_EQ(image->height, 48);
    EXPECT_EQ(image->whiteLevel, 65535.0f);
    EXPECT_EQ(image->blackLevel, 0.0f);
    EXPECT_EQ(image->channels, 3);
    // No gamma, no brightening, no colour conversion: the samples come back as written.
    expectLinearPattern(*image, 0);
}

TEST(RawLoader, BayerPixelsLieInSixteenBitRangeWithAlphaOne)
{
    ASSERT_TRUE(writeDng("flat.nef", flatBayerDng(64, 48, 10000, 20000, 30000)));
    ImageLoader loader;
    auto image = loader.loadFile("flat.nef", false);
    ASSERT_TRUE(image) << loader.errorCode;
    expectSixteenBitRange(*image);
    // The recorded white balance is neutral, so a flat field stays flat in each colour.
    for (int y = 0; y < 48; y += 5)
        for (int x = 0; x < 64; x += 7) {
            const FloatRGB p = image->getPixel(x, y);
            EXPECT_NEAR(p.r, 10000.0f, 1.0f);
            EXPECT_NEAR(p.g, 20000.0f, 1.0f);
            EXPECT_NEAR(p.b, 30000.0f, 1.0f);
        }

    // A bright pattern must not wrap or overflow.
    ASSERT_TRUE(writeDng("bright.cr2", flatBayerDng(64, 48, 65535, 100, 65535)));
    image = loader.loadFile("bright.cr2", false);
    ASSERT_TRUE(image);
    expectSixteenBitRange(*image);
}

TEST(RawLoader, BandDevelopsItsRowsAndClipsAtTheLastRow)
{
    ASSERT_TRUE(writeDng("linear.cr2", dngImage(64, 48, DngLayout::LinearRgb)));
    CapturingLog log;
    ImageLoader loader;
    loader.log = &log;

    auto band = loader.loadRows("linear.cr2", 38, 64, 100);
    ASSERT_TRUE(band) << loader.errorCode;
    EXPECT_EQ(band->width, 64);
    EXPECT_EQ(band->height, 10);
    EXPECT_EQ(band->whiteLevel, 65535.0f);
    EXPECT_EQ(band->channels, 3);
    expectLinearPattern(*band, 38);

    // Odd first rows are not moved to the colour filter's pattern.
    band = loader.loadRows("linear.cr2", 7, 64, 5);
    ASSERT_TRUE(band);
    EXPECT_EQ(band->height, 5);
    expectLinearPattern(*band, 7);

    // A Bayer band agrees with the whole image away from its edges, where LibRaw lacks the
    // neighbouring rows to interpolate from.
    ASSERT_TRUE(writeDng("bayer.cr2", dngImage(64, 48, DngLayout::BayerRggb)));
    auto whole = loader.loadFile("bayer.cr2", false);
    ASSERT_TRUE(whole);
    for (int first : {11, 20}) {
        band = loader.loadRows("bayer.cr2", first, 64, 12);
        ASSERT_TRUE(band);
        ASSERT_EQ(band->height, 12);
        for (int y = 3; y < 9; ++y)
            for (int x = 3; x < 61; ++x) {
                const FloatRGB a = band->getPixel(x, y);
                const FloatRGB b = whole->getPixel(x, first + y);
                ASSERT_NEAR(a.r, b.r, 1.0f) << first << ":" << x << "," << y;
                ASSERT_NEAR(a.g, b.g, 1.0f);
                ASSERT_NEAR(a.b, b.b, 1.0f);
            }
    }

    for (int first : {-1, 48, 60}) {
        EXPECT_FALSE(loader.loadRows("linear.cr2", first, 64, 5));
        EXPECT_EQ(loader.errorCode, kBandOutsideImage);
    }
    EXPECT_TRUE(log.lines().isEmpty());
}

TEST(RawLoader, DamagedFilesFailWithLibRawsCode)
{
    ASSERT_TRUE(writeDng("good.cr2", dngImage(64, 48, DngLayout::BayerRggb)));
    QFile good("good.cr2");
    ASSERT_TRUE(good.open(QIODevice::ReadOnly));
    const QByteArray bytes = good.readAll();
    ASSERT_TRUE(writeBytes("garbage.cr2", QByteArray(20000, '\x33')));
    ASSERT_TRUE(writeBytes("empty.nef", QByteArray()));
    ASSERT_TRUE(writeBytes("headonly.cr2", bytes.left(200)));
    ASSERT_EQ(writeFitsFile("fits.nef", fitsImage(16, 10, 10)), 0);
    for (const char *name : {"garbage.cr2", "empty.nef", "headonly.cr2", "fits.nef"}) {
        CapturingLog log;
        ImageLoader loader;
        loader.log = &log;
        EXPECT_FALSE(loader.loadFile(name, false)) << name;
        EXPECT_LT(loader.errorCode, 0) << name; // LibRaw's own code
        // A RAW failure does not fall through to another reader.
        EXPECT_EQ(log.lines(), QStringList{"Error loading RAW file."}) << name;
        int width = -1, height = -1;
        loader.querySize(name, width, height);
        EXPECT_LT(loader.errorCode, 0) << name;
        EXPECT_EQ(width, 0);
        EXPECT_EQ(height, 0);
    }
}

namespace {
QString rawData(const char *name)
{
    return QStringLiteral(VERDANIX_DATA_DIR "/raw/") + name;
}
} // namespace

TEST(RawLoaderRealFiles, CanonCr2LoadsWholeAsBandAndBySize)
{
    const QString path = rawData("IMG_5952.CR2");
    if (!QFile::exists(path))
        GTEST_SKIP() << "no real data in " VERDANIX_DATA_DIR;
    ImageLoader loader;
    CapturingLog log;
    loader.log = &log;
    int width = 0, height = 0;
    loader.querySize(path, width, height);
    ASSERT_EQ(loader.errorCode, 0);
    EXPECT_GT(width, 3000);
    EXPECT_GT(height, 2000);

    auto band = loader.loadRows(path, height - 10, width, 100);
    ASSERT_TRUE(band) << loader.errorCode;
    EXPECT_EQ(band->width, width);
    EXPECT_EQ(band->height, 10);
    expectSixteenBitRange(*band);

    auto image = loader.loadFile(path, true);
    ASSERT_TRUE(image) << loader.errorCode;
    EXPECT_EQ(image->width, width);
    EXPECT_EQ(image->height, height);
    expectSixteenBitRange(*image);
    EXPECT_GT(image->scanRange(), 1000.0f); // a daylight scene, not black
}

TEST(RawLoaderRealFiles, FilesWithoutImageDataFailCleanly)
{
    if (!QFile::exists(rawData("bad/Nikon.nef")))
        GTEST_SKIP() << "no real data in " VERDANIX_DATA_DIR;
    const struct {
        QString path;
        int code;
    } files[] = {{rawData("bad/Nikon.nef"), LIBRAW_DATA_ERROR}, {rawData("bad/CanonRaw.cr2"), LIBRAW_FILE_UNSUPPORTED}};
    for (const auto &f : files) {
        CapturingLog log;
        ImageLoader loader;
        loader.log = &log;
        EXPECT_FALSE(loader.loadFile(f.path, false));
        EXPECT_EQ(loader.errorCode, f.code) << f.path.toStdString();
        EXPECT_EQ(log.lines(), QStringList{"Error loading RAW file."});
        EXPECT_FALSE(loader.loadRows(f.path, 0, 100, 10));
        EXPECT_EQ(loader.errorCode, f.code);
        int width = -1, height = -1;
        loader.querySize(f.path, width, height);
        EXPECT_EQ(loader.errorCode, f.code);
        EXPECT_EQ(width, 0);
    }

    // The stripped DNG, renamed as a user might, still develops; whatever it yields is sane.
    ASSERT_TRUE(QFile::copy(rawData("bad/DNG.dng"), "DNG.cr2"));
    ImageLoader loader;
    if (auto image = loader.loadFile("DNG.cr2", false))
        expectSixteenBitRange(*image);
    else
        EXPECT_NE(loader.errorCode, 0);
}
