#include "previewfile.h"

#include "log/errorcodes.h"
#include "platform/newfile.h"

#include <QFile>
#include <QFileInfo>
#include <QImageWriter>

QString writePreviewFile(const QImage &image, const QString &path, const char *format)
{
    const QString cannotWrite = QStringLiteral("cannot write");
    const QString problem = newFileProblem(path);
    if (!problem.isEmpty())
        return failureLine(cannotWrite, path, problem);
    if (image.isNull())
        return failureLine(cannotWrite, path, QStringLiteral("there is no image to write"));

    NewFile out(path);
    if (out.error() != 0)
        return failureLine(cannotWrite, path, out.errorText());
    {
        QFile device;
        if (!device.open(out.descriptor(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
            return failureLine(cannotWrite, path, device.errorString());
        const QByteArray chosenFormat = format ? QByteArray(format) : QFileInfo(path).suffix().toLower().toLatin1();
        QImageWriter writer(&device, chosenFormat);
        if (!writer.write(image))
            return failureLine(cannotWrite, path, writer.errorString());
        if (!device.flush())
            return failureLine(cannotWrite, path, device.errorString());
    }
    if (out.commit() != 0)
        return failureLine(cannotWrite, path, out.errorText());
    return QString();
}
