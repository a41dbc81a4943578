#include "fitsfixture.h"

#include "capturinglog.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"

#include <QFile>

#include <fitsio.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace testsupport {

namespace {
constexpr int kCardBytes = 80;
constexpr int kBlockBytes = 2880;
} // namespace

double valueAt(int x, int y, int plane)
{
    // Whole numbers 0 ... 207: exact in every BITPIX, 8 included, and different in every
    // plane and in every pixel of a 16 x 8 tile.
    return (x % 16) + 16 * (y % 8) + 40 * plane;
}

// A width x height (x planes) image of value(x, y, plane) in file order.
static FitsImage makeFitsImage(int bitpix, int width, int height, int planes, const PixelValue &value)
{
    FitsImage image;
    image.bitpix = bitpix;
    image.axes = {width, height};
    if (planes > 0)
        image.axes.push_back(planes);
    for (int p = 0; p < std::max(planes, 1); ++p)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.values.push_back(value(x, y, p));
    return image;
}

FitsImage fitsImage(int bitpix, int width, int height, int planes)
{
    return makeFitsImage(bitpix, width, height, planes, valueAt);
}

int writeFitsFile(const QString &path, const FitsImage &image, const QStringList &cards)
{
    QFile::remove(path);
    int status = 0;
    fitsfile *file = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (ffdkinit(&file, name.constData(), &status) != 0)
        return status;
    std::vector<long> axes = image.axes;
    ffcrim(file, image.bitpix, static_cast<int>(axes.size()), axes.data(), &status);
    if (image.bzero != 0.0) {
        double bzero = image.bzero;
        ffpky(file, TDOUBLE, "BZERO", &bzero, "offset of stored values", &status);
        double bscale = 1.0;
        ffpky(file, TDOUBLE, "BSCALE", &bscale, nullptr, &status);
        // Makes cfitsio apply the new offset to the values written below.
        ffrdef(file, &status);
    }
    for (const QString &card : cards)
        ffprec(file, card.toLatin1().constData(), &status);
    LONGLONG count = 1;
    for (long axis : axes)
        count *= axis;
    std::vector<double> values = image.values;
    values.resize(static_cast<size_t>(std::max<LONGLONG>(count, 0)), 0.0);
    if (count > 0) {
        std::vector<long> first(axes.size(), 1);
        ffppx(file, TDOUBLE, first.data(), count, values.data(), &status);
    }
    int closeStatus = 0;
    ffclos(file, &closeStatus);
    return status != 0 ? status : closeStatus;
}

QString writeFrame(const QString &path, int width, int height, const PixelValue &value, int bitpix, int planes)
{
    FitsImage image = makeFitsImage(bitpix, width, height, planes, value);
    image.bzero = bitpix == 16 ? 32768.0 : 0.0;
    EXPECT_EQ(writeFitsFile(path, image), 0) << path.toStdString();
    return path;
}

QString writeConstantFrame(const QString &path, int width, int height, double value, int bitpix, int planes)
{
    return writeFrame(path, width, height, [value](int, int, int) { return value; }, bitpix, planes);
}

std::unique_ptr<ImageBuffer> loadImage(const QString &path)
{
    ImageLoader loader;
    CapturingLog quiet;
    loader.log = &quiet;
    return loader.loadFile(path, false);
}

QByteArray fitsHeaderBlock(const QStringList &cards)
{
    QByteArray block;
    auto append = [&block](const QString &card) {
        QByteArray text = card.toLatin1().left(kCardBytes);
        text.append(QByteArray(kCardBytes - text.size(), ' '));
        block.append(text);
    };
    for (const QString &card : cards) {
        const int equals = card.indexOf('=');
        if (equals > 0 && equals != 8) {
            // "KEY = value" becomes the fixed format: key in columns 1-8, numbers and
            // logicals right-aligned to column 30.
            const QString key = card.left(equals).trimmed();
            QString value = card.mid(equals + 1).trimmed();
            if (!value.startsWith('\''))
                value = value.rightJustified(20, ' ');
            append(key.leftJustified(8, ' ') + QStringLiteral("= ") + value);
        } else {
            append(card);
        }
    }
    append(QStringLiteral("END"));
    const int padding = (kBlockBytes - block.size() % kBlockBytes) % kBlockBytes;
    block.append(QByteArray(padding, ' '));
    return block;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

} // namespace testsupport
