#include "compressedfits.h"

#include <QFile>

#include <fitsio.h>
#include <zlib.h>

#include <functional>

namespace testsupport {

namespace {

// Opens `from` literally, creates `to` afresh and lets `convert` copy one into the other;
// returns the first cfitsio status that is not 0, closing included.
int convertFits(const QString &from, const QString &to, const std::function<void(fitsfile *, fitsfile *, int &)> &convert)
{
    int status = 0;
    fitsfile *in = nullptr;
    fitsfile *out = nullptr;
    QFile::remove(to);
    if (ffdkopn(&in, QFile::encodeName(from).constData(), READONLY, &status) != 0)
        return status;
    if (ffdkinit(&out, QFile::encodeName(to).constData(), &status) == 0)
        convert(in, out, status);
    int closeStatus = 0;
    if (out)
        ffclos(out, &closeStatus);
    ffclos(in, &closeStatus);
    return status != 0 ? status : closeStatus;
}

} // namespace

int tileCompressFits(const QString &from, const QString &to, const TileCompression &how)
{
    return convertFits(from, to, [&how](fitsfile *in, fitsfile *out, int &status) {
        fits_set_compression_type(out, how.algorithm, &status);
        std::vector<long> tile = how.tile;
        if (!tile.empty())
            fits_set_tile_dim(out, static_cast<int>(tile.size()), tile.data(), &status);
        // 0: floating-point values are compressed as they are, not quantised.
        fits_set_quantize_level(out, 0.0f, &status);
        fits_img_compress(in, out, &status);
    });
}

int decompressFits(const QString &from, const QString &to)
{
    return convertFits(from, to, [](fitsfile *in, fitsfile *out, int &status) {
        int type = 0;
        int naxis = 0;
        ffgidm(in, &naxis, &status);
        if (status == 0 && naxis == 0)
            ffmahd(in, 2, &type, &status);
        fits_img_decompress(in, out, &status);
    });
}

bool gzipFile(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = source.readAll();
    QFile::remove(to);
    gzFile target = gzopen(QFile::encodeName(to).constData(), "wb");
    if (!target)
        return false;
    const bool written = gzwrite(target, bytes.constData(), static_cast<unsigned>(bytes.size())) == bytes.size();
    return gzclose(target) == Z_OK && written;
}

bool gunzipFile(const QString &from, const QString &to)
{
    gzFile source = gzopen(QFile::encodeName(from).constData(), "rb");
    if (!source)
        return false;
    QFile::remove(to);
    QFile target(to);
    bool ok = target.open(QIODevice::WriteOnly);
    char chunk[65536];
    int read = 0;
    while (ok && (read = gzread(source, chunk, sizeof chunk)) > 0)
        ok = target.write(chunk, read) == read;
    return gzclose(source) == Z_OK && ok && read == 0;
}

} // namespace testsupport
