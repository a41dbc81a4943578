#include "loadfailure.h"

#include "image/imageloader.h"
#include "stars/starcollectorthread.h"

#include <QFileInfo>

#include <libraw/libraw_const.h>

namespace {
// cfitsio statuses lie below this; the program's own codes from 1100 up.
constexpr int kFirstProgramCode = 1000;
} // namespace

QString loadFailureReason(const QString &path, int errorCode)
{
    const QFileInfo file(path);
    if (!file.exists())
        return QStringLiteral("the file does not exist");
    if (!file.isReadable())
        return QStringLiteral("the file cannot be read (no permission)");
    if (file.size() == 0)
        return QStringLiteral("the file is empty");
    switch (errorCode) {
    case LIBRAW_FILE_UNSUPPORTED:
        return QStringLiteral("it is not a camera RAW file that can be read (damaged, or from an unsupported camera)");
    case LIBRAW_DATA_ERROR:
    case LIBRAW_IO_ERROR:
        return QStringLiteral("the camera RAW file is damaged: its data are corrupt or end early");
    case kCompressedDataDamaged:
        return QStringLiteral("its compressed data are damaged or end early");
    case kFitsUnsupportedLayout:
        return QStringLiteral("it is a FITS file of a kind the program does not support (%1)")
            .arg(imageLoadErrorText(errorCode));
    default:
        break;
    }
    if (errorCode < 0)
        return QStringLiteral("the camera RAW file could not be developed (%1)").arg(imageLoadErrorText(errorCode));
    if (errorCode > 0 && errorCode < kFirstProgramCode)
        return QStringLiteral("it is damaged or not a FITS file (%1)").arg(imageLoadErrorText(errorCode));
    return imageLoadErrorText(errorCode);
}
