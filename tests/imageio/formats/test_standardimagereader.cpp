// Standard images reach the core loader through the Qt decoder that the front ends install.
#include "image/imageloader.h"
#include "registerformats.h"
#include "support/capturinglog.h"
#include "support/fitsfixture.h"

#include <QImage>

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
