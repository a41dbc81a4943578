// Camera RAW loading through LibRaw, on DNG files written by the test support code and, when
// present, on real camera files.
#include "imagetests.h"

#include <libraw/libraw.h>

#include <cmath>

namespace {

// Linear DNGs need no interpolation, so every developed pixel equals its samples: no gamma,
// no brightening, no colour conversion.
void expectLinearPattern(const ImageBuffer &image, int firstRow)
{
    EXPECT_EQ(std::tuple(image.whiteLevel, image.blackLevel, image.channels), std::tuple(65535.0f, 0.0f, 3));
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const auto v = [&](int c) { return float(rgbAt(x, firstRow + y, c)); };
            ASSERT_EQ(rgba(image, x, y), (std::vector<float>{v(0), v(1), v(2), 1.0f})) << x << "," << y;
        }
}

// Whole numbers in 0 ... 65535, alpha 1.
void expectSixteenBitRange(const ImageBuffer &image)
{
    const float *p = image.data.get();
    for (std::int64_t i = 0; i < image.floatCount; i += ImageBuffer::kFloatsPerPixel) {
        for (int c = 0; c < 3; ++c)
            ASSERT_TRUE(p[i + c] >= 0.0f && p[i + c] <= 65535.0f && p[i + c] == std::floor(p[i + c])) << p[i + c];
        ASSERT_EQ(p[i + 3], 1.0f);
    }
}

// A failed load of `path` with `code` (any LibRaw code when 0) and one line, and the same
// code from a band read and from a size query of 0 x 0.
void expectRawFailure(const QString &path, int code)
{
    LoggedLoader loader;
    const auto matches = [&] { return code == 0 ? loader.errorCode < 0 : loader.errorCode == code; };
    EXPECT_TRUE(!loader.loadFile(path, false) && matches()) << path.toStdString() << " " << loader.errorCode;
    // A RAW failure does not fall through to another reader.
    EXPECT_EQ(loader.captured.lines(), QStringList{"Error loading RAW file."}) << path.toStdString();
    EXPECT_TRUE(!loader.loadRows(path, 0, 100, 10) && matches()) << path.toStdString();
    EXPECT_TRUE(loader.size(path).isNull() && matches()) << path.toStdString();
}

QString rawData(const char *name)
{
    return QStringLiteral(VERDANIX_DATA_DIR "/raw/") + name;
}

} // namespace

TEST(RawLoader, DevelopsLinearSixteenBitCameraColourWholeAndInBandsClippedAtTheLastRow)
{
    ASSERT_TRUE(writeDng("linear.cr2", dngImage(64, 48, DngLayout::LinearRgb)));
    LoggedLoader loader;
    auto image = loader.loadFile("linear.cr2", false);
    ASSERT_TRUE(image) << loader.errorCode;
    EXPECT_EQ(QSize(image->width, image->height), QSize(64, 48));
    expectLinearPattern(*image, 0);
    // Odd first rows are not moved to the colour filter's pattern.
    for (const auto &[first, rows] : {std::pair{38, 100}, {7, 5}}) {
        auto band = loader.loadRows("linear.cr2", first, 64, rows);
        ASSERT_TRUE(band) << loader.errorCode;
        EXPECT_EQ(QSize(band->width, band->height), QSize(64, std::min(rows, 48 - first)));
        expectLinearPattern(*band, first);
    }
    for (const auto &[first, rows] : {std::pair{-1, 5}, {48, 5}, {60, 5}, {0, 0}}) {
        EXPECT_TRUE(!loader.loadRows("linear.cr2", first, 64, rows) && loader.errorCode == kBandOutsideImage) << first;
    }
    EXPECT_TRUE(loader.captured.lines().isEmpty());
}

TEST(RawLoader, BayerFramesStayFlatInSixteenBitRangeAndBandsAgreeWithTheWhole)
{
    ASSERT_TRUE(writeDng("flat.nef", flatBayerDng(64, 48, 10000, 20000, 30000)));
    ImageLoader loader;
    auto image = loader.loadFile("flat.nef", false);
    ASSERT_TRUE(image) << loader.errorCode;
    expectSixteenBitRange(*image);
    // The recorded white balance is neutral, so a flat field stays flat in each colour.
    for (int y = 0; y < 48; y += 5)
        for (int x = 0; x < 64; x += 7)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(image->pixel(x, y)[c], 10000.0f * (c + 1), 1.0f) << x << "," << y;
    // A Bayer band agrees with the whole image away from its edges, where LibRaw lacks the
    // neighbouring rows to interpolate from.
    ASSERT_TRUE(writeDng("bayer.cr2", dngImage(64, 48, DngLayout::BayerRggb)));
    auto whole = loader.loadFile("bayer.cr2", false);
    ASSERT_TRUE(whole);
    for (int first : {11, 20}) {
        auto band = loader.loadRows("bayer.cr2", first, 64, 12);
        ASSERT_TRUE(band && band->height == 12);
        for (int y = 3; y < 9; ++y)
            for (int x = 3; x < 61; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(band->pixel(x, y)[c], whole->pixel(x, first + y)[c], 1.0f) << first << ":" << x;
    }
}

TEST(RawLoader, DamagedFilesFailWithLibRawsCode)
{
    ASSERT_TRUE(writeDng("good.cr2", dngImage(64, 48, DngLayout::BayerRggb)));
    ASSERT_TRUE(writeBytes("garbage.cr2", QByteArray(20000, '\x33')));
    ASSERT_TRUE(writeBytes("empty.nef", QByteArray()));
    ASSERT_TRUE(writeBytes("headonly.cr2", readAll("good.cr2").left(200)));
    ASSERT_EQ(writeFitsFile("fits.nef", fitsImage(16, 10, 10)), 0);
    for (const char *name : {"garbage.cr2", "empty.nef", "headonly.cr2", "fits.nef"})
        expectRawFailure(name, 0);
}

TEST(RawLoaderRealFiles, CanonCr2LoadsWholeAsBandAndBySize)
{
    const QString path = rawData("IMG_5952.CR2");
    if (!QFile::exists(path))
        GTEST_SKIP() << "no real data in " VERDANIX_DATA_DIR;
    LoggedLoader loader;
    const QSize size = loader.size(path);
    const int width = size.width(), height = size.height();
    ASSERT_EQ(loader.errorCode, 0);
    EXPECT_TRUE(width > 3000 && height > 2000) << width << " x " << height;
    auto band = loader.loadRows(path, height - 10, width, 100);
    ASSERT_TRUE(band) << loader.errorCode;
    EXPECT_EQ(QSize(band->width, band->height), QSize(width, 10));
    expectSixteenBitRange(*band);
    auto image = loader.loadFile(path, true);
    ASSERT_TRUE(image) << loader.errorCode;
    EXPECT_EQ(QSize(image->width, image->height), QSize(width, height));
    expectSixteenBitRange(*image);
    EXPECT_GT(image->scanRange(), 1000.0f); // a daylight scene, not black
}

TEST(RawLoaderRealFiles, FilesWithoutImageDataFailCleanly)
{
    if (!QFile::exists(rawData("bad/Nikon.nef")))
        GTEST_SKIP() << "no real data in " VERDANIX_DATA_DIR;
    expectRawFailure(rawData("bad/Nikon.nef"), LIBRAW_DATA_ERROR);
    expectRawFailure(rawData("bad/CanonRaw.cr2"), LIBRAW_FILE_UNSUPPORTED);
    // The stripped DNG, renamed as a user might, still develops; whatever it yields is sane.
    ASSERT_TRUE(QFile::copy(rawData("bad/DNG.dng"), "DNG.cr2"));
    ImageLoader loader;
    if (auto image = loader.loadFile("DNG.cr2", false))
        expectSixteenBitRange(*image);
    else
        EXPECT_NE(loader.errorCode, 0);
}
