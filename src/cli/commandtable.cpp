#include "commandtable.h"

#include "commands.h"
#include "platform/libraryversions.h"
#include "version.h"

namespace {

void printHelp(QTextStream &out)
{
    out << "usage: verdanix-cli [--version | --help] <command> [options]\n\n"
        << "Processes astrophotographs without the desktop program.\n\n"
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
        {"sysinfo", "show the machine's threads and memory as the runs see them",
         "verdanix-cli sysinfo [--json]\n\n"
         "  --json   print the figures as a JSON object\n",
         runSysinfo},
    };
    return table;
}

int failWith(CliContext &context, const QString &message, int status)
{
    context.err << "verdanix-cli: " << message << "\n";
    context.err.flush();
    return status;
}

int dispatchCommandLine(const QStringList &arguments, CliContext &context)
{
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
