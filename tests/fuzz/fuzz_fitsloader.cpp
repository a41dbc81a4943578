// libFuzzer target over FITS loading: each input is written to a file with a FITS name and
// loaded whole, by size and by band, as the program's callers do. Any crash, sanitizer
// report, leak, runaway allocation or contradiction between the loads is a finding.
#include "fuzzinput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const fuzzing::InputFile input(".fits");
    input.exerciseLoader(data, size, {});
    return 0;
}
