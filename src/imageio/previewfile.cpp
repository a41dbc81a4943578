#include "previewfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QTemporaryFile>

QString writePreviewFile(const QImage &image, const QString &path, const char *format)
{
    const QFileInfo target(path);
    if (target.exists())
        return QStringLiteral("%1 exists already; it was not overwritten.").arg(path);
    if (image.isNull())
        return QStringLiteral("There is no image to write.");

    // Written beside the target under a temporary name, then renamed: a failed write never
    // leaves a partial file under the user's name, and a rename never replaces a file.
    QTemporaryFile temporary(target.absoluteDir().filePath(QStringLiteral(".verdanix-XXXXXX")));
    if (!temporary.open())
        return QStringLiteral("Cannot create a file in %1: %2").arg(target.absolutePath(), temporary.errorString());
    const QByteArray chosenFormat = format ? QByteArray(format) : target.suffix().toLower().toLatin1();
    QImageWriter writer(&temporary, chosenFormat);
    if (!writer.write(image))
        return QStringLiteral("Cannot write %1: %2").arg(path, writer.errorString());
    if (!temporary.flush())
        return QStringLiteral("Cannot write %1: %2").arg(path, temporary.errorString());
    temporary.close();
    if (!QFile::rename(temporary.fileName(), path))
        return QStringLiteral("Cannot create %1 (it may exist already).").arg(path);
    temporary.setAutoRemove(false);
    // Temporary files are private to their owner; the image is an ordinary file.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                    | QFileDevice::ReadOther);
    return QString();
}
