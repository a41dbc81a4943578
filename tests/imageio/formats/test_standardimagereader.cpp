// Standard images reach the core loader through the Qt decoder that the front ends install.
#include "image/imageloader.h"
#include "registerformats.h"
#include "support/capturinglog.h"
#include "support/fitsfixture.h"

#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

QRgb colourAt(int x, int y)
{
    return qRgb(10 * x, 5 * y, 255 - x - y);
}

QImage pattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, colourAt(x, y));
    return image;
}

class StandardImageReader : public ::testing::Test {
protected:
    void SetUp() override { registerImageFormats(); }
};

} // namespace

TEST_F(StandardImageReader, PngLoadsAsEightBitColour)
{
    ASSERT_TRUE(pattern(20, 15).save("colour.PNG"));
    CapturingLog log;
    ImageLoader loader;
    loader.log = &log;
    auto image = loader.loadFile("colour.PNG", false);
    ASSERT_TRUE(image) << loader.errorCode;
    EXPECT_EQ(loader.errorCode, 0);
    EXPECT_EQ(log.lines(), QStringList{"Loading standard image colour.PNG"});
    EXPECT_EQ(image->width, 20);
    EXPECT_EQ(image->height, 15);
    EXPECT_EQ(image->whiteLevel, 255.0f);
    EXPECT_EQ(image->blackLevel, 0.0f);
    EXPECT_EQ(image->channels, 3);
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x) {
            const FloatRGB p = image->getPixel(x, y);
            ASSERT_EQ(p.r, qRed(colourAt(x, y)));
            ASSERT_EQ(p.g, qGreen(colourAt(x, y)));
            ASSERT_EQ(p.b, qBlue(colourAt(x, y)));
            ASSERT_EQ(p.a, 1.0f);
        }

    int width = 0, height = 0;
    loader.querySize("colour.PNG", width, height);
    EXPECT_EQ(width, 20);
    EXPECT_EQ(height, 15);
    auto band = loader.loadRows("colour.PNG", 10, 20, 100);
    ASSERT_TRUE(band);
    EXPECT_EQ(band->height, 5);
    EXPECT_EQ(band->getPixel(3, 0).g, qGreen(colourAt(3, 10)));
}

TEST_F(StandardImageReader, GreyImagesReportTwoChannels)
{
    QImage grey(8, 6, QImage::Format_Grayscale8);
    grey.fill(77);
    ASSERT_TRUE(grey.save("grey.png"));
    ASSERT_TRUE(grey.convertToFormat(QImage::Format_RGB32).save("grey.bmp"));
    ImageLoader loader;
    for (const char *name : {"grey.png", "grey.bmp"}) {
        auto image = loader.loadFile(name, false);
        ASSERT_TRUE(image) << name;
        EXPECT_EQ(image->channels, 2) << name;
        const FloatRGB p = image->getPixel(7, 5);
        EXPECT_EQ(p.r, 77.0f);
        EXPECT_EQ(p.g, 77.0f);
        EXPECT_EQ(p.b, 77.0f);
    }
}

TEST_F(StandardImageReader, UnreadableFilesFailWithTheirOwnCode)
{
    ASSERT_TRUE(writeBytes("broken.jpg", QByteArray(300, '\x07')));
    for (const char *name : {"broken.jpg", "missing.tif"}) {
        CapturingLog log;
        ImageLoader loader;
        loader.log = &log;
        EXPECT_FALSE(loader.loadFile(name, false));
        EXPECT_EQ(loader.errorCode, kStandardImageUnreadable);
        EXPECT_EQ(log.lines().value(1), "Error loading standard image.");
        int width = -1, height = -1;
        loader.querySize(name, width, height);
        EXPECT_EQ(loader.errorCode, kStandardImageUnreadable);
        EXPECT_EQ(width, 0);
        EXPECT_EQ(height, 0);
    }
}

TEST_F(StandardImageReader, AClaimedSizeBeyondTheMemoryRuleIsRefusedBeforeDecoding)
{
    // A 60-byte BMP whose header claims 4 000 000 x 6 pixels of 24 bits.
    QByteArray bmp("BM");
    const auto put32 = [&bmp](quint32 v) {
        for (int i = 0; i < 4; ++i)
            bmp.append(char(v >> (8 * i)));
    };
    const auto put16 = [&bmp](quint16 v) { bmp.append(char(v & 0xff)).append(char(v >> 8)); };
    put32(60), put32(0), put32(54); // file size, reserved, pixel offset
    put32(40), put32(4000000), put32(6), put16(1), put16(24); // info header, width, height, planes, bits
    for (int i = 0; i < 6; ++i)
        put32(0); // no compression; sizes and palette unset
    bmp.append(6, '\x7f');
    ASSERT_TRUE(writeBytes("claims.bmp", bmp));

    CapturingLog log;
    ImageLoader loader;
    loader.log = &log;
    loader.memoryCeiling = 64 << 20;
    EXPECT_FALSE(loader.loadFile("claims.bmp", false));
    EXPECT_EQ(loader.errorCode, kNotEnoughMemory);
    // 24 million pixels at 16 bytes loaded and 12 in the decoder.
    EXPECT_EQ(log.lines(), (QStringList{"Loading standard image claims.bmp", "Error loading standard image.",
                                        "Not enough memory: 672000000 bytes (640.9 MB) could not be allocated."}));
    EXPECT_FALSE(loader.loadRows("claims.bmp", 0, 4000000, 2));
    EXPECT_EQ(loader.errorCode, kNotEnoughMemory);
}

TEST_F(StandardImageReader, AnOrientationTagIsNotAppliedSoTheSizeQueryAgreesWithTheLoad)
{
    if (!QImageWriter::supportedImageFormats().contains("tiff"))
        GTEST_SKIP() << "Qt's TIFF plugin is not installed";
    // A 20 x 15 TIFF that asks to be shown turned by 90 degrees.
    QImageWriter writer("turned.tif", "tiff");
    writer.setTransformation(QImageIOHandler::TransformationRotate90);
    ASSERT_TRUE(writer.write(pattern(20, 15)));
    ImageLoader loader;
    auto image = loader.loadFile("turned.tif", false);
    ASSERT_TRUE(image) << loader.errorCode;
    int width = 0, height = 0;
    loader.querySize("turned.tif", width, height);
    EXPECT_EQ(QSize(image->width, image->height), QSize(20, 15));
    EXPECT_EQ(QSize(width, height), QSize(20, 15));
    EXPECT_EQ(image->getPixel(3, 10).g, qGreen(colourAt(3, 10)));
    auto band = loader.loadRows("turned.tif", 12, 20, 10);
    ASSERT_TRUE(band);
    EXPECT_EQ(QSize(band->width, band->height), QSize(20, 3));
}
