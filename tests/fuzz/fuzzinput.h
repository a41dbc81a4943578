#pragma once
// What the loader fuzz targets share: a file that holds the current input under the name a
// user's file would have, and the walk through the loader that the program's callers make
// (whole image, size query, bands), which traps on any answer that contradicts another.
#include <QString>

#include <cstddef>
#include <cstdint>

namespace fuzzing {

// Loads may ask for at most this much; the fuzzer's own limits sit above it.
constexpr std::uint64_t kFuzzMemoryCeiling = 512ull << 20;

// A file in the temporary folder named after the process, ending in `suffix` (".fits");
// removed when the fuzzer exits normally.
class InputFile {
public:
    explicit InputFile(const char *suffix);
    ~InputFile();
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    // Replaces the file's contents; false if it cannot be written.
    bool write(const std::uint8_t *data, std::size_t size) const;
    const QString &path() const { return filePath; }

private:
    QString filePath;
};

struct LoaderChecks {
    // Bands must equal the same rows of the whole image bit for bit (FITS and standard
    // images; a RAW band is developed on its own and may differ at its edges).
    bool bandsMatchWhole = true;
    // Every colour sample must lie in 0 ... whiteLevel (RAW and standard images).
    bool samplesWithinWhite = false;
};

// Loads `path` whole, asks its size and reads a band at the end and one in the middle,
// as the program does; traps when these disagree or break their contracts.
void exerciseLoader(const QString &path, const LoaderChecks &checks);

} // namespace fuzzing
