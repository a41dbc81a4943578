#include "registerformats.h"

void registerImageFormats()
{
}
