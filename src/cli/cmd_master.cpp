// verdanix-cli master: single calibration frames stacked into a master flat, dark, bias or dark
// flat, post-processed by type as the desktop program's master-frame panel does it.
#include "cliargs.h"
#include "cliimages.h"
#include "clistacking.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "platform/machine.h"
#include "stack/masterframe.h"
#include "stack/multifb.h"

#include <QElapsedTimer>
#include <QJsonObject>

namespace {

// In the order of MasterType and of the panel's boxes.
const QStringList kTypes = {QStringLiteral("flat"), QStringLiteral("dark"), QStringLiteral("bias"),
                            QStringLiteral("darkflat")};
const QStringList kMethods = {QStringLiteral("median"), QStringLiteral("average"), QStringLiteral("sigma")};
const QStringList kRejections = {QStringLiteral("none"), QStringLiteral("winsorize"), QStringLiteral("trim")};

// The options a type does not take, as the panel disables them.
QString unusedOption(const CliArgs &args, MasterType type)
{
    if (type == MasterType::Bias && args.has(QStringLiteral("--bias")))
        return QStringLiteral("--bias is not used for a master bias");
    if (type != MasterType::Flat && args.has(QStringLiteral("--darkflat")))
        return QStringLiteral("--darkflat is only used for a master flat");
    if (type != MasterType::Flat && args.has(QStringLiteral("--normalize")))
        return QStringLiteral("--normalize is only used for a master flat");
    return QString();
}

int runMaster(const CliArgs &args, CliContext &context)
{
    if (!args.has(QStringLiteral("--type")))
        return failWith(context, QStringLiteral("master needs a frame type (--type flat|dark|bias|darkflat)"),
                        kExitUsage);
    const int type = parseChoice(args, QStringLiteral("--type"), kTypes, 0, context);
    if (type < 0)
        return kExitUsage;
    MasterFrameOptions options;
    options.type = static_cast<MasterType>(type);
    options.method = parseChoice(args, QStringLiteral("--method"), kMethods, 0, context);
    if (options.method < 0)
        return kExitUsage;
    options.rejection = parseChoice(args, QStringLiteral("--reject"), kRejections, 0, context);
    if (options.rejection < 0)
        return kExitUsage;
    options.normalizeChannels = args.has(QStringLiteral("--normalize"));
    const QString unused = unusedOption(args, options.type);
    if (!unused.isEmpty())
        return failWith(context, unused, kExitUsage);
    ResourcePreferences prefs = readRunPreferences();
    if (!parseResourceOptions(args, prefs, context))
        return kExitUsage;
    const auto output = args.value(QStringLiteral("--out"));
    if (!output)
        return failWith(context, QStringLiteral("master needs an output file (--out OUT.fits)"), kExitUsage);
    const QStringList frames = args.positionals();
    if (frames.size() < 2)
        return failWith(context, QStringLiteral("master needs at least two frames"), kExitUsage);
    const QString biasPath = args.value(QStringLiteral("--bias")).value_or(QString());
    const QString darkFlatPath = args.value(QStringLiteral("--darkflat")).value_or(QString());
    if (const int refused = refuseFitsTarget(*output, context))
        return refused;
    for (const QString &path : frames + QStringList{biasPath, darkFlatPath}) {
        if (!path.isEmpty() && !checkInputFile(path, context))
            return kExitFailure;
    }

    MessageLog &log = messageLog();
    QElapsedTimer clock;
    clock.start();
    int status = kExitOk;
    const bool enoughMemory = guardMemory(log, [&] {
        log.logMessage(QStringLiteral("[Info] Generating master frame."));
        MultiFB fb(log, frames, prefs, queryPhysicalMemory().availableBytes);
        if (fb.errorCode != 0) {
            status = failStack(fb, context);
            return;
        }
        // The masters load here, so that one that cannot be used stops the run before any frame
        // is read.
        if ((!biasPath.isEmpty() && !fb.setBias(biasPath))
            || (!darkFlatPath.isEmpty() && !fb.setDarkFlat(darkFlatPath))) {
            status = failWith(context, fb.lastMasterProblem());
            return;
        }
        std::unique_ptr<ImageBuffer> master;
        {
            const InterruptSetsFlag interrupt(fb.abortFlag());
            master = generateMasterFrame(fb, options, log);
        }
        if (!master) {
            log.setStatusText(QStringLiteral("Aborted."));
            log.logMessage(QStringLiteral("Aborted."));
            status = failStack(fb, context);
            return;
        }
        const QJsonObject summary{
            {QStringLiteral("frames"), fb.frameCount()},
            {QStringLiteral("size"),
             QJsonObject{{QStringLiteral("width"), master->width}, {QStringLiteral("height"), master->height}}},
            {QStringLiteral("type"), kTypes.at(type)},
            {QStringLiteral("title"), masterFrameTitle(options.type)},
            {QStringLiteral("method"), kMethods.at(options.method)},
            {QStringLiteral("rejection"), kRejections.at(masterRejectionMode(options))}};
        status = saveStack(*master, *output, fb, clock.nsecsElapsed() * 1e-9, args.has(QStringLiteral("--json")),
                           summary, context);
    });
    if (!enoughMemory)
        return failWith(context, QStringLiteral("not enough memory"), kExitFailure, kNotEnoughMemory);
    return status;
}

} // namespace

const CliCommand kMasterCommand = {
    "master",
    "stack single calibration frames into a master flat, dark, bias or dark flat",
    "verdanix-cli master --type flat|dark|bias|darkflat [--method median|average|sigma]\n"
    "                    [--reject none|winsorize|trim] [--normalize] [--bias B] [--darkflat DF]\n"
    "                    [--threads N] [--mem MB] [--json] --out OUT.fits FRAME...",
    "Stacks the frames (median by default) and writes the master as a 32-bit float FITS file with\n"
    "white level 1.0. A dark, bias or dark flat reports its highest pixel data (99 % point).\n"
    "OUT must not exist. Ctrl-C stops the stack without writing anything.\n",
    {
        {"--type", "T", nullptr, "flat, dark, bias or darkflat (no default: required)"},
        {"--out", "OUT.fits", nullptr, "the master to write (no default: required)"},
        {"--method", "M", "median", "median, average or sigma"},
        {"--reject", "R", "none", "with average or sigma: none, winsorize or trim (a tenth each)"},
        {"--normalize", nullptr, "off", "flat: scale each channel so that its 99.9 % point becomes 1.0"},
        {"--bias", "B", "none", "flat, dark, dark flat: a master bias subtracted from every frame"},
        {"--darkflat", "DF", "none", "flat: a master dark flat subtracted from every frame"},
        {"--threads", "N", "maxThreads of verdanix.ini, 8", "loading and combining threads"},
        {"--mem", "MB", "maxMem of verdanix.ini, 1024", "memory for the frames' bands"},
        {"--json", nullptr, "one line", "print frames, size, type, method, rejection, bands, seconds and output"},
    },
    "",
    runMaster};
