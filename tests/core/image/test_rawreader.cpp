// Camera RAW loading through LibRaw, on DNG files written by the test support code and, when
// present, on real camera files.
#include "imagetests.h"

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
} // namespace

TEST(RawLoader, DevelopsLinearColourWholeAndInBandsBayerFramesStayFlatInRangeAndDamagedFilesGiveLibRawsCode)
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
    for (const auto &[first, rows] : {std::pair{-1, 5}, {48, 5}, {0, 0}})
        EXPECT_TRUE(!loader.loadRows("linear.cr2", first, 64, rows) && loader.errorCode == kBandOutsideImage) << first;
    EXPECT_TRUE(loader.captured.lines().isEmpty());
    ASSERT_TRUE(writeDng("flat.nef", flatBayerDng(64, 48, 10000, 20000, 30000)));
    auto flat = loader.loadFile("flat.nef", false);
    ASSERT_TRUE(flat) << loader.errorCode;
    expectSixteenBitRange(*flat);
    // The recorded white balance is neutral, so a flat field stays flat in each colour.
    for (int y = 0; y < 48; y += 5)
        for (int x = 0; x < 64; x += 7)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(flat->pixel(x, y)[c], 10000.0f * (c + 1), 1.0f) << x << "," << y;
    // A Bayer band agrees with the whole image away from its edges, where LibRaw lacks the
    // neighbouring rows to interpolate from.
    ASSERT_TRUE(writeDng("bayer.cr2", dngImage(64, 48, DngLayout::BayerRggb)));
    auto whole = loader.loadFile("bayer.cr2", false);
    auto band = loader.loadRows("bayer.cr2", 11, 64, 12);
    ASSERT_TRUE(whole && band && band->height == 12);
    for (int y = 3; y < 9; ++y)
        for (int x = 3; x < 61; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(band->pixel(x, y)[c], whole->pixel(x, 11 + y)[c], 1.0f) << x << "," << y;
    ASSERT_TRUE(writeBytes("empty.nef", QByteArray()));
    ASSERT_TRUE(writeBytes("headonly.cr2", readAll("bayer.cr2").left(200)));
    ASSERT_EQ(writeFitsFile("fits.nef", fitsImage(16, 10, 10)), 0);
    // A (negative) LibRaw code and one line, from loads, bands and size queries alike: a RAW
    // failure does not fall through to another reader.
    for (const char *name : {"empty.nef", "headonly.cr2", "fits.nef"}) {
        LoggedLoader loader;
        EXPECT_TRUE(!loader.loadFile(name, false) && loader.errorCode < 0) << name << " " << loader.errorCode;
        EXPECT_EQ(loader.captured.lines(), QStringList{"Error loading RAW file."}) << name;
        EXPECT_TRUE(!loader.loadRows(name, 0, 100, 10) && loader.errorCode < 0) << name;
        EXPECT_TRUE(loader.size(name).isNull() && loader.errorCode < 0) << name;
    }
}

TEST(RawLoaderRealFiles, CanonCr2LoadsWholeAsBandAndBySize)
{
    const QString path = QStringLiteral(VERDANIX_DATA_DIR "/raw/IMG_5952.CR2");
    if (!QFile::exists(path))
        GTEST_SKIP() << "no real data in " VERDANIX_DATA_DIR;
    LoggedLoader loader;
    const QSize size = loader.size(path);
    ASSERT_TRUE(loader.errorCode == 0 && size.width() > 3000 && size.height() > 2000) << loader.errorCode;
    auto band = loader.loadRows(path, size.height() - 10, size.width(), 100);
    ASSERT_TRUE(band && QSize(band->width, band->height) == QSize(size.width(), 10)) << loader.errorCode;
    expectSixteenBitRange(*band);
    auto image = loader.loadFile(path, true);
    ASSERT_TRUE(image && QSize(image->width, image->height) == size) << loader.errorCode;
    expectSixteenBitRange(*image);
    EXPECT_GT(image->scanRange(), 1000.0f); // a daylight scene, not black
}
