#include "commandtable.h"

#include "commands.h"
#include "image/imageloader.h"
#include "platform/libraryversions.h"
#include "version.h"

#include <QJsonDocument>

#include <algorithm>

namespace {

// The layout of a command's option lines: indent, least gap before the help, line width.
constexpr int kHelpIndent = 2;
constexpr int kHelpGap = 3;
constexpr int kHelpWidth = 100;

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
        {"info",
         "describe image files: format, size, scale, range and clipping points",
         "verdanix-cli info [--json] FILE...",
         "",
         {{"--json", nullptr, "text",
           "print {\"files\": [...]} with one object per file; a file that cannot be read has \"path\", "
           "\"error\" and \"errorCode\""}},
         "",
         runInfo},
        {"convert",
         "convert any readable image to the program's FITS (never overwrites)",
         "verdanix-cli convert [--json] IN OUT.fits",
         "Writes OUT as a three-plane 32-bit floating-point FITS file with the values of IN.\n"
         "OUT must not exist yet.\n",
         {{"--json", nullptr, "a line naming OUT", "print {\"input\", \"output\"}"}},
         "",
         runConvert},
        {"render",
         "write the 8-bit preview of an image as an image window shows it",
         "verdanix-cli render [--json] IN OUT.png|jpg [--auto CLIP | --black B --gamma G --white W]",
         "",
         {{"--auto", "CLIP", "off", "automatic stretch: CLIP of the pixels below black and above white, 0 to 0.4"},
          {"--black", "B", "0", "black point, 0 to 99.99 of the image's full scale"},
          {"--gamma", "G", "1", "gamma exponent, 0.01 to 99.99"},
          {"--white", "W", "1", "white point, above B and at most 99.99"},
          {"--json", nullptr, "a line", "print {\"output\", \"black\", \"gamma\", \"white\"}"}},
         "The preview gamma of verdanix.ini applies, as in the desktop program. OUT (.png, .jpg, .jpeg,\n"
         ".bmp, .tif or .tiff) must not exist.\n",
         runRender},
        {"stats",
         "mean, sigma, clipped mean and background colour of an image or a region",
         "verdanix-cli stats [--json] IN [--region X,Y,W,H] [--clip K]",
         "",
         {{"--region", "X,Y,W,H", "the whole image",
           "measure this rectangle (pixels, origin top-left), which must lie within the image"},
          {"--clip", "K", "1", "the clipped mean keeps pixels within K sigma, 0 to 100"},
          {"--json", nullptr, "text",
           "print mean, sigma, clippedMean and backgroundColor, each {r, g, b} or null when no pixel counts"}},
         "The background colour is always that of the whole image.\n",
         runStats},
        {"neutralize",
         "scale the channels so that the sky background becomes grey",
         "verdanix-cli neutralize [--json] IN OUT.fits",
         "",
         {{"--json", nullptr, "nothing on success", "print {\"input\", \"output\"}"}},
         "",
         runNeutralize},
        {"gain",
         "multiply the red, green and blue channels by three factors",
         "verdanix-cli gain [--json] IN OUT.fits R G B",
         "  R G B    the factors, each 0 to 1000 (no default)\n",
         {{"--json", nullptr, "nothing on success", "print {\"input\", \"output\"}"}},
         "",
         runGain},
        {"combine",
         "combine two images of the same size pixel by pixel",
         "verdanix-cli combine [--json] A B OUT.fits --op add|subtract|multiply|divide|negmultiply [--opacity P]",
         "",
         {{"--op", "OP", nullptr, "how B acts on A (no default: required)"},
          {"--opacity", "P", "100", "percentage of B's effect, 0 to 100"},
          {"--json", nullptr, "nothing on success", "print {\"output\", \"opacity\"}"}},
         "",
         runCombine},
        {"flatten",
         "subtract a smooth background model built from sky markers",
         "verdanix-cli flatten [--json] IN OUT.fits [--model MODEL.fits] [--grid COUNT --sigma K | --markers FILE]\n"
         "                     [--size S] [--exponent P] [--distance D] [--multiplier M]",
         "",
         {{"--grid", "COUNT", "100", "place about COUNT markers on a grid, skipping bright boxes, 1 to 10000"},
          {"--sigma", "K", "0.1", "a box is kept when its colour is at most K sigma above the image's, 0 to 10"},
          {"--markers", "FILE", "the grid", "markers by hand: one \"x y\" per line, each on the image"},
          {"--size", "S", "21", "marker box edge in pixels, 1 to 99"},
          {"--exponent", "P", "0.5", "weight exponent of the model, 0 to 100"},
          {"--distance", "D", "100; a grid sets its own", "smoothing distance in pixels, -1 (automatic) to 10000"},
          {"--multiplier", "M", "1", "scale of the model, -100 to 100"},
          {"--model", "FILE", "not written", "also write the background model"},
          {"--json", nullptr, "nothing on success", "print {\"output\", \"model\", \"markers\"}"}},
         "",
         runFlatten},
        {"sysinfo",
         "show the machine's threads and memory as the runs see them",
         "verdanix-cli sysinfo [--json]",
         "",
         {{"--json", nullptr, "text", "print hardwareThreads, totalMemoryMB and availableMemoryMB"}},
         "",
         runSysinfo},
        {"calibrate",
         "calibrate light frames with master bias, dark and flat into new FITS files",
         "verdanix-cli calibrate --out DIR [--bias B] [--dark D] [--flat F] [--threads N] [--json] LIGHT...",
         "Writes each LIGHT, normalised, minus dark and bias, divided by the flat, as DIR/<name>.fts.\n"
         "Existing files are never overwritten, and a frame appears whole or not at all. Ctrl-C stops\n"
         "starting frames; running ones finish. A second Ctrl-C ends the program at once.\n",
         {{"--out", "DIR", nullptr, "the output folder, which must exist (no default: required)"},
          {"--bias", "B", nullptr, nullptr},
          {"--dark", "D", nullptr, nullptr},
          {"--flat", "F", "none", "master frames, each optional"},
          {"--threads", "N", "maxThreads of verdanix.ini, 8",
           "frames at a time, 1 to 100, lowered when the frames do not fit in the memory limit"},
          {"--json", nullptr, nullptr,
           "print {\"written\", \"failed\", \"threads\", \"errorCode\"} instead of a line per frame"}},
         "",
         runCalibrate},
        {"stars",
         "find the stars of an image and the four-star patterns registration compares",
         "verdanix-cli stars IN [--size S] [--threshold L|auto] [--max H] [--json] [--marked OUT.fits]",
         "IN is normalised to 0..1 first, as the registration does, so L and H are fractions of full scale.\n",
         {kStarSizeOption,
          kStarThresholdOption,
          kStarMaxOption,
          {"--json", nullptr, "text",
           "print starCount, averageFwhm, patternCount, threshold, marked and the stars as a JSON object"},
          {"--marked", "OUT", "not written",
           "also write the normalised image with a red ring around every star found; OUT must not exist"}},
         "The star list (x, y in pixels from the top-left, fwhm, brightness) is sorted brightest first.\n",
         runStars},
        {"match",
         "measure the shift and rotation of a frame against a reference frame",
         "verdanix-cli match REF FRAME [--size S] [--threshold L|auto] [--max H] [--json]",
         "Finds the stars of both frames as 'stars' does (same options, ranges and defaults: --size 10,\n"
         "--threshold 0.1, --max 0.98), pairs their four-star patterns and prints the transformation\n"
         "that maps FRAME onto REF: offset in pixels, angle in degrees, the number of pattern matches\n"
         "that support it, and whether the frame is stackable (more than 2 matches). --threshold auto\n"
         "chooses L for each frame from its sky noise.\n",
         {kStarSizeOption,
          kStarThresholdOption,
          kStarMaxOption,
          {"--json", nullptr, "text",
           "print offsetX, offsetY, angle, matchCount and stackable as a JSON object, with starCount, "
           "averageFwhm, patternCount and threshold of each frame"}},
         "",
         runMatch},
        kRegisterCommand,
        kStackCommand,
        kMasterCommand,
    };
    return table;
}

QString commandUsage(const CliCommand &command)
{
    // Options without help of their own share the line of the next option.
    struct HelpLine {
        QString label;
        QStringList words;
    };
    std::vector<HelpLine> lines;
    QStringList group;
    int labelWidth = 0;
    for (const CliOption &option : command.options) {
        group << QLatin1String(option.name)
                     + (option.value ? QLatin1Char(' ') + QLatin1String(option.value) : QString());
        if (!option.help)
            continue;
        // A shared line is too long to set the column; its text just follows it.
        if (group.size() == 1)
            labelWidth = std::max(labelWidth, static_cast<int>(group.first().size()));
        QStringList words = QString::fromLatin1(option.help).split(QLatin1Char(' '));
        if (option.defaultText) {
            // "(default:" never ends a line on its own.
            QStringList defaultWords = QString::fromLatin1(option.defaultText).split(QLatin1Char(' '));
            defaultWords.first().prepend(QStringLiteral("(default: "));
            defaultWords.last().append(QLatin1Char(')'));
            words += defaultWords;
        }
        lines.push_back({group.join(QStringLiteral(", ")), words});
        group.clear();
    }
    const int column = kHelpIndent + labelWidth + kHelpGap;

    QString usage = QLatin1String(command.synopsis) + QStringLiteral("\n\n") + QLatin1String(command.description);
    for (const HelpLine &line : lines) {
        QString row = QString(kHelpIndent, QLatin1Char(' ')) + line.label;
        row += QString(std::max(kHelpGap, column - static_cast<int>(row.size())), QLatin1Char(' '));
        // Words wrap at the line width, continued under the column.
        int wordsOnRow = 0;
        for (const QString &word : line.words) {
            if (wordsOnRow > 0 && row.size() + 1 + word.size() > kHelpWidth) {
                usage += row + QLatin1Char('\n');
                row = QString(column, QLatin1Char(' '));
                wordsOnRow = 0;
            }
            row += (wordsOnRow++ > 0 ? QStringLiteral(" ") : QString()) + word;
        }
        usage += row + QLatin1Char('\n');
    }
    return usage + QLatin1String(command.notes);
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
            context.out << "usage: " << commandUsage(command);
            return kExitOk;
        }
        const CliArgs args(rest, command.options);
        if (!args.ok())
            return failWith(context, args.error(), kExitUsage);
        return command.run(args, context);
    }
    return failWith(context, QStringLiteral("unknown command '%1' (see verdanix-cli --help)").arg(first), kExitUsage);
}
