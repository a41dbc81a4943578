// libFuzzer target over standard images (PNG, JPEG, TIFF, BMP) through the decoder that the
// front ends plug into the loader. The file is named after the format its first bytes claim,
// as a user's file would be, and loaded whole, by size and by band.
#include "fuzzinput.h"

#include "registerformats.h"

#include <QCoreApplication>

#include <cstring>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Qt finds its image plugins through the application's library paths.
    static QCoreApplication application(*argc, *argv);
    registerImageFormats();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using fuzzing::InputFile;
    static const InputFile png(".png"), jpg(".jpg"), jpeg(".jpeg"), tif(".tif"), tiff(".tiff"), bmp(".bmp");
    // Anything else under each name in turn: a wrong name must be refused, not trusted.
    static const InputFile *const others[] = {&png, &jpg, &tiff, &bmp, &jpeg};
    const auto claims = [&](const char *magic, std::size_t n) { return size >= n && std::memcmp(data, magic, n) == 0; };
    const InputFile &input = claims("\x89PNG", 4)                       ? png
                             : claims("\xff\xd8", 2)                    ? jpg
                             : claims("II*\0", 4) || claims("MM\0*", 4) ? tif
                             : claims("BM", 2)                          ? bmp
                                                                        : *others[size % 5];
    input.exerciseLoader(data, size, {/*bandsMatchWhole*/ true, /*samplesWithinWhite*/ true});
    return 0;
}
