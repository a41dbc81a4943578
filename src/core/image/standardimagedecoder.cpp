#include "standardimagedecoder.h"

#include <atomic>

namespace {
std::atomic<StandardImageDecoder> installedDecoder{nullptr};
std::atomic<StandardImageSizeReader> installedSizeReader{nullptr};
} // namespace

void setStandardImageDecoder(StandardImageDecoder decoder)
{
    installedDecoder.store(decoder, std::memory_order_release);
}

StandardImageDecoder standardImageDecoder()
{
    return installedDecoder.load(std::memory_order_acquire);
}

void setStandardImageSizeReader(StandardImageSizeReader reader)
{
    installedSizeReader.store(reader, std::memory_order_release);
}

StandardImageSizeReader standardImageSizeReader()
{
    return installedSizeReader.load(std::memory_order_acquire);
}
