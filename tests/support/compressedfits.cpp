#include "compressedfits.h"

#include <QFile>

#include <fitsio.h>
#include <zlib.h>

namespace testsupport {

namespace {

// Opens `from` literally and creates `to` afresh; both null on failure.
int openPair(const QString &from, const QString &to, fitsfile *&in, fitsfile *&out)
{
    int status = 0;
    QFile::remove(to);
    const QByteArray inName = QFile::encodeName(from);
    const QByteArray outName = QFile::encodeName(to);
    if (ffdkopn(&in, inName.constData(), READONLY, &status) != 0)
        return status;
    if (ffdkinit(&out, outName.constData(), &status) != 0) {
        int ignored = 0;
        ffclos(in, &ignored);
        return status;
    }
    return 0;
}

int closePair(fitsfile *in, fitsfile *out, int status)
{
    int closeStatus = 0;
    ffclos(out, &closeStatus);
    ffclos(in, &closeStatus);
    return status != 0 ? status : closeStatus;
}

} // namespace

int tileCompressFits(const QString &from, const QString &to, const TileCompression &how)
{
    fitsfile *in = nullptr;
    fitsfile *out = nullptr;
    int status = openPair(from, to, in, out);
    if (status != 0)
        return status;
    fits_set_compression_type(out, how.algorithm, &status);
    if (!how.tile.empty()) {
        std::vector<long> tile = how.tile;
        fits_set_tile_dim(out, static_cast<int>(tile.size()), tile.data(), &status);
    }
    // 0: floating-point values are compressed as they are, not quantised.
    fits_set_quantize_level(out, 0.0f, &status);
    fits_img_compress(in, out, &status);
    return closePair(in, out, status);
}

int decompressFits(const QString &from, const QString &to)
{
    fitsfile *in = nullptr;
    fitsfile *out = nullptr;
    int status = openPair(from, to, in, out);
    if (status != 0)
        return status;
    int type = 0;
    int naxis = 0;
    ffgidm(in, &naxis, &status);
    if (status == 0 && naxis == 0)
        ffmahd(in, 2, &type, &status);
    fits_img_decompress(in, out, &status);
    return closePair(in, out, status);
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
