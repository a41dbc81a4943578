#include "commandtable.h"

#include "commands.h"
#include "image/imageloader.h"
#include "platform/libraryversions.h"
#include "version.h"

namespace {

void printHelp(QTextStream &out)
{
    out << "usage: verdanix-cli [--version | --help] <command> [options]\n\n"
        << "Processes astrophotographs without the desktop program.\n\n"
        << "options of every command that loads images:\n"
        << "  --debayer   load one-plane FITS frames whose header names a Bayer pattern\n"
        << "              (BAYERPAT RGGB, BGGR, GRBG or GBRG) as colour images, masters included\n\n"
        << "commands:\n";
    for (const CliCommand &command : commandTable())
        out << "  " << QString::fromLatin1(command.name).leftJustified(12) << command.summary << "\n";
    out << "\nRun 'verdanix-cli <command> --help' for the options of a command.\n";
}

void printVersion(QTextStream &out)
{
    out << "verdanix-cli " << verdanix::kVersion << " (build " << verdanix::kBuild << ")\n"
        << "Qt " << qtRuntimeVersion() << ", LibRaw " << librawRuntimeVersion() << ", cfitsio "
        << cfitsioRuntimeVersion() << "\n";
}

} // namespace

const std::vector<CliCommand> &commandTable()
{
    static const std::vector<CliCommand> table = {
        {"info", "describe image files: format, size, scale, range and clipping points",
         "verdanix-cli info [--json] FILE...\n\n"
         "  --json   print a JSON array with one object per file\n",
         runInfo},
        {"convert", "convert any readable image to the program's FITS (never overwrites)",
         "verdanix-cli convert [--json] IN OUT.fits\n\n"
         "Writes OUT as a three-plane 32-bit floating-point FITS file with the values of IN.\n"
         "OUT must not exist yet.\n",
         runConvert},
        {"render", "write the 8-bit preview of an image as an image window shows it",
         "verdanix-cli render [--json] IN OUT.png [--auto CLIP | --black B --gamma G --white W]\n\n"
         "  --auto CLIP   automatic stretch: CLIP of the pixels below black and above white\n"
         "  --black B     black point, 0..1 of the image's full scale (default 0)\n"
         "  --gamma G     gamma exponent (default 1)\n"
         "  --white W     white point, 0..1 of the image's full scale (default 1)\n"
         "The preview gamma of verdanix.ini applies, as in the desktop program. OUT must not exist.\n",
         runRender},
        {"stats", "mean, sigma, clipped mean and background colour of an image or a region",
         "verdanix-cli stats [--json] IN [--region X,Y,W,H] [--clip K]\n\n"
         "  --region X,Y,W,H   measure this rectangle (pixels, origin top-left) instead of the image\n"
         "  --clip K           the clipped mean keeps pixels within K sigma (default 1)\n"
         "The background colour is always that of the whole image.\n",
         runStats},
        {"neutralize", "scale the channels so that the sky background becomes grey",
         "verdanix-cli neutralize IN OUT.fits\n", runNeutralize},
        {"gain", "multiply the red, green and blue channels by three factors",
         "verdanix-cli gain IN OUT.fits R G B\n", runGain},
        {"combine", "combine two images of the same size pixel by pixel",
         "verdanix-cli combine A B OUT.fits --op add|subtract|multiply|divide|negmultiply [--opacity P]\n\n"
         "  --opacity P   percentage of B's effect, 0 to 100 (default 100)\n",
         runCombine},
        {"flatten", "subtract a smooth background model built from sky markers",
         "verdanix-cli flatten IN OUT.fits [--model MODEL.fits] [--grid COUNT --sigma K | --markers FILE]\n"
         "                     [--size S] [--exponent P] [--distance D] [--multiplier M]\n\n"
         "  --grid COUNT   place about COUNT markers on a grid, skipping bright boxes (default 100)\n"
         "  --sigma K      a box is kept when its colour is at most K sigma above the image's (default 0.1)\n"
         "  --markers FILE markers by hand: one \"x y\" per line\n"
         "  --size S       marker box edge in pixels (default 21)\n"
         "  --exponent P   weight exponent of the model (default 0.5)\n"
         "  --distance D   smoothing distance in pixels, -1 automatic (default 100; a grid sets its own)\n"
         "  --multiplier M scale of the model (default 1)\n"
         "  --model FILE   also write the background model\n",
         runFlatten},
        {"sysinfo", "show the machine's threads and memory as the runs see them",
         "verdanix-cli sysinfo [--json]\n\n"
         "  --json   print the figures as a JSON object\n",
         runSysinfo},
        {"calibrate", "calibrate light frames with master bias, dark and flat into new FITS files",
         "verdanix-cli calibrate --out DIR [--bias B] [--dark D] [--flat F] [--threads N] [--json] LIGHT...\n\n"
         "Writes each LIGHT, normalised, minus dark and bias, divided by the flat, as DIR/<name>.fts.\n"
         "Existing files are never overwritten. Ctrl-C stops starting frames; running ones finish.\n"
         "  --out DIR     the output folder, which must exist\n"
         "  --bias B, --dark D, --flat F   master frames (each optional)\n"
         "  --threads N   frames at a time (default maxThreads of verdanix.ini, 8), lowered when\n"
         "                the frames do not fit in the memory limit\n"
         "  --json        print a JSON object with the files written instead of a line per frame\n",
         runCalibrate},
        {"stars", "find the stars of an image and the four-star patterns registration compares",
         "verdanix-cli stars IN [--size S] [--threshold L|auto] [--max H] [--json] [--marked OUT.fits]\n\n"
         "IN is normalised to 0..1 first, as the registration does, so L and H are fractions of full scale.\n"
         "  --size S       half width of the search window in pixels, 1 to 20 (default 10); stars nearer\n"
         "                 than 2S to an edge are not searched\n"
         "  --threshold L  a star stands L above the background (default 0.1; faint stars need less);\n"
         "                 'auto' takes L from the image's own sky noise and prints the value used\n"
         "  --max H        a star with a pixel at or above H is saturated and left out (default 0.98)\n"
         "  --json         print starCount, averageFwhm, patternCount, threshold and the stars as a JSON\n"
         "                 object\n"
         "  --marked OUT   also write the normalised image with a red ring around every star found\n"
         "                 (OUT must not exist)\n"
         "The star list (x, y in pixels from the top-left, fwhm, brightness) is sorted brightest first.\n",
         runStars},
        {"match", "measure the shift and rotation of a frame against a reference frame",
         "verdanix-cli match REF FRAME [--size S] [--threshold L|auto] [--max H] [--json]\n\n"
         "Finds the stars of both frames as 'stars' does (same options and defaults), pairs their\n"
         "four-star patterns and prints the transformation that maps FRAME onto REF: offset in pixels,\n"
         "angle in degrees, the number of pattern matches that support it, and whether the frame is\n"
         "stackable (more than 2 matches). --threshold auto chooses L for each frame from its sky noise.\n"
         "  --json   print offsetX, offsetY, angle, matchCount and stackable as a JSON object, with\n"
         "           starCount, averageFwhm, patternCount and threshold of each frame\n",
         runMatch},
        kRegisterCommand, kStackCommand, kMasterCommand,
    };
    return table;
}

int failWith(CliContext &context, const QString &message, int status)
{
    context.err << "verdanix-cli: " << message << "\n";
    context.err.flush();
    return status;
}

int dispatchCommandLine(const QStringList &commandLine, CliContext &context)
{
    // Options every command shares are taken out here, wherever they stand, and reach the
    // loaders as their defaults; the commands never see them.
    const QString debayerOption = QStringLiteral("--debayer");
    QStringList arguments = commandLine;
    const bool debayer = arguments.removeAll(debayerOption) > 0;
    setDefaultLoadOptions(LoadOptions{debayer});
    if (arguments.isEmpty()) {
        printHelp(context.err);
        return kExitUsage;
    }
    const QString &first = arguments.first();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        printHelp(context.out);
        return kExitOk;
    }
    if (first == QLatin1String("--version")) {
        printVersion(context.out);
        return kExitOk;
    }
    for (const CliCommand &command : commandTable()) {
        if (first != QLatin1String(command.name))
            continue;
        const QStringList rest = arguments.mid(1);
        if (rest.contains(QStringLiteral("--help"))) {
            context.out << "usage: " << command.usage;
            return kExitOk;
        }
        return command.run(rest, context);
    }
    return failWith(context, QStringLiteral("unknown command '%1' (see verdanix-cli --help)").arg(first), kExitUsage);
}
