#include "outofmemory.h"

#include "image/imagebuffer.h"

#include <limits>

QString notEnoughMemoryText(std::uint64_t bytes)
{
    if (bytes == std::numeric_limits<std::uint64_t>::max())
        return QStringLiteral("Not enough memory: the image is too large to be held in memory.");
    const double megabytes = static_cast<double>(bytes) / (1024.0 * 1024.0);
    return QStringLiteral("Not enough memory: %1 bytes (%2 MB) could not be allocated.")
        .arg(bytes)
        .arg(QString::number(megabytes, 'f', 1));
}

QString notEnoughMemoryText(const std::bad_alloc &failure)
{
    if (const auto *sized = dynamic_cast<const AllocationFailure *>(&failure))
        return notEnoughMemoryText(sized->bytes);
    return QStringLiteral("Not enough memory.");
}
