// Colour camera mosaics: each Bayer pattern and offset on tiny mosaics with known colours,
// band reads equal to the whole image, and everything else loading exactly as before.
#include "imagetests.h"

namespace {
// A mosaic of the scene `colourValue(colour, x, y)`: each pixel keeps the colour that
// `cell` (the colours of the top-left 2 x 2 pixels, as a pattern string) gives it.
FitsImage mosaic(int width, int height, const char *cell, double (*colourValue)(int colour, int x, int y))
{
    FitsImage image{-32, {width, height}, {}, 0.0};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const char c = cell[(y % 2) * 2 + x % 2];
            image.values.push_back(colourValue(c == 'R' ? 0 : c == 'G' ? 1 : 2, x, y));
        }
    return image;
}

// Linear in x and y per colour: bilinear interpolation is exact inside the image.
double ramp(int colour, int x, int y)
{
    return 1000.0 * (colour + 1) + 8.0 * x * (colour + 1) + 4.0 * y;
}
} // namespace

TEST(Debayer, EachPatternAndOffsetGivesTheKnownColoursExactlyOnRampsInsideAndNeighbourMeansAtTheBorder)
{
    // The header's pattern and offsets, and the colours of the top-left 2 x 2 pixels they mean.
    const struct {
        const char *pattern;
        int offsetX, offsetY, height;
        bool bottomUp; // the camera's first row is the file's last one
        const char *cell;
    } cases[] = {
        {"RGGB", 0, 0, 6, false, "RGGB"}, {"BGGR", 0, 0, 6, false, "BGGR"},  {"GRBG", 0, 0, 6, false, "GRBG"},
        {"GBRG", 0, 0, 6, false, "GBRG"}, {"RGGB", 1, 0, 6, false, "GRBG"},  {"RGGB", 0, 1, 6, false, "GBRG"},
        {"RGGB", 1, 1, 6, false, "BGGR"}, {"GBRG", 3, -1, 6, false, "GRBG"}, {" rggb ", 2, 0, 6, false, "RGGB"},
        {"RGGB", 0, 0, 6, true, "GBRG"},  {"RGGB", 0, 0, 5, true, "RGGB"}};
    const auto flat = [](int colour, int, int) { return colour == 0 ? 100.0 : colour == 1 ? 50.0 : 10.0; };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.pattern << " " << c.offsetX << "," << c.offsetY << " " << c.height);
        QStringList cards{QStringLiteral("BAYERPAT= '%1'").arg(c.pattern),
                          QStringLiteral("XBAYROFF= %1").arg(c.offsetX), QStringLiteral("YBAYROFF= %1").arg(c.offsetY)};
        if (c.bottomUp)
            cards << QStringLiteral("ROWORDER= 'BOTTOM-UP'");
        ASSERT_EQ(writeFitsFile("flat.fits", mosaic(5, c.height, c.cell, flat), cards), 0);
        auto image = loadInto("flat.fits", true);
        ASSERT_TRUE(image && image->channels == 3);
        for (int y = 0; y < image->height; ++y)
            for (int x = 0; x < image->width; ++x)
                ASSERT_EQ(rgba(*image, x, y), (std::vector<float>{100, 50, 10, 1})) << x << "," << y;
    }
    // Interpolation is exact on ramps inside and averages neighbours at the border.
    ASSERT_EQ(writeFitsFile("ramp.fits", mosaic(7, 6, "GRBG", ramp), {"BAYERPAT= 'GRBG'"}), 0);
    auto image = loadInto("ramp.fits", true);
    ASSERT_TRUE(image);
    for (int y = 1; y < 5; ++y)
        for (int x = 1; x < 6; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(image->pixel(x, y)[c], static_cast<float>(ramp(c, x, y))) << x << "," << y << " " << c;
    // Top-left pixel, green: red from its right neighbour, blue from the one below.
    EXPECT_EQ(rgba(*image, 0, 0),
              (std::vector<float>{float(ramp(0, 1, 0)), float(ramp(1, 0, 0)), float(ramp(2, 0, 1)), 1}));
    // (1, 0) is red: green is the mean of its left, right and lower neighbours, blue of the
    // two below on the diagonals.
    EXPECT_EQ(image->pixel(1, 0)[1], static_cast<float>((ramp(1, 0, 0) + ramp(1, 2, 0) + ramp(1, 1, 1)) / 3));
    EXPECT_EQ(image->pixel(1, 0)[2], static_cast<float>((ramp(2, 0, 1) + ramp(2, 2, 1)) / 2));
}

TEST(Debayer, BandsEqualTheWholeImageBitForBitAndOnlyMosaicsWithAKnownPatternChangeAndOnlyWhenAsked)
{
    // An irregular mosaic, wide enough that the whole load reads it in several pieces.
    const int width = 1500, height = 700;
    FitsImage image = fitsImage(16, width, height);
    image.bzero = 32768;
    for (size_t i = 0; i < image.values.size(); ++i)
        image.values[i] = static_cast<double>((i * 7919) % 60000);
    ASSERT_EQ(writeFitsFile("mosaic.fits", image, {"BAYERPAT= 'BGGR'", "XBAYROFF= 1"}), 0);
    ASSERT_EQ(tileCompressFits("mosaic.fits", "mosaic.fits.fz", {RICE_1, {64, 64}}), 0);
    auto whole = loadInto("mosaic.fits", true);
    ASSERT_TRUE(whole && whole->channels == 3);
    EXPECT_TRUE(sameImage(loadInto("mosaic.fits.fz", true).get(), whole.get()));
    ImageLoader loader;
    loader.options.debayer = true;
    for (const QString path : {"mosaic.fits", "mosaic.fits.fz"})
        for (const auto &[first, rows] : {std::pair{0, 1}, {199, 3}, {350, 349}, {690, 50}}) {
            auto band = loader.loadRows(path, first, width, rows);
            ASSERT_TRUE(band && band->height == std::min(rows, height - first)) << first;
            EXPECT_TRUE(sameRows(band.get(), whole.get(), first)) << path.toStdString() << " band " << first;
        }
    // Only mosaics with a known pattern change, and only when asked.
    ASSERT_EQ(writeFitsFile("rggb.fits", fitsImage(16, 9, 8), {"BAYERPAT= 'RGGB'"}), 0);
    ASSERT_EQ(writeFitsFile("plain.fits", fitsImage(16, 9, 8)), 0);
    ASSERT_EQ(writeFitsFile("unknown.fits", fitsImage(16, 9, 8), {"BAYERPAT= 'CYGM'"}), 0);
    ASSERT_EQ(writeFitsFile("cube.fits", fitsImage(16, 9, 8, 3), {"BAYERPAT= 'RGGB'"}), 0);
    ASSERT_EQ(writeFitsFile("row.fits", fitsImage(16, 9, 1), {"BAYERPAT= 'RGGB'"}), 0);
    // Off, a mosaic loads grey as it always did; on, whatever is not a mosaic of a known
    // pattern loads exactly as with the option off.
    CapturingLog log;
    EXPECT_TRUE(sameImage(loadInto("rggb.fits", false, &log).get(), loadInto("plain.fits", false).get()));
    for (const char *name : {"plain.fits", "unknown.fits", "cube.fits", "row.fits"})
        EXPECT_TRUE(sameImage(loadInto(name, true, &log).get(), loadInto(name, false).get())) << name;
    EXPECT_TRUE(log.lines().isEmpty());
    // A debayered load says so, once; a band read does not, but offers the same line.
    ASSERT_TRUE(loadInto("rggb.fits", true, &log));
    const QString line = QStringLiteral("Debayered rggb.fits (RGGB, bilinear)");
    EXPECT_EQ(log.lines(), QStringList{line});
    LoggedLoader noted;
    noted.options.debayer = true;
    EXPECT_TRUE(noted.loadRows("rggb.fits", 2, 9, 3) && noted.captured.lines().isEmpty());
    EXPECT_EQ(std::pair(noted.debayerNote("rggb.fits"), noted.debayerNote("plain.fits")),
              std::pair(line, QString()));
    noted.options.debayer = false;
    EXPECT_EQ(noted.debayerNote("rggb.fits"), QString());
}
