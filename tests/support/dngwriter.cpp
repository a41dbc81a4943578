#include "dngwriter.h"

#include "fitsfixture.h"

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <map>

namespace testsupport {

namespace {

enum TiffType : std::uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5, kSRational = 10 };

constexpr std::uint16_t kPhotometricCfa = 32803;
constexpr std::uint16_t kPhotometricLinearRaw = 34892;
constexpr int kHeaderBytes = 8;
constexpr int kEntryBytes = 12;

struct Entry {
    std::uint16_t type = kShort;
    std::uint32_t count = 0;
    QByteArray value; // little-endian bytes
};

void putU16(QByteArray &out, std::uint16_t v)
{
    char bytes[2];
    qToLittleEndian(v, bytes);
    out.append(bytes, 2);
}

void putU32(QByteArray &out, std::uint32_t v)
{
    char bytes[4];
    qToLittleEndian(v, bytes);
    out.append(bytes, 4);
}

Entry shorts(std::initializer_list<std::uint16_t> values)
{
    Entry e{kShort, static_cast<std::uint32_t>(values.size()), {}};
    for (auto v : values)
        putU16(e.value, v);
    return e;
}

Entry longs(std::initializer_list<std::uint32_t> values)
{
    Entry e{kLong, static_cast<std::uint32_t>(values.size()), {}};
    for (auto v : values)
        putU32(e.value, v);
    return e;
}

Entry bytes(std::initializer_list<std::uint8_t> values)
{
    Entry e{kByte, static_cast<std::uint32_t>(values.size()), {}};
    for (auto v : values)
        e.value.append(static_cast<char>(v));
    return e;
}

Entry ascii(const char *text)
{
    QByteArray value(text);
    value.append('\0');
    return Entry{kAscii, static_cast<std::uint32_t>(value.size()), value};
}

// Numerator/denominator pairs.
Entry rationals(TiffType type, std::initializer_list<std::int32_t> pairs)
{
    Entry e{type, static_cast<std::uint32_t>(pairs.size() / 2), {}};
    for (auto v : pairs)
        putU32(e.value, static_cast<std::uint32_t>(v));
    return e;
}

} // namespace

std::uint16_t rgbAt(int x, int y, int colour)
{
    // Distinct in every pixel of a 64 x 48 image and well inside 0 ... 65535.
    return static_cast<std::uint16_t>(1000 + 200 * x + 50 * (y % 64) + 7000 * colour);
}

DngImage dngImage(int width, int height, DngLayout layout)
{
    DngImage image;
    image.width = width;
    image.height = height;
    image.layout = layout;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (layout == DngLayout::LinearRgb) {
                for (int c = 0; c < 3; ++c)
                    image.samples.push_back(rgbAt(x, y, c));
            } else {
                // RGGB: red at even/even, blue at odd/odd, green elsewhere.
                const int colour = (y % 2 == 0) ? (x % 2 == 0 ? 0 : 1) : (x % 2 == 0 ? 1 : 2);
                image.samples.push_back(rgbAt(x, y, colour));
            }
        }
    }
    return image;
}

DngImage flatBayerDng(int width, int height, std::uint16_t red, std::uint16_t green, std::uint16_t blue)
{
    DngImage image;
    image.width = width;
    image.height = height;
    image.layout = DngLayout::BayerRggb;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.samples.push_back((y % 2 == 0) ? (x % 2 == 0 ? red : green) : (x % 2 == 0 ? green : blue));
    return image;
}

bool writeDng(const QString &path, const DngImage &image)
{
    const bool bayer = image.layout == DngLayout::BayerRggb;
    const std::uint16_t samplesPerPixel = bayer ? 1 : 3;
    const auto width = static_cast<std::uint32_t>(image.width);
    const auto height = static_cast<std::uint32_t>(image.height);
    const std::uint32_t pixelBytes = width * height * samplesPerPixel * 2;

    // Tags in ascending order, as TIFF requires. The strip offset is patched in below.
    std::map<std::uint16_t, Entry> tags;
    tags[254] = longs({0}); // NewSubfileType: the main image
    tags[256] = longs({width});
    tags[257] = longs({height});
    tags[258] = bayer ? shorts({16}) : shorts({16, 16, 16});
    tags[259] = shorts({1}); // no compression
    tags[262] = shorts({bayer ? kPhotometricCfa : kPhotometricLinearRaw});
    tags[271] = ascii("Verdanix");
    tags[272] = ascii("Test Camera");
    tags[273] = longs({0});
    tags[274] = shorts({1}); // top-left orientation
    tags[277] = shorts({samplesPerPixel});
    tags[278] = longs({height});
    tags[279] = longs({pixelBytes});
    tags[284] = shorts({1}); // chunky
    if (bayer) {
        tags[33421] = shorts({2, 2});
        tags[33422] = bytes({0, 1, 1, 2});
    }
    tags[50706] = bytes({1, 4, 0, 0});
    tags[50707] = bytes({1, 1, 0, 0});
    tags[50708] = ascii("Verdanix Test Camera");
    if (bayer) {
        tags[50710] = bytes({0, 1, 2});
        tags[50711] = shorts({1});
    }
    tags[50714] = longs({0});
    tags[50717] = longs({65535});
    tags[50721] = rationals(kSRational, {1, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 1, 0, 1, 0, 1, 1, 1});
    tags[50728] = rationals(kRational, {1, 1, 1, 1, 1, 1});
    tags[50778] = shorts({21}); // D65

    const std::uint32_t ifdBytes = 2 + static_cast<std::uint32_t>(tags.size()) * kEntryBytes + 4;
    // Values longer than four bytes live after the directory, each at an even offset.
    QByteArray extra;
    const std::uint32_t extraStart = kHeaderBytes + ifdBytes;
    std::map<std::uint16_t, std::uint32_t> extraOffset;
    for (const auto &[tag, entry] : tags) {
        if (entry.value.size() > 4) {
            extraOffset[tag] = extraStart + static_cast<std::uint32_t>(extra.size());
            extra.append(entry.value);
            if (extra.size() % 2)
                extra.append('\0');
        }
    }
    const std::uint32_t pixelStart = extraStart + static_cast<std::uint32_t>(extra.size());
    tags[273] = longs({pixelStart});

    QByteArray out("II*\0", 4);
    putU32(out, kHeaderBytes);
    putU16(out, static_cast<std::uint16_t>(tags.size()));
    for (const auto &[tag, entry] : tags) {
        putU16(out, tag);
        putU16(out, entry.type);
        putU32(out, entry.count);
        if (entry.value.size() > 4) {
            putU32(out, extraOffset[tag]);
        } else {
            QByteArray inline4 = entry.value;
            inline4.append(QByteArray(4 - inline4.size(), '\0'));
            out.append(inline4);
        }
    }
    putU32(out, 0); // no further directory
    out.append(extra);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height * samplesPerPixel; ++i)
        putU16(out, i < image.samples.size() ? image.samples[i] : 0);
    return writeBytes(path, out);
}

} // namespace testsupport
