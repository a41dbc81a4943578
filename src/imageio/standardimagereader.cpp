#include "standardimagereader.h"

#include "image/imagebuffer.h"
#include "image/imageloader.h"

#include <QImage>
#include <QImageReader>

namespace {
constexpr float kEightBitWhite = 255.0f;
} // namespace

std::unique_ptr<ImageBuffer> readStandardImage(const QString &path, int &errorCode)
{
    QImageReader reader(path);
    // Qt turns TIFF and JPEG images by their orientation tag unless told not to; the size query
    // reads the size as stored, and bands must agree with it.
    reader.setAutoTransform(false);
    QImage image = reader.read();
    if (image.isNull()) {
        errorCode = kStandardImageUnreadable;
        return nullptr;
    }
    const bool grey = image.isGrayscale();
    // One known layout to walk: 0xffRRGGBB per pixel, whatever the file stored.
    image = image.convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) {
        errorCode = kStandardImageUnreadable;
        return nullptr;
    }
    auto buffer = std::make_unique<ImageBuffer>(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        float *out = buffer->pixel(0, y);
        for (int x = 0; x < image.width(); ++x) {
            out[0] = static_cast<float>(qRed(line[x]));
            out[1] = static_cast<float>(qGreen(line[x]));
            out[2] = static_cast<float>(qBlue(line[x]));
            out[3] = 1.0f;
            out += ImageBuffer::kFloatsPerPixel;
        }
    }
    buffer->whiteLevel = kEightBitWhite;
    buffer->blackLevel = 0.0f;
    buffer->channels = grey ? 2 : 3;
    errorCode = 0;
    return buffer;
}

bool readStandardImageSize(const QString &path, int &width, int &height, int &errorCode)
{
    QImageReader reader(path);
    QSize size = reader.size();
    if (!size.isValid()) {
        // Some formats only know their size once decoded.
        const QImage image = reader.read();
        size = image.size();
    }
    if (!size.isValid() || size.isEmpty()) {
        width = height = 0;
        errorCode = kStandardImageUnreadable;
        return false;
    }
    width = size.width();
    height = size.height();
    errorCode = 0;
    return true;
}
