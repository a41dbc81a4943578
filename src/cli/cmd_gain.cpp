#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "process/colourbalance.h"

// The gain window's bound.
constexpr double kMaxGain = 1000.0;

int runGain(const CliArgs &args, CliContext &context)
{
    if (args.positionals().size() != 5)
        return failWith(context, QStringLiteral("gain needs IN OUT.fits R G B"), kExitUsage);
    double factors[3];
    const char *const names[3] = {"R", "G", "B"};
    for (int c = 0; c < 3; ++c) {
        if (!parseNumber(args.positionals().at(2 + c), QString::fromLatin1(names[c]), 0.0, kMaxGain, factors[c],
                         context))
            return kExitUsage;
    }
    return transformImageFile(args.positionals().at(0), args.positionals().at(1), context,
                              [&](std::unique_ptr<ImageBuffer> image) {
                                  applyGain(*image, float(factors[0]), float(factors[1]), float(factors[2]));
                                  return image;
                              });
}
