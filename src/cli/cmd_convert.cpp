#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"

#include <QJsonObject>

int runConvert(const CliArgs &args, CliContext &context)
{
    if (args.positionals().size() != 2)
        return failWith(context, QStringLiteral("convert needs an input file and an output .fits file"), kExitUsage);
    const QString input = args.positionals().at(0);
    const QString output = args.positionals().at(1);
    if (const int refused = refuseFitsTarget(output, context))
        return refused;

    int status = kExitFailure;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        if (auto buffer = loadImageOrFail(input, context))
            status = saveFitsOrFail(*buffer, output, context);
    });
    if (!enoughMemory)
        return failWith(context, QStringLiteral("not enough memory to convert '%1'").arg(input), kExitFailure,
                        kNotEnoughMemory);
    if (status != kExitOk)
        return status;
    if (context.json)
        printJson(context, QJsonObject{{QStringLiteral("input"), input}, {QStringLiteral("output"), output}});
    else
        context.out << "Wrote " << output << "\n";
    return kExitOk;
}
