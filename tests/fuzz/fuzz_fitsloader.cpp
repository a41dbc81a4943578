// libFuzzer target over FITS loading: each input is written to a file with a FITS name and
// loaded whole, by size and by band, as the program's callers do. Any crash, sanitizer
// report, leak or runaway allocation is a finding.
#include "image/imageloader.h"
#include "log/messagelog.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace {

// Loads may ask for at most this much; the fuzzer's own limit is 2 GB.
constexpr std::uint64_t kFuzzMemoryCeiling = 512ull << 20;

// The file that holds the current input; removed when the fuzzer exits normally.
struct InputFile {
    InputFile() : path(QDir::temp().filePath(QStringLiteral("verdanix-fuzz-%1.fits").arg(getpid()))) {}
    ~InputFile() { QFile::remove(path); }
    QString path;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const InputFile input;
    const QString &path = input.path;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
    }
    NullMessageLog quiet;
    ImageLoader loader;
    loader.log = &quiet;
    loader.memoryCeiling = kFuzzMemoryCeiling;

    auto whole = loader.loadFile(path, true);
    int width = 0;
    int height = 0;
    loader.querySize(path, width, height);
    if (height > 0) {
        // The last rows, clipped, and one band from the middle.
        auto tail = loader.loadRows(path, height > 3 ? height - 3 : 0, width, 100);
        auto middle = loader.loadRows(path, height / 2, width, 2);
        // A band must never be taller than asked for or than the rows left.
        if ((tail && tail->height > 100) || (middle && middle->height > 2))
            __builtin_trap();
    }
    if (whole && (whole->width != width || whole->height != height))
        __builtin_trap();
    return 0;
}
