// libFuzzer target over camera RAW loading (LibRaw through the loader): each input is written
// to a file named .cr2 or .nef, as cameras name theirs, and loaded whole, by size and by band.
// LibRaw recognises a file by its content, so both names reach every decoder it has.
#include "fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const fuzzing::InputFile canon(".cr2"), nikon(".nef");
    (size % 2 == 0 ? canon : nikon)
        .exerciseLoader(data, size, {/*bandsMatchWhole*/ false, /*samplesWithinWhite*/ true});
    return 0;
}
