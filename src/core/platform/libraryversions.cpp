#include "libraryversions.h"

#include <fitsio.h>
#include <libraw/libraw.h>

#include <QtGlobal>

QString qtRuntimeVersion()
{
    return QString::fromLatin1(qVersion());
}

QString librawRuntimeVersion()
{
    return QString::fromLatin1(libraw_version());
}

QString cfitsioRuntimeVersion()
{
    float version = 0.0f;
    fits_get_version(&version);
    // cfitsio reports major + minor / 100 (4.02 is release 4.2).
    const int major = static_cast<int>(version);
    const int minor = static_cast<int>((version - static_cast<float>(major)) * 100.0f + 0.5f);
    return QStringLiteral("%1.%2").arg(major).arg(minor);
}
