#include "imageinfo.h"

#include "image/fitsreader.h"
#include "image/histogram.h"
#include "image/imageloader.h"

#include <QFileInfo>

QString formatForPath(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("cr2") || suffix == QLatin1String("nef"))
        return QStringLiteral("RAW");
    if (isFitsFileName(path))
        return QStringLiteral("FITS");
    static const QStringList standard = {"jpg", "jpeg", "png", "tif", "tiff", "bmp"};
    if (standard.contains(suffix))
        return QStringLiteral("standard image");
    return QString();
}

std::optional<ImageInfo> describeImage(const QString &path, int &errorCode)
{
    ImageLoader loader;
    auto buffer = loader.loadFile(path, false);
    errorCode = loader.errorCode;
    if (!buffer)
        return std::nullopt;

    ImageInfo info;
    info.path = path;
    info.format = formatForPath(path);
    info.width = buffer->width;
    info.height = buffer->height;
    info.channels = buffer->channels;
    info.whiteLevel = buffer->whiteLevel;
    info.blackLevel = buffer->blackLevel;
    if (info.format == QLatin1String("FITS")) {
        FitsReader reader(path);
        // Integer BITPIX values imply their full scale; floating-point ones are normalised.
        if (reader.openImage())
            info.bitpix = reader.fullScale == 1.0f ? -reader.bitsPerSample : reader.bitsPerSample;
    }
    buffer->scanRange();
    info.minValue = buffer->minValue;
    info.maxValue = buffer->maxValue;
    const auto histogram = buildHistogram(*buffer);
    info.lowClip = clipLuminance(*histogram, *buffer, 0.001f);
    info.highClip = clipLuminance(*histogram, *buffer, 0.999f);
    return info;
}
