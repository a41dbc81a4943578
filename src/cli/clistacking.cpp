#include "clistacking.h"

#include "cliargs.h"
#include "cliimages.h"
#include "image/imagebuffer.h"
#include "log/messagelog.h"
#include "stack/multifb.h"


namespace {

bool parseWholeNumber(const CliArgs &args, const QString &option, int &value, CliContext &context)
{
    const auto text = args.value(option);
    if (!text)
        return true;
    bool ok = false;
    const int parsed = text->toInt(&ok);
    if (!ok || parsed < 1) {
        failWith(context, QStringLiteral("%1 needs a whole number of at least 1").arg(option), kExitUsage);
        return false;
    }
    value = parsed;
    return true;
}

} // namespace

int parseChoice(const CliArgs &args, const QString &option, const QStringList &names, int defaultIndex,
                CliContext &context)
{
    const auto value = args.value(option);
    if (!value)
        return defaultIndex;
    const int index = static_cast<int>(names.indexOf(*value));
    if (index < 0)
        failWith(context,
                 QStringLiteral("unknown %1 '%2' (one of: %3)").arg(option, *value, names.join(QStringLiteral(", "))),
                 kExitUsage);
    return index;
}

bool parseResourceOptions(const CliArgs &args, ResourcePreferences &prefs, CliContext &context)
{
    return optionWholeNumber(args, QStringLiteral("--threads"), 1, kMaxCliThreads, prefs.maxThreads, context)
           && parseWholeNumber(args, QStringLiteral("--mem"), prefs.maxMem, context);
}

bool checkFramesExist(const QStringList &frames, CliContext &context)
{
    for (const QString &frame : frames) {
        // Also a folder, a pipe or a device: refused before anything opens it.
        if (!checkInputFile(frame, context))
            return false;
    }
    return true;
}

int failStack(const MultiFB &fb, CliContext &context)
{
    return failWith(context, fb.errorText(), kExitFailure, fb.errorCode);
}

int saveStack(const ImageBuffer &result, const QString &output, const MultiFB &fb, double seconds, bool json,
              QJsonObject summary, CliContext &context)
{
    if (saveFitsOrFail(result, output, context) != kExitOk)
        return kExitFailure;
    if (json) {
        summary.insert(QStringLiteral("bands"), fb.bandsLoaded());
        summary.insert(QStringLiteral("seconds"), seconds);
        summary.insert(QStringLiteral("output"), output);
        printJson(context, summary);
    } else {
        context.out << output << ": " << fb.frameCount() << " frames, " << result.width << " x " << result.height
                    << ", " << fb.bandsLoaded() << (fb.bandsLoaded() == 1 ? " band, " : " bands, ")
                    << QString::number(seconds, 'f', 2) << " s\n";
    }
    return kExitOk;
}
