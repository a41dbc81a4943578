#include "registerformats.h"

#include "image/standardimagedecoder.h"
#include "standardimagereader.h"

void registerImageFormats()
{
    setStandardImageDecoder(readStandardImage);
    setStandardImageSizeReader(readStandardImageSize);
}
