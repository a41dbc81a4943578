// libFuzzer target over standard images (PNG, JPEG, TIFF, BMP) through the decoder that the
// front ends plug into the loader. The file is named after the format its first bytes claim,
// as a user's file would be, and loaded whole, by size and by band.
#include "fuzzinput.h"

#include "registerformats.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

bool startsWith(const std::uint8_t *data, std::size_t size, const char *magic, std::size_t length)
{
    return size >= length && std::memcmp(data, magic, length) == 0;
}

const char *suffixFor(const std::uint8_t *data, std::size_t size)
{
    if (startsWith(data, size, "\x89PNG", 4))
        return ".png";
    if (startsWith(data, size, "\xff\xd8", 2))
        return ".jpg";
    if (startsWith(data, size, "II*\0", 4) || startsWith(data, size, "MM\0*", 4))
        return ".tif";
    if (startsWith(data, size, "BM", 2))
        return ".bmp";
    // Anything else under each name in turn: a wrong name must be refused, not trusted.
    static const char *const names[] = {".png", ".jpg", ".tiff", ".bmp", ".jpeg"};
    return names[size % 5];
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Qt finds its image plugins through the application's library paths.
    static QCoreApplication application(*argc, *argv);
    registerImageFormats();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const fuzzing::InputFile png(".png"), jpg(".jpg"), jpeg(".jpeg"), tif(".tif"), tiff(".tiff"),
        bmp(".bmp");
    const char *suffix = suffixFor(data, size);
    const fuzzing::InputFile *input = &png;
    for (const fuzzing::InputFile *candidate : {&png, &jpg, &jpeg, &tif, &tiff, &bmp})
        if (candidate->path().endsWith(QLatin1String(suffix)))
            input = candidate;
    if (!input->write(data, size))
        return 0;
    fuzzing::LoaderChecks checks;
    checks.samplesWithinWhite = true;
    fuzzing::exerciseLoader(input->path(), checks);
    return 0;
}
