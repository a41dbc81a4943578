// verdanix-cli stack: light frames combined into one image, pixel by pixel or, from a saved
// registration table, in the common frame of the registered frames.
#include "cliargs.h"
#include "cliimages.h"
#include "clistacking.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "platform/machine.h"
#include "stack/multifb.h"
#include "stack/stackrun.h"
#include "stack/stackstatistics.h"
#include "stars/registrationtable.h"

#include <QElapsedTimer>
#include <QJsonObject>

#include <cmath>

namespace {

const QStringList kMethods = {QStringLiteral("average"), QStringLiteral("median"), QStringLiteral("sigma")};
const QStringList kRejections = {QStringLiteral("none"), QStringLiteral("winsorize"), QStringLiteral("trim")};
// In the order of StackInterpolation.
const QStringList kInterpolations = {QStringLiteral("nearest"), QStringLiteral("bilinear"),
                                     QStringLiteral("lanczos3")};
// In the order of StackNormalization.
// In the order of StackWeighting.
const QStringList kWeightings = {QStringLiteral("none"), QStringLiteral("noise"), QStringLiteral("noise-fwhm")};
const QStringList kNormalizations = {QStringLiteral("none"), QStringLiteral("add"), QStringLiteral("mul"),
                                     QStringLiteral("addscale")};

// --sigma and --fraction: numbers of at least 0.
bool parseFactor(const CliArgs &args, const QString &option, float &value, CliContext &context)
{
    const auto text = args.value(option);
    if (!text)
        return true;
    double parsed = 0.0;
    if (!parseNumber(*text, option, parsed, context))
        return false;
    if (!std::isfinite(parsed) || parsed < 0.0) {
        failWith(context, QStringLiteral("%1 needs a number of at least 0, not '%2'").arg(option, *text), kExitUsage);
        return false;
    }
    value = static_cast<float>(parsed);
    return true;
}

// The stackable frames of a registration table and their transforms.
bool framesFromTable(const QString &tablePath, QStringList &frames, std::vector<StackTransform> &transforms,
                     CliContext &context)
{
    RegistrationTable table;
    QString error;
    if (!readRegistrationTable(tablePath, table, error)) {
        failWith(context, QStringLiteral("cannot read the registration table %1: %2").arg(tablePath, error));
        return false;
    }
    for (const RegistrationTableRow &row : table.frames) {
        if (!row.stackable)
            continue;
        frames << row.file;
        transforms.push_back(StackTransform{row.offsetX, row.offsetY, row.angle, row.fwhm});
    }
    if (frames.size() < 2) {
        failWith(context,
                 QStringLiteral("You need at least two stackable (successfully registered) images for frame stacking!"));
        return false;
    }
    return true;
}

int runStack(const CliArgs &args, CliContext &context)
{
    StackOptions options;
    options.algorithm = parseChoice(args, QStringLiteral("--method"), kMethods, 0, context);
    if (options.algorithm < 0)
        return kExitUsage;
    options.rejection = parseChoice(args, QStringLiteral("--reject"), kRejections, 0, context);
    if (options.rejection < 0)
        return kExitUsage;
    const int interpolation = parseChoice(args, QStringLiteral("--interpolation"), kInterpolations, 0, context);
    if (interpolation < 0)
        return kExitUsage;
    options.interpolation = static_cast<StackInterpolation>(interpolation);
    const int normalization = parseChoice(args, QStringLiteral("--normalize"), kNormalizations, 0, context);
    if (normalization < 0)
        return kExitUsage;
    options.normalization = static_cast<StackNormalization>(normalization);
    const int weighting = parseChoice(args, QStringLiteral("--weights"), kWeightings, 0, context);
    if (weighting < 0)
        return kExitUsage;
    options.weighting = static_cast<StackWeighting>(weighting);
    if (options.weighting == StackWeighting::NoiseFwhm && !args.value(QStringLiteral("--registration")))
        return failWith(context, QStringLiteral("--weights noise-fwhm takes the FWHM from --registration"), kExitUsage);
    options.coverage = args.has(QStringLiteral("--coverage"));
    if (options.coverage && !args.value(QStringLiteral("--registration")))
        return failWith(context, QStringLiteral("--coverage is only used with --registration"), kExitUsage);
    if (args.has(QStringLiteral("--interpolation")) && !args.value(QStringLiteral("--registration")))
        return failWith(context, QStringLiteral("--interpolation is only used with --registration"), kExitUsage);
    if (!parseFactor(args, QStringLiteral("--sigma"), options.sigma, context)
        || !parseFactor(args, QStringLiteral("--fraction"), options.fraction, context))
        return kExitUsage;
    ResourcePreferences prefs = readRunPreferences();
    if (!parseResourceOptions(args, prefs, context))
        return kExitUsage;
    const auto output = args.value(QStringLiteral("--out"));
    if (!output)
        return failWith(context, QStringLiteral("stack needs an output file (--out OUT.fits)"), kExitUsage);

    QStringList frames = args.positionals();
    std::vector<StackTransform> transforms;
    if (const auto table = args.value(QStringLiteral("--registration"))) {
        if (!frames.isEmpty())
            return failWith(context, QStringLiteral("--registration takes the frames from the table; give no FRAME"),
                            kExitUsage);
        if (!framesFromTable(*table, frames, transforms, context))
            return kExitFailure;
    } else if (frames.size() < 2) {
        return failWith(context, QStringLiteral("stack needs at least two frames"), kExitUsage);
    }
    // Rejection that leaves no sample is refused for the frames given; the median uses none.
    if (options.algorithm != stackstats::CombineMedian) {
        const QString problem = stackstats::rejectionFractionProblem(options.rejection, options.fraction,
                                                                     static_cast<int>(frames.size()));
        if (!problem.isEmpty())
            return failWith(context, problem, kExitUsage);
    }
    options.flatPath = args.value(QStringLiteral("--flat")).value_or(QString());
    options.darkPath = args.value(QStringLiteral("--dark")).value_or(QString());
    options.biasPath = args.value(QStringLiteral("--bias")).value_or(QString());
    if (!checkFitsTarget(*output, context) || !checkFramesExist(frames, context))
        return kExitFailure;

    MessageLog &log = messageLog();
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<ImageBuffer> result;
    int status = kExitOk;
    const bool enoughMemory = guardMemory(log, [&] {
        MultiFB fb(log, frames, prefs, queryPhysicalMemory().availableBytes);
        if (fb.errorCode != 0) {
            status = failStack(fb, context);
            return;
        }
        const struct {
            const QString *path;
            bool (MultiFB::*set)(const QString &);
        } masters[] = {{&options.flatPath, &MultiFB::setFlat},
                       {&options.darkPath, &MultiFB::setDark},
                       {&options.biasPath, &MultiFB::setBias}};
        // The masters load here, so that one that cannot be used stops the run before any frame
        // is read; the stack then takes them as they are.
        for (const auto &master : masters) {
            if (!master.path->isEmpty() && !(fb.*master.set)(*master.path)) {
                status = failWith(context, fb.lastMasterProblem());
                return;
            }
        }
        StackOptions loaded = options;
        loaded.flatPath.clear();
        loaded.darkPath.clear();
        loaded.biasPath.clear();
        {
            const InterruptSetsFlag interrupt(fb.abortFlag());
            result = runStack(fb, loaded, transforms, log);
        }
        if (!result || fb.abortFlag()->load()) {
            log.logMessage(QStringLiteral("Stacking aborted."));
            status = failStack(fb, context);
            return;
        }
        log.logMessage(QStringLiteral("Stacking done"));
        const QJsonObject summary{{QStringLiteral("frames"), fb.frameCount()},
                                  {QStringLiteral("size"), QJsonObject{{QStringLiteral("width"), result->width},
                                                                       {QStringLiteral("height"), result->height}}},
                                  {QStringLiteral("method"), kMethods.at(options.algorithm)},
                                  {QStringLiteral("rejection"), kRejections.at(options.rejection)},
                                  {QStringLiteral("interpolation"), kInterpolations.at(interpolation)},
                                  {QStringLiteral("normalization"), kNormalizations.at(normalization)},
                                  {QStringLiteral("coverage"), options.coverage},
                                  {QStringLiteral("weights"), kWeightings.at(weighting)},
                                  {QStringLiteral("registered"), fb.registered()}};
        status = saveStack(*result, *output, fb, clock.nsecsElapsed() * 1e-9, args.has(QStringLiteral("--json")),
                           summary, context);
    });
    if (!enoughMemory)
        return failWith(context, QStringLiteral("not enough memory"));
    return status;
}

} // namespace

const CliCommand kStackCommand = {
    "stack",
    "combine light frames into one image (average, median or sigma clipping)",
    "verdanix-cli stack [--method average|median|sigma] [--reject none|winsorize|trim] [--sigma K]\n"
    "                   [--fraction F] [--bias B] [--dark D] [--flat F] [--threads N] [--mem MB] [--json]\n"
    "                   [--normalize N] [--weights W] --out OUT.fits\n"
    "                   (FRAME... | --registration TABLE.json [--interpolation I] [--coverage])",
    "Combines frames of equal size pixel by pixel, each normalised and calibrated first (minus bias,\n"
    "dark, divided by the flat). OUT must not exist; nothing is written unless the stack completes.\n"
    "Ctrl-C stops the stack without writing anything.\n",
    {
        {"--out", "OUT.fits", nullptr, "the stacked image to write (no default: required)"},
        {"--method", "M", "average", "average, median or sigma (one pass of sigma clipping)"},
        {"--reject", "R", "none", "before average or sigma: none, winsorize or trim"},
        {"--sigma", "K", "1", "sigma clipping keeps values within K standard deviations"},
        {"--fraction", "F", "0.1", "share of the samples winsorized or trimmed"},
        {"--bias", "B", nullptr, nullptr},
        {"--dark", "D", nullptr, nullptr},
        {"--flat", "F", "none", "master frames of the frames' size, each optional"},
        {"--threads", "N", "maxThreads of verdanix.ini, 8", "loading and combining threads"},
        {"--mem", "MB", "maxMem of verdanix.ini, 1024", "memory for the frames' bands"},
        {"--registration", "T", nullptr,
         "stack the stackable frames of a registration table (verdanix-cli register --save) in their common frame"},
        {"--interpolation", "I", "nearest",
         "with --registration, how each frame is sampled in the common frame: nearest (the pixel at the "
         "truncated position), bilinear or lanczos3 (both at the exact position; lanczos3 keeps stars sharpest)"},
        {"--coverage", nullptr, "off: a frame adds black where it does not cover the stack",
         "with --registration, a frame gives no sample where it does not cover the stack: each pixel combines "
         "the frames that cover it, a pixel none covers is NaN; the log counts the pixels whose rejection had "
         "too few samples and took their plain mean"},
        {"--normalize", "N", "none",
         "bring each frame to the first frame's sky before combining, from each frame's median and noise "
         "measured once first: none, add (offset), mul (scale) or addscale (offset and noise scale); the log "
         "lists each frame's factors"},
        {"--weights", "W", "none",
         "weigh each frame in the average and the sigma-clipped mean (not the median): none, noise (inverse "
         "sky variance, measured once first) or noise-fwhm (also divided by the FWHM squared, from "
         "--registration); scaled to a mean of 1, so equal frames give the unweighted stack; logged per frame"},
        {"--json", nullptr, nullptr,
         "print frames, size, method, rejection, interpolation, normalization, coverage, weights, registered, "
         "bands, seconds and output as JSON"},
    },
    "",
    runStack};
