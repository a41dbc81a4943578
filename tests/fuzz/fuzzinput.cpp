#include "fuzzinput.h"

#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/messagelog.h"

#include <QDir>
#include <QFile>

#include <cstring>
#include <memory>
#include <unistd.h>

namespace fuzzing {

InputFile::InputFile(const char *suffix)
    : filePath(QDir::temp().filePath(QStringLiteral("verdanix-fuzz-%1%2").arg(getpid()).arg(QLatin1String(suffix))))
{
}

InputFile::~InputFile()
{
    QFile::remove(filePath);
}

bool InputFile::write(const std::uint8_t *data, std::size_t size) const
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size)) == qint64(size);
}

namespace {

// A fuzz finding: stop here so that libFuzzer saves the input.
[[noreturn]] void contradiction()
{
    __builtin_trap();
}

// Pixels checked at most per image: a RAW header can claim tens of millions, and an input
// must stay quick to run in an unoptimised build too.
constexpr std::int64_t kCheckedPixels = 1 << 18;

void checkSamples(const ImageBuffer &image)
{
    const std::int64_t pixels = image.floatCount / ImageBuffer::kFloatsPerPixel;
    const std::int64_t step = (pixels + kCheckedPixels - 1) / kCheckedPixels * ImageBuffer::kFloatsPerPixel;
    for (std::int64_t i = 0; i < image.floatCount; i += step) {
        for (int c = 0; c < 3; ++c) {
            const float v = image.data[i + c];
            if (!(v >= 0.0f && v <= image.whiteLevel))
                contradiction();
        }
    }
}

// A band of `asked` rows from firstRow: as wide as the image, clipped at the last row, and
// (when wanted) the same bits as the whole image's rows.
void checkBand(const ImageBuffer *band, const ImageBuffer *whole, int firstRow, int asked, int width, int height,
               const LoaderChecks &checks)
{
    if (!band)
        return;
    const int expectedRows = std::min(asked, height - firstRow);
    if (band->width != width || band->height != expectedRows)
        contradiction();
    if (checks.samplesWithinWhite)
        checkSamples(*band);
    if (whole && checks.bandsMatchWhole
        && std::memcmp(band->data.get(), whole->pixel(0, firstRow), std::size_t(band->floatCount) * sizeof(float)) != 0)
        contradiction();
}

} // namespace

void exerciseLoader(const QString &path, const LoaderChecks &checks)
{
    NullMessageLog quiet;
    ImageLoader loader;
    loader.log = &quiet;
    loader.memoryCeiling = kFuzzMemoryCeiling;

    const auto whole = loader.loadFile(path, true);
    int width = 0;
    int height = 0;
    loader.querySize(path, width, height);
    if (whole) {
        if (whole->width != width || whole->height != height || !whole->hasPixels())
            contradiction();
        if (checks.samplesWithinWhite)
            checkSamples(*whole);
    }
    if (height > 0 && width > 0) {
        // The last rows, clipped, and a band of two from the middle.
        const int tailRow = height > 3 ? height - 3 : 0;
        checkBand(loader.loadRows(path, tailRow, width, 100).get(), whole.get(), tailRow, 100, width, height, checks);
        checkBand(loader.loadRows(path, height / 2, width, 2).get(), whole.get(), height / 2, 2, width, height,
                  checks);
    }
}

} // namespace fuzzing
