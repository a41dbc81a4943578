// Standard images reach the core loader through the Qt decoder that the front ends install.
#include "core/image/imagetests.h"
#include "registerformats.h"

#include <QImage>
#include <QImageWriter>

namespace {
const auto colourAt = [](int x, int y) { return qRgb(10 * x, 5 * y, 255 - x - y); };

QImage pattern(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, colourAt(x, y));
    return image;
}

struct StandardImageReader : ::testing::Test {
    void SetUp() override { registerImageFormats(); }
};
} // namespace

TEST_F(StandardImageReader, PngLoadsAsEightBitColourGreyImagesReportTwoChannelsBrokenOrTooLargeOnesFail)
{
    ASSERT_TRUE(pattern(20, 15).save("colour.PNG"));
    LoggedLoader loader;
    auto image = loader.loadFile("colour.PNG", false);
    ASSERT_TRUE(image) << loader.errorCode;
    EXPECT_EQ(loader.captured.lines(), QStringList{"Loading standard image colour.PNG"});
    EXPECT_EQ(std::tuple(image->width, image->height, image->whiteLevel, image->blackLevel, image->channels),
              std::tuple(20, 15, 255.0f, 0.0f, 3));
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 20; ++x) {
            const QRgb c = colourAt(x, y);
            ASSERT_EQ(rgba(*image, x, y), (std::vector<float>{float(qRed(c)), float(qGreen(c)), float(qBlue(c)), 1}));
        }
    EXPECT_EQ(loader.size("colour.PNG"), QSize(20, 15));
    auto band = loader.loadRows("colour.PNG", 10, 20, 100);
    ASSERT_TRUE(band && band->height == 5);
    EXPECT_EQ(band->getPixel(3, 0).g, qGreen(colourAt(3, 10)));
    QImage grey(8, 6, QImage::Format_Grayscale8);
    grey.fill(77);
    ASSERT_TRUE(grey.save("grey.png"));
    ASSERT_TRUE(grey.convertToFormat(QImage::Format_RGB32).save("grey.bmp"));
    for (const char *name : {"grey.png", "grey.bmp"}) {
        image = loader.loadFile(name, false);
        ASSERT_TRUE(image && image->channels == 2) << name;
        EXPECT_EQ(rgba(*image, 7, 5), (std::vector<float>{77, 77, 77, 1})) << name;
    }
    ASSERT_TRUE(writeBytes("broken.jpg", QByteArray(300, '\x07')));
    for (const char *name : {"broken.jpg", "missing.tif"}) {
        EXPECT_EQ(failure(name), std::to_string(kStandardImageUnreadable) + " | Loading standard image " + name
                                     + " | Error loading standard image.");
        EXPECT_TRUE(loader.size(name).isNull() && loader.errorCode == kStandardImageUnreadable) << name;
    }
    // A claimed size beyond the memory rule is refused before decoding: a 60-byte BMP claiming 4 000 000 x 6
    // pixels of 24 bits (the 54 header bytes, no compression, sizes and palette unset, then 6 bytes of pixels).
    const QByteArray bmp = QByteArray::fromHex("424d3c00000000000000360000002800000000093d000600000001001800")
                           + QByteArray(24, '\0') + QByteArray(6, '\x7f');
    ASSERT_TRUE(writeBytes("claims.bmp", bmp));
    // 24 million pixels at 16 bytes loaded and 12 in the decoder.
    EXPECT_EQ(failure("claims.bmp", 64 << 20),
              std::to_string(kNotEnoughMemory)
                  + " | Loading standard image claims.bmp | Error loading standard image. | Not enough memory: "
                    "672000000 bytes (640.9 MB) could not be allocated.");
    loader.memoryCeiling = 64 << 20;
    EXPECT_TRUE(!loader.loadRows("claims.bmp", 0, 4000000, 2) && loader.errorCode == kNotEnoughMemory);
}

TEST_F(StandardImageReader, AnOrientationTagIsNotAppliedSoTheSizeQueryAgreesWithTheLoad)
{
    if (!QImageWriter::supportedImageFormats().contains("tiff"))
        GTEST_SKIP() << "Qt's TIFF plugin is not installed";
    QImageWriter writer("turned.tif", "tiff"); // a 20 x 15 TIFF that asks to be shown turned by 90 degrees
    writer.setTransformation(QImageIOHandler::TransformationRotate90);
    ASSERT_TRUE(writer.write(pattern(20, 15)));
    LoggedLoader loader;
    auto image = loader.loadFile("turned.tif", false);
    ASSERT_TRUE(image && QSize(image->width, image->height) == QSize(20, 15)) << loader.errorCode;
    EXPECT_TRUE(loader.size("turned.tif") == QSize(20, 15) && image->getPixel(3, 10).g == qGreen(colourAt(3, 10)));
}
