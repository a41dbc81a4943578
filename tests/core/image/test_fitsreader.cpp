// FITS loading: sample formats, grey and colour layouts, row bands, compressed files (tile
// compression and gzip), and damaged or oversized files refused with a reason.
#include "imagetests.h"

namespace {
// Every pixel of rows [firstRow, firstRow + image.height) of the pattern, alpha 1.
void expectPattern(const ImageBuffer &image, int firstRow, bool colour)
{
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const auto v = [&](int plane) { return float(valueAt(x, firstRow + y, colour ? plane : 0)); };
            ASSERT_EQ(rgba(image, x, y), (std::vector<float>{v(0), v(1), v(2), 1.0f})) << x << "," << y;
        }
}

// The start of failure(): the code and the FITS error line.
std::string refused(int code) { return std::to_string(code) + " | Error reading FITS file."; }
bool begins(const std::string &text, const std::string &start) { return text.compare(0, start.size(), start) == 0; }

// Whole load, size query and bands of `path` against the whole load of `original`.
void expectSameImage(const QString &path, const QString &original)
{
    LoggedLoader loader;
    auto expected = loader.loadFile(original, false);
    ASSERT_TRUE(expected) << original.toStdString();
    auto image = loader.loadFile(path, false);
    ASSERT_TRUE(sameImage(image.get(), expected.get())) << path.toStdString() << " error " << loader.errorCode;
    EXPECT_EQ(image->whiteLevel, expected->whiteLevel);
    const int width = expected->width;
    EXPECT_EQ(loader.size(path), QSize(width, expected->height));
    // Bands across tile edges, and one clipped at the last row.
    for (const auto &[first, rows] : {std::pair{0, 7}, {13, 29}, {expected->height - 5, 100}}) {
        auto band = loader.loadRows(path, first, width, rows);
        ASSERT_TRUE(band) << path.toStdString() << " band " << first;
        EXPECT_EQ(band->height, std::min(rows, expected->height - first));
        EXPECT_TRUE(sameRows(band.get(), expected.get(), first)) << path.toStdString() << " band " << first;
    }
}
} // namespace

TEST(FitsLoader, EachBitpixAndLayoutLoadsWholeAndInBandsAndUnsupportedDamagedOrOversizedFilesGetTheirCode)
{
    // Colour cubes take their first three planes, even when read in pieces (2000 x 300).
    const struct {
        int bitpix, width, height, planes;
        float whiteLevel;
    } cases[] = {{8, 20, 12, 0, 255.0f},         {16, 20, 12, 0, 65536.0f},
                 {32, 20, 12, 0, 4294967296.0f}, {64, 20, 12, 0, 18446744073709551616.0f},
                 {-32, 20, 12, 0, 1.0f},         {-64, 20, 12, 0, 1.0f},
                 {16, 2000, 300, 3, 65536.0f},   {8, 11, 7, 4, 255.0f}};
    for (const auto &c : cases) {
        const QString path = QStringLiteral("bitpix%1-%2.fits").arg(c.bitpix).arg(c.planes);
        ASSERT_EQ(writeFitsFile(path, fitsImage(c.bitpix, c.width, c.height, c.planes)), 0);
        auto image = loadInto(path);
        ASSERT_TRUE(image) << c.bitpix;
        EXPECT_EQ(std::tuple(image->whiteLevel, image->blackLevel, image->width, image->height, image->channels),
                  std::tuple(c.whiteLevel, 0.0f, c.width, c.height, c.planes > 0 ? 3 : 2))
            << c.bitpix;
        expectPattern(*image, 0, c.planes > 0);
        // Bands keep the file's width (the width argument is for RAW bands) and clip at the
        // last row; they log nothing.
        LoggedLoader loader;
        auto band = loader.loadRows(path, c.height - 5, 7, 100);
        ASSERT_TRUE(band) << c.bitpix;
        EXPECT_EQ(std::tuple(band->whiteLevel, band->width, band->height, band->channels),
                  std::tuple(c.whiteLevel, c.width, 5, image->channels));
        expectPattern(*band, c.height - 5, c.planes > 0);
        for (const auto &[first, rows] : {std::pair{-1, 5}, {c.height, 5}, {0, 0}})
            EXPECT_TRUE(!loader.loadRows(path, first, c.width, rows) && loader.errorCode == kBandOutsideImage) << first;
        EXPECT_TRUE(loader.captured.lines().isEmpty());
    }
    // Unsigned 16-bit is stored offset by BZERO 32768; the loader sees physical values. The
    // name is taken literally: cfitsio would read "[1]" as "the first extension".
    FitsImage unsigned16 = fitsImage(16, 4, 3);
    std::tie(unsigned16.bzero, unsigned16.values[0], unsigned16.values[1]) = std::tuple{32768.0, 60000.0, 0.0};
    ASSERT_EQ(writeFitsFile("M42 [final].fits", unsigned16), 0);
    auto image = loadInto("M42 [final].fits");
    ASSERT_TRUE(image);
    EXPECT_EQ((std::vector<float>{image->pixel(0, 0)[0], image->pixel(1, 0)[0], image->pixel(2, 0)[0]}),
              (std::vector<float>{60000, 0, float(valueAt(2, 0, 0))}));
    // Unsupported, damaged and oversized files fail with their own code.
    ASSERT_EQ(writeFitsFile("good.fits", fitsImage(16, 64, 64)), 0);
    const QByteArray bytes = readAll("good.fits");
    ASSERT_EQ(writeFitsFile("line.fits", FitsImage{16, {40}, {}, 0.0}), 0);
    ASSERT_EQ(writeFitsFile("hyper.fits", FitsImage{16, {4, 4, 3, 2}, {}, 0.0}), 0);
    ASSERT_EQ(writeFitsFile("twoplanes.fits", fitsImage(16, 8, 8, 2)), 0);
    ASSERT_TRUE(writeBytes("empty-primary.fits", fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 0"})));
    ASSERT_TRUE(writeBytes("zero-width.fits",
                           fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 2", "NAXIS1 = 0", "NAXIS2 = 10"})));
    // Header intact, pixels cut short: refused before anything is allocated for them; so are
    // a few blocks whose header claims gigapixels, even beyond what an int counts.
    ASSERT_TRUE(writeBytes("truncated.fits", bytes.left(2880 + 3000)));
    ASSERT_TRUE(writeBytes("huge.fits", fitsHeaderBlock({"SIMPLE = T", "BITPIX = -64", "NAXIS = 3",
                                                         "NAXIS1 = 2000000000", "NAXIS2 = 2000000000", "NAXIS3 = 3"})
                                            + QByteArray(2880, '\0')));
    ASSERT_TRUE(writeBytes(
        "wider.fits", fitsHeaderBlock({"SIMPLE = T", "BITPIX = 8", "NAXIS = 2", "NAXIS1 = 3000000000", "NAXIS2 = 2"})));
    // A gzip trailer claiming almost 4 GB, which cfitsio would allocate on opening, and one
    // whose size below the compressed one reads as wrapped past 4 GB.
    const QByteArray bomb("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03garbage\xf0\xff\xff\xff", 21);
    ASSERT_TRUE(writeBytes("bomb.fits", bomb));
    ASSERT_TRUE(writeBytes("wrapped.fits", bomb.left(10) + QByteArray(12000, 'x') + QByteArray(4, '\0')));
    // A (sparse) file that holds all of a large image, within the machine but not the ceiling.
    const QByteArray big =
        fitsHeaderBlock({"SIMPLE = T", "BITPIX = 16", "NAXIS = 2", "NAXIS1 = 100000", "NAXIS2 = 100000"});
    ASSERT_TRUE(writeBytes("big.fits", big));
    ASSERT_TRUE(QFile::resize("big.fits", big.size() + qint64(100000) * 100000 * 2));
    for (const char *name : {"line.fits", "hyper.fits", "twoplanes.fits", "empty-primary.fits", "zero-width.fits"})
        EXPECT_PRED2(begins, failure(name), refused(kFitsUnsupportedLayout)) << name;
    for (const char *name : {"truncated.fits", "huge.fits", "wider.fits"})
        EXPECT_PRED2(begins, failure(name), refused(END_OF_FILE)) << name;
    for (const auto &[name, ceiling] :
         {std::pair{"good.fits", 64u * 64 * 16}, {"big.fits", 0u}, {"bomb.fits", 1u << 30}, {"wrapped.fits", 1u << 30}})
        EXPECT_PRED2(begins, failure(name, ceiling), refused(kNotEnoughMemory) + " | Not enough memory: ") << name;
    EXPECT_EQ(failure("good.fits"), "loaded");
    EXPECT_TRUE(fileFailureText("huge.fits", END_OF_FILE).startsWith("the file ends before the image"));
    // Other damage is cfitsio's to report, with its own status.
    ASSERT_TRUE(writeBytes("garbage.fits", QByteArray(5000, '\x5a')));
    ASSERT_TRUE(writeBytes("empty.fits", QByteArray()));
    for (const char *name : {"garbage.fits", "empty.fits"}) {
        const std::string text = failure(name);
        const int code = std::atoi(text.c_str());
        EXPECT_TRUE(code > 0 && code < 1000) << text; // a cfitsio status
        EXPECT_EQ(text, refused(code)) << name;
    }
    // A band that lies in the part of a short file still present reads; bands and size
    // queries meet the same refusals. The size query reads no pixels: a large header still
    // reports its size.
    LoggedLoader loader;
    auto band = loader.loadRows("truncated.fits", 0, 64, 10);
    ASSERT_TRUE(band);
    expectPattern(*band, 0, false);
    EXPECT_TRUE(!loader.loadRows("truncated.fits", 20, 64, 10) && loader.errorCode == END_OF_FILE);
    EXPECT_TRUE(loader.size("big.fits") == QSize(100000, 100000) && loader.errorCode == 0);
    loader.memoryCeiling = 1u << 30;
    EXPECT_TRUE(!loader.loadRows("bomb.fits", 0, 10, 10) && loader.errorCode == kNotEnoughMemory);
    EXPECT_TRUE(loader.size("bomb.fits").isNull() && loader.errorCode == kNotEnoughMemory);
}

TEST(CompressedFits, EveryCompressedNameLoadsThePixelsOfItsOriginalAndBombsAreRefused)
{
    ASSERT_EQ(writeFitsFile("grey16.fits", fitsImage(16, 70, 45)), 0);
    ASSERT_EQ(writeFitsFile("colour16.fits", fitsImage(16, 70, 45, 3)), 0);
    const TileCompression rice, blocks{RICE_1, {16, 16, 1}};
    // original, compressed name, tiles (null: gzip the whole file)
    const std::tuple<const char *, const char *, const TileCompression *> cases[] = {
        {"grey16.fits", "grey16.fits.fz", &rice}, {"colour16.fits", "colour16.fit.fz", &blocks},
        {"grey16.fits", "GREY16.FZ", &blocks},    {"colour16.fits", "colour16.fit.gz", nullptr},
        {"grey16.fits", "grey16.FTS.GZ", nullptr}};
    for (const auto &[original, name, tiles] : cases) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(tiles ? tileCompressFits(original, name, *tiles) == 0 : gzipFile(original, name));
        expectSameImage(name, original);
    }
    // A gzip-compressed tile-compressed file opens too.
    ASSERT_TRUE(gzipFile("colour16.fit.fz", "twice.fits.gz"));
    expectSameImage("twice.fits.gz", "colour16.fits");
    // Damaged files are refused, naming the file and the reason; band reads log nothing. A cut
    // tile-compressed file is cfitsio's to report, with its own status.
    ASSERT_EQ(writeFitsFile("frame.fits", fitsImage(16, 200, 150)), 0);
    ASSERT_EQ(tileCompressFits("frame.fits", "frame.fits.fz"), 0);
    ASSERT_TRUE(gzipFile("frame.fits", "frame.fits.gz"));
    const QByteArray tiled = readAll("frame.fits.fz");
    const QByteArray zipped = readAll("frame.fits.gz");
    ASSERT_GT(tiled.size(), 2 * 2880);
    ASSERT_TRUE(writeBytes("cut.fits.fz", tiled.left(tiled.size() - 2880)));
    ASSERT_TRUE(writeBytes("cut.fits.gz", zipped.left(zipped.size() / 2)));
    for (const QString name : {"cut.fits.fz", "cut.fits.gz"}) {
        const std::string text = failure(name);
        const int code = name.endsWith(".gz") ? kCompressedDataDamaged : std::atoi(text.c_str());
        const std::string start = refused(code) + " | Cannot read " + name.toStdString() + ": ";
        const bool knownCode = code == kCompressedDataDamaged || (code > 0 && code < 1000);
        EXPECT_TRUE(knownCode && begins(text, start) && text.size() > start.size() + 5) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '|'), 2) << text;
        LoggedLoader loader;
        EXPECT_TRUE(!loader.loadRows(name, 140, 200, 10) && loader.captured.lines().isEmpty());
    }
    // Other compressed names stay unreadable, as before.
    for (const char *name : {"grey16.gz", "grey16.tar.gz"}) {
        ASSERT_TRUE(gzipFile("grey16.fits", name));
        EXPECT_EQ(failure(name), std::to_string(kUnreadableExtension)) << name;
    }
    // A gzip file unpacking beyond the ceiling is refused whatever it claims: 400 x 400 x 4 bytes
    // of zeros, 640 kB unpacked from a few kB, its trailer edited to claim 3000 bytes.
    ASSERT_EQ(writeFitsFile("zeros.fits", FitsImage{-32, {400, 400}, {}, 0.0}), 0);
    ASSERT_TRUE(gzipFile("zeros.fits", "zeros.fits.gz"));
    QByteArray lying = readAll("zeros.fits.gz");
    lying.replace(lying.size() - 4, 4, QByteArray("\xb8\x0b\0\0", 4));
    ASSERT_TRUE(writeBytes("lying.fits.gz", lying));
    EXPECT_PRED2(begins, failure("lying.fits.gz", 300 * 1024), refused(kNotEnoughMemory) + " | Not enough memory");
    LoggedLoader loader;
    loader.memoryCeiling = 300 * 1024;
    EXPECT_TRUE(loader.size("lying.fits.gz").isNull() && loader.errorCode == kNotEnoughMemory);
    // The honest file loads when the image, one read of rows and the unpacked file (a header
    // block and 640000 bytes of pixels padded to whole blocks) fit; the unpacked file counts.
    constexpr std::uint64_t kImage = 16 * 400 * 400, kRead = 4 * 400 * 400, kUnpacked = 2880 * (1 + 223);
    EXPECT_EQ(failure("zeros.fits.gz", kImage + kRead + kUnpacked), "loaded");
    EXPECT_PRED2(begins, failure("zeros.fits.gz", kImage + kRead + kUnpacked - 1), refused(kNotEnoughMemory));
}

const QString singles = QStringLiteral(VERDANIX_DATA_DIR "/fits/singles/");

// A grey frame, and a tile-compressed and a gzipped one.
TEST(FitsLoaderRealFiles, SingleAndCompressedFramesLoadWithTheirSizes)
{
    const QString gz = singles + "dss.14.29.56-62.41.05.fits.gz", fz = singles + "star_test1.fit.fz";
    if (!QFile::exists(singles + "M51.fits") || !QFile::exists(gz) || !QFile::exists(fz))
        GTEST_SKIP() << "no real data in " VERDANIX_DATA_DIR;
    LoggedLoader loader;
    auto image = loader.loadFile(singles + "M51.fits", false);
    ASSERT_TRUE(image) << loader.errorCode;
    EXPECT_EQ(std::tuple(image->width, image->height, image->channels, image->whiteLevel),
              std::tuple(512, 512, 2, 65536.0f));
    EXPECT_EQ(loader.size(singles + "M51.fits"), QSize(512, 512));
    auto band = loader.loadRows(singles + "M51.fits", 502, 512, 100);
    ASSERT_TRUE(band && band->height == 10);
    EXPECT_TRUE(sameRows(band.get(), image.get(), 502));
    // The copies are unpacked by cfitsio and zlib, not by the loader.
    ASSERT_EQ(decompressFits(fz, "star_test1.fit"), 0);
    ASSERT_TRUE(gunzipFile(gz, "dss.fits"));
    for (const auto &[compressed, copy] : {std::pair{fz, QString("star_test1.fit")}, {gz, QString("dss.fits")}})
        EXPECT_TRUE(sameImage(loadInto(compressed).get(), loadInto(copy).get())) << compressed.toStdString();
}
