#include "errorcodes.h"

#include <QFile>
#include <QFileInfo>

#include <fitsio.h>
#include <libraw/libraw.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

static_assert(kFitsFileNotOpened == FILE_NOT_OPENED && kFitsFileNotCreated == FILE_NOT_CREATED
                  && kFitsWriteError == WRITE_ERROR && kFitsNothingToWrite == NEG_AXIS,
              "the writer's statuses are cfitsio's");

namespace {

// cfitsio statuses lie below this; the program's own codes from here up.
constexpr int kFirstProgramCode = 1000;

} // namespace

QString errorCodeText(int code)
{
    switch (code) {
    case 0:
        return QStringLiteral("no error");
    case kFitsFileNotCreated:
        return QStringLiteral("the file cannot be created (it exists already, or its folder does not)");
    case kFitsWriteError:
        return QStringLiteral("writing the file failed (the disk may be full)");
    case kCalibrationAborted:
        return QStringLiteral("the calibration was aborted");
    case kRegistrationAborted:
        return QStringLiteral("the registration was aborted");
    case kStackBudgetTooSmall:
        return QStringLiteral("the memory limit does not hold one row of every frame");
    case kStackAborted:
        return QStringLiteral("the stack was aborted");
    case kUnreadableExtension:
        return QStringLiteral("its name does not end in an image type the program reads");
    case kFitsUnsupportedLayout:
        return QStringLiteral("its FITS image has a layout the program cannot read");
    case kNotEnoughMemory:
        return QStringLiteral("not enough memory");
    case kRawUnsupportedLayout:
        return QStringLiteral("the camera RAW file does not develop to three colours");
    case kStandardImageUnreadable:
        return QStringLiteral("the image could not be decoded");
    case kBandOutsideImage:
        return QStringLiteral("the rows asked for lie outside the image");
    case kFrameNotNormalizable:
        return QStringLiteral("its white level equals its black level, so it has no value range");
    case kCompressedDataDamaged:
        return QStringLiteral("its compressed data are damaged or end early");
    case kNotARegularFile:
        return QStringLiteral("it is not a regular file");
    default:
        break;
    }
    if (code < 0)
        return QString::fromLocal8Bit(libraw_strerror(code));
    if (code < kFirstProgramCode) {
        char description[FLEN_STATUS] = {0};
        ffgerr(code, description);
        if (description[0] != '\0')
            return QString::fromLatin1(description);
    }
    return QStringLiteral("unknown error");
}

QString systemErrorText(int number)
{
    QString text = QString::fromLocal8Bit(std::strerror(number));
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    return text;
}

QString inputFileProblem(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("no file name given");
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::stat(name.constData(), &status) != 0) {
        const int number = errno;
        struct stat link {};
        if (number == ENOENT && ::lstat(name.constData(), &link) == 0)
            return QStringLiteral("it is a link to a file that does not exist");
        if (number == ENOENT || number == ENOTDIR)
            return QStringLiteral("no such file");
        if (number == EACCES)
            return QStringLiteral("permission denied");
        return systemErrorText(number);
    }
    if (S_ISDIR(status.st_mode))
        return QStringLiteral("it is a folder, not a file");
    if (S_ISFIFO(status.st_mode))
        return QStringLiteral("it is a pipe, not a file");
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        return QStringLiteral("it is a device, not a file");
    if (!S_ISREG(status.st_mode))
        return QStringLiteral("it is not a regular file");
    if (::access(name.constData(), R_OK) != 0)
        return QStringLiteral("permission denied");
    if (status.st_size == 0)
        return QStringLiteral("the file is empty");
    return QString();
}

QString fileFailureText(const QString &path, int code)
{
    const QString problem = inputFileProblem(path);
    if (!problem.isEmpty())
        return problem;
    switch (code) {
    case LIBRAW_FILE_UNSUPPORTED:
        return QStringLiteral("it is not a camera RAW file that can be read (damaged, or from an unsupported camera)");
    case LIBRAW_DATA_ERROR:
    case LIBRAW_IO_ERROR:
        return QStringLiteral("the camera RAW file is damaged: its data are corrupt or end early");
    case END_OF_FILE:
        return QStringLiteral("the file ends before the image its header describes (damaged or cut short)");
    case kFitsUnsupportedLayout:
        return QStringLiteral("it is a FITS file of a kind the program does not support (%1)")
            .arg(errorCodeText(code));
    default:
        break;
    }
    if (code < 0)
        return QStringLiteral("the camera RAW file could not be developed (%1)").arg(errorCodeText(code));
    if (code > 0 && code < kFirstProgramCode)
        return QStringLiteral("it is damaged or not a FITS file (%1)").arg(errorCodeText(code));
    return errorCodeText(code);
}

QString newFileProblem(const QString &path)
{
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
        return QStringLiteral("it names no file");
    const QByteArray name = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(name.constData(), &status) == 0) {
        if (S_ISLNK(status.st_mode))
            return QStringLiteral("a symbolic link of that name exists; it is never written through");
        return QStringLiteral("it exists already; it is never overwritten");
    }
    const QString folder = QFileInfo(path).absolutePath();
    struct stat folderStatus {};
    if (::stat(QFile::encodeName(folder).constData(), &folderStatus) != 0)
        return QStringLiteral("the folder '%1' does not exist").arg(folder);
    if (!S_ISDIR(folderStatus.st_mode))
        return QStringLiteral("'%1' is not a folder").arg(folder);
    return QString();
}

QString failureLine(const QString &what, const QString &path, const QString &reason, int code)
{
    QString line = QStringLiteral("%1 '%2': %3").arg(what, path, reason);
    if (code != 0)
        line += QStringLiteral(" (error %1)").arg(code);
    return line;
}
