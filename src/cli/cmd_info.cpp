#include "cliargs.h"
#include "commands.h"
#include "image/imageinfo.h"
#include "log/errorcodes.h"
#include "log/outofmemory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject toJson(const ImageInfo &info)
{
    QJsonObject object{{QStringLiteral("path"), info.path},
                       {QStringLiteral("format"), info.format},
                       {QStringLiteral("width"), info.width},
                       {QStringLiteral("height"), info.height},
                       {QStringLiteral("channels"), info.channels},
                       {QStringLiteral("whiteLevel"), static_cast<double>(info.whiteLevel)},
                       {QStringLiteral("blackLevel"), static_cast<double>(info.blackLevel)},
                       {QStringLiteral("minValue"), static_cast<double>(info.minValue)},
                       {QStringLiteral("maxValue"), static_cast<double>(info.maxValue)},
                       {QStringLiteral("lowClip"), static_cast<double>(info.lowClip)},
                       {QStringLiteral("highClip"), static_cast<double>(info.highClip)}};
    // Only a FITS file has a BITPIX; every other file says null.
    object.insert(QStringLiteral("bitpix"), info.bitpix ? QJsonValue(*info.bitpix) : QJsonValue());
    return object;
}

void printText(QTextStream &out, const ImageInfo &info)
{
    out << info.path << "\n"
        << "  format:      " << info.format << "\n"
        << "  size:        " << info.width << " x " << info.height << "\n"
        << "  channels:    " << info.channels << (info.channels < 3 ? " (grey)" : " (colour)") << "\n";
    if (info.bitpix)
        out << "  BITPIX:      " << *info.bitpix << "\n";
    out << "  white level: " << logNumber(info.whiteLevel) << "\n"
        << "  black level: " << logNumber(info.blackLevel) << "\n"
        << "  minimum:     " << logNumber(info.minValue) << "\n"
        << "  maximum:     " << logNumber(info.maxValue) << "\n"
        << "  0.1% value:  " << logNumber(info.lowClip) << "\n"
        << "  99.9% value: " << logNumber(info.highClip) << "\n";
}

} // namespace

int runInfo(const CliArgs &args, CliContext &context)
{
    if (args.positionals().isEmpty())
        return failWith(context, QStringLiteral("info needs at least one file"), kExitUsage);

    QJsonArray described;
    QString firstFailure;
    int firstCode = 0;
    for (const QString &path : args.positionals()) {
        std::optional<ImageInfo> info;
        int errorCode = 0;
        if (!guardMemory(messageLog(), [&] { info = describeImage(path, errorCode); }) || !info) {
            if (errorCode == 0)
                errorCode = kNotEnoughMemory;
            const QString reason = failureLine(QStringLiteral("cannot open"), path, fileFailureText(path, errorCode));
            // The other files are still described; the object lists this one with its reason.
            context.err << "verdanix-cli: " << reason << " (error " << errorCode << ")\n";
            described.append(QJsonObject{{QStringLiteral("path"), path},
                                         {QStringLiteral("error"), reason},
                                         {QStringLiteral("errorCode"), errorCode}});
            if (firstFailure.isEmpty()) {
                firstFailure = reason;
                firstCode = errorCode;
            }
            continue;
        }
        if (context.json)
            described.append(toJson(*info));
        else
            printText(context.out, *info);
    }
    context.err.flush();
    if (context.json) {
        QJsonObject result{{QStringLiteral("files"), described}};
        result.insert(QStringLiteral("error"), firstFailure.isEmpty() ? QJsonValue() : QJsonValue(firstFailure));
        result.insert(QStringLiteral("errorCode"), firstCode != 0 ? QJsonValue(firstCode) : QJsonValue());
        printJson(context, result);
    }
    return firstFailure.isEmpty() ? kExitOk : kExitFailure;
}
