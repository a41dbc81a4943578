#pragma once
// What the fuzz targets share: a trap for findings; for the loaders, a file that holds the current input under the name
// a user's file would have, and the walk through the loader that the program's callers make (whole image, size query,
// bands), which traps on any answer that contradicts another.
#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace fuzzing {

// A fuzz finding: trap so that libFuzzer saves the input.
inline void expect(bool holds)
{
    if (!holds)
        __builtin_trap();
}

// Loads may ask for at most this much; the fuzzer's own limits sit above it.
constexpr std::uint64_t kFuzzMemoryCeiling = 512ull << 20;

// Bands must equal the same rows of the whole image bit for bit (FITS and standard images; a
// RAW band is developed on its own and may differ at its edges); every colour sample must lie
// in 0 ... whiteLevel (RAW and standard images).
struct LoaderChecks {
    bool bandsMatchWhole = true;
    bool samplesWithinWhite = false;
};

// A file in the temporary folder named after the process, ending in `suffix` (".fits");
// removed when the fuzzer exits normally. Held in a static, never copied.
struct InputFile {
    explicit InputFile(const char *suffix)
        : path(QDir::temp().filePath(QStringLiteral("verdanix-fuzz-%1%2").arg(getpid()).arg(QLatin1String(suffix))))
    {
    }
    ~InputFile() { QFile::remove(path); }
    // Writes the input to the file, then loads it whole, asks its size and reads a band at the
    // end and one in the middle, as the program does; traps when these disagree or break their
    // contracts. Does nothing when the file cannot be written.
    void exerciseLoader(const std::uint8_t *data, std::size_t size, const LoaderChecks &checks) const;
    const QString path;
};

} // namespace fuzzing
