#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "process/colourbalance.h"
#include "process/regionstats.h"

int runNeutralize(const CliArgs &args, CliContext &context)
{
    if (args.positionals().size() != 2)
        return failWith(context, QStringLiteral("neutralize needs an input file and an output .fits file"), kExitUsage);
    return transformImageFile(args.positionals().at(0), args.positionals().at(1), context,
                              [&](std::unique_ptr<ImageBuffer> image) -> std::unique_ptr<ImageBuffer> {
                                  NeutralizedImage result = neutralizedCopy(*image, wholeImageRegion(*image));
                                  if (!result.image) {
                                      failWith(context, QStringLiteral("no background could be measured"));
                                      return nullptr;
                                  }
                                  if (!result.factors.allFinite)
                                      messageLog().logMessage(
                                          QStringLiteral("warning: the background is zero in at least one channel"));
                                  return std::move(result.image);
                              });
}
