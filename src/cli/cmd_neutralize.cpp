#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "process/colourbalance.h"
#include "process/regionstats.h"

int runNeutralize(const QStringList &arguments, CliContext &context)
{
    const CliArgs args(arguments, {}, {});
    if (!args.ok())
        return failWith(context, args.error(), kExitUsage);
    if (args.positionals().size() != 2)
        return failWith(context, QStringLiteral("neutralize needs an input file and an output .fits file"), kExitUsage);
    const QString output = args.positionals().at(1);
    if (!checkFitsTarget(output, context))
        return kExitFailure;

    int status = kExitFailure;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        auto image = loadImageOrFail(args.positionals().at(0), context);
        if (!image)
            return;
        NeutralizedImage result = neutralizedCopy(*image, wholeImageRegion(*image));
        if (!result.image) {
            status = failWith(context, QStringLiteral("no background could be measured"));
            return;
        }
        if (!result.factors.allFinite)
            messageLog().logMessage(QStringLiteral("warning: the background is zero in at least one channel"));
        status = saveFitsOrFail(*result.image, output, context);
    });
    return enoughMemory ? status : failWith(context, QStringLiteral("not enough memory"));
}
