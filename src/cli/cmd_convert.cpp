#include "cliargs.h"
#include "commands.h"
#include "image/fitswriter.h"
#include "image/imageloader.h"
#include "log/outofmemory.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

int runConvert(const QStringList &arguments, CliContext &context)
{
    const CliArgs args(arguments, {QStringLiteral("--json")}, {});
    if (!args.ok())
        return failWith(context, args.error(), kExitUsage);
    if (args.positionals().size() != 2)
        return failWith(context, QStringLiteral("convert needs an input file and an output .fits file"), kExitUsage);
    const QString input = args.positionals().at(0);
    const QString output = args.positionals().at(1);
    const QString suffix = QFileInfo(output).suffix().toLower();
    if (suffix != QLatin1String("fits") && suffix != QLatin1String("fit") && suffix != QLatin1String("fts"))
        return failWith(context, QStringLiteral("the output must be a FITS file (.fits, .fit or .fts)"), kExitUsage);
    if (QFileInfo::exists(output))
        return failWith(context, QStringLiteral("%1 exists already; it is never overwritten").arg(output));

    int status = 0;
    bool loaded = false;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        ImageLoader loader;
        auto buffer = loader.loadFile(input, false);
        if (!buffer) {
            status = loader.errorCode;
            return;
        }
        loaded = true;
        status = saveFitsImage(*buffer, output, messageLog());
    });
    if (!enoughMemory)
        return failWith(context, QStringLiteral("not enough memory to convert %1").arg(input));
    if (!loaded)
        return failWith(context, QStringLiteral("cannot read %1 (error %2)").arg(input).arg(status));
    if (status != 0)
        return failWith(context, QStringLiteral("cannot write %1: %2").arg(output, fitsStatusText(status)));

    if (args.has(QStringLiteral("--json")))
        context.out << QJsonDocument(QJsonObject{{QStringLiteral("input"), input}, {QStringLiteral("output"), output}})
                           .toJson(QJsonDocument::Compact)
                    << "\n";
    else
        context.out << "Wrote " << output << "\n";
    return kExitOk;
}
