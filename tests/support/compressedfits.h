#pragma once
// Compressed FITS files for tests, made from uncompressed ones: tile compression through
// cfitsio, gzip through zlib, and the way back, so that both sides can be compared.
#include <QString>

#include <vector>

namespace testsupport {

struct TileCompression {
    int algorithm = 11; // cfitsio's RICE_1; GZIP_1 (21) keeps floating-point values exactly
    std::vector<long> tile; // tile size per axis; empty: cfitsio's default of one row per tile
};

// Writes `to` (replacing one left by an earlier test) holding an empty primary header and the
// image of `from` tile-compressed in the first extension, as fpack does; floating-point
// images are compressed without loss. Returns the cfitsio status.
int tileCompressFits(const QString &from, const QString &to, const TileCompression &how = {});

// Writes `to` as the first image of `from` uncompressed in the primary header. Returns the
// cfitsio status.
int decompressFits(const QString &from, const QString &to);

// gzip (or gunzip) a whole file with zlib; false if it cannot.
bool gzipFile(const QString &from, const QString &to);
bool gunzipFile(const QString &from, const QString &to);

} // namespace testsupport
