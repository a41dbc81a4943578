#include "commandtable.h"

#include "commands.h"
#include "image/imageloader.h"
#include "platform/libraryversions.h"
#include "version.h"

#include <QJsonDocument>

namespace {

void printHelp(QTextStream &out)
{
    out << "usage: verdanix-cli [--version | --help] <command> [options]\n\n"
        << "Processes astrophotographs without the desktop program.\n\n"
        << "options of every command:\n"
        << "  --json      print one JSON object on success and on failure; a failure has \"error\"\n"
        << "              (null on success) and, where there is one, \"errorCode\"\n"
        << "  --help      the command's options with their ranges and defaults\n"
        << "  --debayer   (commands that load images) load one-plane FITS frames whose header names a\n"
        << "              Bayer pattern (BAYERPAT RGGB, BGGR, GRBG or GBRG) as colour images, masters\n"
        << "              included (default: off)\n\n"
        << "exit status: 0 done, 1 the run failed, 2 the command line cannot be run\n\n"
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
         "  --json   print {\"files\": [...]} with one object per file; a file that cannot be read\n"
         "           has \"path\", \"error\" and \"errorCode\" (default: text)\n",
         runInfo},
        {"convert", "convert any readable image to the program's FITS (never overwrites)",
         "verdanix-cli convert [--json] IN OUT.fits\n\n"
         "Writes OUT as a three-plane 32-bit floating-point FITS file with the values of IN.\n"
         "OUT must not exist yet.\n"
         "  --json   print {\"input\", \"output\"} (default: a line naming OUT)\n",
         runConvert},
        {"render", "write the 8-bit preview of an image as an image window shows it",
         "verdanix-cli render [--json] IN OUT.png|jpg [--auto CLIP | --black B --gamma G --white W]\n\n"
         "  --auto CLIP   automatic stretch: CLIP of the pixels below black and above white, 0 to 0.4\n"
         "                (default: off)\n"
         "  --black B     black point, 0 to 99.99 of the image's full scale (default 0)\n"
         "  --gamma G     gamma exponent, 0.01 to 99.99 (default 1)\n"
         "  --white W     white point, above B and at most 99.99 (default 1)\n"
         "  --json        print {\"output\", \"black\", \"gamma\", \"white\"} (default: a line)\n"
         "The preview gamma of verdanix.ini applies, as in the desktop program. OUT (.png, .jpg, .jpeg,\n"
         ".bmp, .tif or .tiff) must not exist.\n",
         runRender},
        {"stats", "mean, sigma, clipped mean and background colour of an image or a region",
         "verdanix-cli stats [--json] IN [--region X,Y,W,H] [--clip K]\n\n"
         "  --region X,Y,W,H   measure this rectangle (pixels, origin top-left), which must lie within\n"
         "                     the image (default: the whole image)\n"
         "  --clip K           the clipped mean keeps pixels within K sigma, 0 to 100 (default 1)\n"
         "  --json             print mean, sigma, clippedMean and backgroundColor, each {r, g, b} or\n"
         "                     null when no pixel counts (default: text)\n"
         "The background colour is always that of the whole image.\n",
         runStats},
        {"neutralize", "scale the channels so that the sky background becomes grey",
         "verdanix-cli neutralize [--json] IN OUT.fits\n\n"
         "  --json   print {\"input\", \"output\"} (default: nothing on success)\n",
         runNeutralize},
        {"gain", "multiply the red, green and blue channels by three factors",
         "verdanix-cli gain [--json] IN OUT.fits R G B\n\n"
         "  R G B    the factors, each 0 to 1000 (no default)\n"
         "  --json   print {\"input\", \"output\"} (default: nothing on success)\n",
         runGain},
        {"combine", "combine two images of the same size pixel by pixel",
         "verdanix-cli combine [--json] A B OUT.fits --op add|subtract|multiply|divide|negmultiply [--opacity P]\n\n"
         "  --op OP       how B acts on A (no default: required)\n"
         "  --opacity P   percentage of B's effect, 0 to 100 (default 100)\n"
         "  --json        print {\"output\", \"opacity\"} (default: nothing on success)\n",
         runCombine},
        {"flatten", "subtract a smooth background model built from sky markers",
         "verdanix-cli flatten [--json] IN OUT.fits [--model MODEL.fits] [--grid COUNT --sigma K | --markers FILE]\n"
         "                     [--size S] [--exponent P] [--distance D] [--multiplier M]\n\n"
         "  --grid COUNT   place about COUNT markers on a grid, skipping bright boxes, 1 to 10000 (default 100)\n"
         "  --sigma K      a box is kept when its colour is at most K sigma above the image's, 0 to 10\n"
         "                 (default 0.1)\n"
         "  --markers FILE markers by hand: one \"x y\" per line, each on the image (default: the grid)\n"
         "  --size S       marker box edge in pixels, 1 to 99 (default 21)\n"
         "  --exponent P   weight exponent of the model, 0 to 100 (default 0.5)\n"
         "  --distance D   smoothing distance in pixels, -1 (automatic) to 10000 (default 100; a grid sets\n"
         "                 its own)\n"
         "  --multiplier M scale of the model, -100 to 100 (default 1)\n"
         "  --model FILE   also write the background model (default: not written)\n"
         "  --json         print {\"output\", \"model\", \"markers\"} (default: nothing on success)\n",
         runFlatten},
        {"sysinfo", "show the machine's threads and memory as the runs see them",
         "verdanix-cli sysinfo [--json]\n\n"
         "  --json   print hardwareThreads, totalMemoryMB and availableMemoryMB (default: text)\n",
         runSysinfo},
        {"calibrate", "calibrate light frames with master bias, dark and flat into new FITS files",
         "verdanix-cli calibrate --out DIR [--bias B] [--dark D] [--flat F] [--threads N] [--json] LIGHT...\n\n"
         "Writes each LIGHT, normalised, minus dark and bias, divided by the flat, as DIR/<name>.fts.\n"
         "Existing files are never overwritten, and a frame appears whole or not at all. Ctrl-C stops\n"
         "starting frames; running ones finish. A second Ctrl-C ends the program at once.\n"
         "  --out DIR     the output folder, which must exist (no default: required)\n"
         "  --bias B, --dark D, --flat F   master frames (each optional; default: none)\n"
         "  --threads N   frames at a time, 1 to 100 (default maxThreads of verdanix.ini, 8), lowered\n"
         "                when the frames do not fit in the memory limit\n"
         "  --json        print {\"written\", \"failed\", \"threads\", \"errorCode\"} instead of a line per\n"
         "                frame\n",
         runCalibrate},
        {"stars", "find the stars of an image and the four-star patterns registration compares",
         "verdanix-cli stars IN [--size S] [--threshold L|auto] [--max H] [--json] [--marked OUT.fits]\n\n"
         "IN is normalised to 0..1 first, as the registration does, so L and H are fractions of full scale.\n"
         "  --size S       half width of the search window in pixels, 1 to 20 (default 10); stars nearer\n"
         "                 than 2S to an edge are not searched\n"
         "  --threshold L  a star stands L above the background, 0 to 1 (default 0.1; faint stars need\n"
         "                 less); 'auto' takes L from the image's own sky noise and prints the value used\n"
         "  --max H        a star with a pixel at or above H is saturated and left out, 0 to 1 (default 0.98)\n"
         "  --json         print starCount, averageFwhm, patternCount, threshold, marked and the stars as a\n"
         "                 JSON object (default: text)\n"
         "  --marked OUT   also write the normalised image with a red ring around every star found\n"
         "                 (OUT must not exist; default: not written)\n"
         "The star list (x, y in pixels from the top-left, fwhm, brightness) is sorted brightest first.\n",
         runStars},
        {"match", "measure the shift and rotation of a frame against a reference frame",
         "verdanix-cli match REF FRAME [--size S] [--threshold L|auto] [--max H] [--json]\n\n"
         "Finds the stars of both frames as 'stars' does (same options, ranges and defaults: --size 10,\n"
         "--threshold 0.1, --max 0.98), pairs their four-star patterns and prints the transformation\n"
         "that maps FRAME onto REF: offset in pixels, angle in degrees, the number of pattern matches\n"
         "that support it, and whether the frame is stackable (more than 2 matches). --threshold auto\n"
         "chooses L for each frame from its sky noise.\n"
         "  --json   print offsetX, offsetY, angle, matchCount and stackable as a JSON object, with\n"
         "           starCount, averageFwhm, patternCount and threshold of each frame (default: text)\n",
         runMatch},
        kRegisterCommand, kStackCommand, kMasterCommand,
    };
    return table;
}

int failWith(CliContext &context, const QString &message, int status, int code)
{
    context.err << "verdanix-cli: " << message;
    if (code != 0)
        context.err << " (error " << code << ")";
    context.err << "\n";
    context.err.flush();
    if (context.json && !context.jsonPrinted)
        printJson(context, QJsonObject{{QStringLiteral("error"), message},
                                       {QStringLiteral("errorCode"), code != 0 ? QJsonValue(code) : QJsonValue()}});
    return status;
}

void printJson(CliContext &context, QJsonObject object)
{
    if (!object.contains(QStringLiteral("error")))
        object.insert(QStringLiteral("error"), QJsonValue());
    context.out << QJsonDocument(object).toJson(QJsonDocument::Compact) << "\n";
    context.out.flush();
    context.jsonPrinted = true;
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
    context.json = arguments.contains(QStringLiteral("--json"));
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
