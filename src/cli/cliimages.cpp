#include "cliimages.h"

#include "image/fitswriter.h"
#include "image/imageloader.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"

#include <QFileInfo>

std::unique_ptr<ImageBuffer> loadImageOrFail(const QString &path, CliContext &context)
{
    ImageLoader loader;
    auto buffer = loader.loadFile(path, false);
    if (!buffer)
        failWith(context, QStringLiteral("cannot read %1 (error %2)").arg(path).arg(loader.errorCode));
    return buffer;
}

bool checkFitsTarget(const QString &path, CliContext &context)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QLatin1String("fits") && suffix != QLatin1String("fit") && suffix != QLatin1String("fts")) {
        failWith(context, QStringLiteral("%1 must be a FITS file (.fits, .fit or .fts)").arg(path), kExitUsage);
        return false;
    }
    if (QFileInfo::exists(path)) {
        failWith(context, QStringLiteral("%1 exists already; it is never overwritten").arg(path));
        return false;
    }
    return true;
}

int saveFitsOrFail(const ImageBuffer &image, const QString &path, CliContext &context)
{
    const int status = saveFitsImage(image, path, messageLog());
    if (status != 0)
        return failWith(context, QStringLiteral("cannot write %1: %2").arg(path, fitsStatusText(status)));
    return kExitOk;
}

bool parseNumber(const QString &text, const QString &option, double &value, CliContext &context)
{
    bool ok = false;
    value = text.toDouble(&ok);
    if (!ok)
        failWith(context, QStringLiteral("%1 takes a number, not '%2'").arg(option, text), kExitUsage);
    return ok;
}

int transformImageFile(const QString &input, const QString &output, CliContext &context,
                       const std::function<std::unique_ptr<ImageBuffer>(std::unique_ptr<ImageBuffer>)> &work)
{
    if (!checkFitsTarget(output, context))
        return kExitFailure;
    int status = kExitFailure;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        auto image = loadImageOrFail(input, context);
        if (!image)
            return;
        auto result = work(std::move(image));
        if (result)
            status = saveFitsOrFail(*result, output, context);
    });
    return enoughMemory ? status : failWith(context, QStringLiteral("not enough memory"));
}
