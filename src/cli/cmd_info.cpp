#include "cliargs.h"
#include "commands.h"
#include "image/imageinfo.h"
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
    if (info.bitpix)
        object.insert(QStringLiteral("bitpix"), *info.bitpix);
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

int runInfo(const QStringList &arguments, CliContext &context)
{
    const CliArgs args(arguments, {QStringLiteral("--json")}, {});
    if (!args.ok())
        return failWith(context, args.error(), kExitUsage);
    if (args.positionals().isEmpty())
        return failWith(context, QStringLiteral("info needs at least one file"), kExitUsage);

    const bool json = args.has(QStringLiteral("--json"));
    QJsonArray described;
    int status = kExitOk;
    for (const QString &path : args.positionals()) {
        std::optional<ImageInfo> info;
        int errorCode = 0;
        if (!guardMemory(messageLog(), [&] { info = describeImage(path, errorCode); }) || !info) {
            status = failWith(context, QStringLiteral("cannot read %1 (error %2)").arg(path).arg(errorCode));
            continue;
        }
        if (json)
            described.append(toJson(*info));
        else
            printText(context.out, *info);
    }
    if (json)
        context.out << QJsonDocument(described).toJson(QJsonDocument::Indented);
    return status;
}
