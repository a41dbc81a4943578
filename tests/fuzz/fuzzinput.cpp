#include "fuzzinput.h"

#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/messagelog.h"

#include <QFile>

#include <cstring>
#include <memory>

namespace fuzzing {

// Pixels checked at most per image: a RAW header can claim tens of millions, and an input
// must stay quick to run in an unoptimised build too.
constexpr std::int64_t kCheckedPixels = 1 << 18;

static void checkSamples(const ImageBuffer &image)
{
    const std::int64_t pixels = image.floatCount / ImageBuffer::kFloatsPerPixel;
    const std::int64_t step = (pixels + kCheckedPixels - 1) / kCheckedPixels * ImageBuffer::kFloatsPerPixel;
    for (std::int64_t i = 0; i < image.floatCount; i += step)
        for (int c = 0; c < 3; ++c)
            expect(image.data[i + c] >= 0.0f && image.data[i + c] <= image.whiteLevel);
}

void InputFile::exerciseLoader(const std::uint8_t *data, std::size_t size, const LoaderChecks &checks) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        return;
    file.close();
    NullMessageLog quiet;
    ImageLoader loader;
    loader.log = &quiet;
    loader.memoryCeiling = kFuzzMemoryCeiling;
    const auto whole = loader.loadFile(path, true);
    int width = 0, height = 0;
    loader.querySize(path, width, height);
    if (whole) {
        expect(whole->width == width && whole->height == height && whole->hasPixels());
        if (checks.samplesWithinWhite)
            checkSamples(*whole);
    }
    // A band of `asked` rows from firstRow: as wide as the image, clipped at the last row, and
    // (when wanted) the same bits as the whole image's rows.
    const auto checkBand = [&](int firstRow, int asked) {
        const auto band = loader.loadRows(path, firstRow, width, asked);
        if (!band)
            return;
        expect(band->width == width && band->height == std::min(asked, height - firstRow));
        if (checks.samplesWithinWhite)
            checkSamples(*band);
        if (whole && checks.bandsMatchWhole)
            expect(std::memcmp(band->data.get(), whole->pixel(0, firstRow), sizeof(float) * band->floatCount) == 0);
    };
    // The last rows, clipped, and a band of two from the middle.
    if (height > 0 && width > 0) {
        checkBand(height > 3 ? height - 3 : 0, 100);
        checkBand(height / 2, 2);
    }
}

} // namespace fuzzing
