#include "dngwriter.h"

#include "fitsfixture.h"

#include <QByteArray>
#include <QtEndian>

#include <cstring>
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

template <typename T> void put(QByteArray &out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

// An entry of `values` stored as T; rationals are numerator/denominator pairs, counted as one.
template <typename T> Entry entry(TiffType type, std::initializer_list<T> values)
{
    Entry e{type, static_cast<std::uint32_t>(values.size()), {}};
    for (T v : values)
        put(e.value, v);
    if (type == kRational || type == kSRational)
        e.count /= 2;
    return e;
}
Entry shorts(std::initializer_list<std::uint16_t> values) { return entry(kShort, values); }
Entry longs(std::initializer_list<std::uint32_t> values) { return entry(kLong, values); }
Entry bytes(std::initializer_list<std::uint8_t> values) { return entry(kByte, values); }

Entry ascii(const char *text)
{
    const QByteArray value(text, static_cast<int>(std::strlen(text)) + 1);
    return Entry{kAscii, static_cast<std::uint32_t>(value.size()), value};
}

// RGGB: red at even/even, blue at odd/odd, green elsewhere.
int bayerColour(int x, int y)
{
    return (x % 2) + (y % 2);
}

} // namespace

std::uint16_t rgbAt(int x, int y, int colour)
{
    // Distinct in every pixel of a 64 x 48 image and well inside 0 ... 65535.
    return static_cast<std::uint16_t>(1000 + 200 * x + 50 * (y % 64) + 7000 * colour);
}

DngImage dngImage(int width, int height, DngLayout layout)
{
    DngImage image{width, height, layout, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                if (layout == DngLayout::LinearRgb || c == bayerColour(x, y))
                    image.samples.push_back(rgbAt(x, y, c));
    return image;
}

DngImage flatBayerDng(int width, int height, std::uint16_t red, std::uint16_t green, std::uint16_t blue)
{
    const std::uint16_t levels[3] = {red, green, blue};
    DngImage image{width, height, DngLayout::BayerRggb, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.samples.push_back(levels[bayerColour(x, y)]);
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
    tags[50721] = entry<std::int32_t>(kSRational, {1, 1, 0, 1, 0, 1, 0, 1, 1, 1, 0, 1, 0, 1, 0, 1, 1, 1});
    tags[50728] = entry<std::uint32_t>(kRational, {1, 1, 1, 1, 1, 1});
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
    put<std::uint32_t>(out, kHeaderBytes);
    put<std::uint16_t>(out, static_cast<std::uint16_t>(tags.size()));
    for (const auto &[tag, entry] : tags) {
        put<std::uint16_t>(out, tag);
        put<std::uint16_t>(out, entry.type);
        put<std::uint32_t>(out, entry.count);
        if (entry.value.size() > 4) {
            put<std::uint32_t>(out, extraOffset[tag]);
        } else {
            QByteArray inline4 = entry.value;
            inline4.append(QByteArray(4 - inline4.size(), '\0'));
            out.append(inline4);
        }
    }
    put<std::uint32_t>(out, 0); // no further directory
    out.append(extra);
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height * samplesPerPixel; ++i)
        put<std::uint16_t>(out, i < image.samples.size() ? image.samples[i] : 0);
    return writeBytes(path, out);
}

} // namespace testsupport
