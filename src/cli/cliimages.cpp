#include "cliimages.h"

#include "cliargs.h"
#include "image/fitswriter.h"
#include "image/imageloader.h"
#include "log/errorcodes.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"

#include <QFileInfo>
#include <QJsonObject>


std::unique_ptr<ImageBuffer> loadImageOrFail(const QString &path, CliContext &context)
{
    ImageLoader loader;
    auto buffer = loader.loadFile(path, false);
    if (!buffer)
        failWith(context, failureLine(QStringLiteral("cannot open"), path, fileFailureText(path, loader.errorCode)),
                 kExitFailure, loader.errorCode);
    return buffer;
}

bool checkInputFile(const QString &path, CliContext &context)
{
    const QString problem = inputFileProblem(path);
    if (problem.isEmpty())
        return true;
    failWith(context, failureLine(QStringLiteral("cannot open"), path, problem));
    return false;
}

int refuseOutputTarget(const QString &path, const QStringList &suffixes, CliContext &context)
{
    if (!suffixes.contains(QFileInfo(path).suffix().toLower()))
        return failWith(context, QStringLiteral("%1 must end in .%2").arg(path, suffixes.join(QStringLiteral(", ."))),
                        kExitUsage);
    const QString problem = newFileProblem(path);
    if (!problem.isEmpty())
        return failWith(context, failureLine(QStringLiteral("cannot write"), path, problem));
    return kExitOk;
}

int refuseFitsTarget(const QString &path, CliContext &context)
{
    return refuseOutputTarget(path, {QStringLiteral("fits"), QStringLiteral("fit"), QStringLiteral("fts")}, context);
}

bool checkFitsTarget(const QString &path, CliContext &context)
{
    return refuseFitsTarget(path, context) == kExitOk;
}

int saveFitsOrFail(const ImageBuffer &image, const QString &path, CliContext &context)
{
    QString reason;
    const int status = saveFitsImage(image, path, messageLog(), &reason);
    if (status != 0)
        return failWith(context, failureLine(QStringLiteral("cannot write"), path, reason), kExitFailure, status);
    return kExitOk;
}

bool parseNumber(const QString &text, const QString &option, double low, double high, double &value,
                 CliContext &context)
{
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    // Written so that NaN fails it.
    if (!ok || !(parsed >= low && parsed <= high)) {
        failWith(context, QStringLiteral("%1 takes a number from %2 to %3, not '%4'")
                              .arg(option, logNumber(low), logNumber(high), text),
                 kExitUsage);
        return false;
    }
    value = parsed;
    return true;
}

bool parseNumber(const QString &text, const QString &option, double &value, CliContext &context)
{
    bool ok = false;
    value = text.toDouble(&ok);
    if (!ok)
        failWith(context, QStringLiteral("%1 takes a number, not '%2'").arg(option, text), kExitUsage);
    return ok;
}

bool parseWholeNumber(const QString &text, const QString &option, int low, int high, int &value, CliContext &context)
{
    bool ok = false;
    const int parsed = text.toInt(&ok);
    if (!ok || parsed < low || parsed > high) {
        failWith(context,
                 QStringLiteral("%1 takes a whole number from %2 to %3, not '%4'").arg(option).arg(low).arg(high).arg(text),
                 kExitUsage);
        return false;
    }
    value = parsed;
    return true;
}

bool optionNumber(const CliArgs &args, const QString &option, double low, double high, double &value,
                  CliContext &context)
{
    const auto text = args.value(option);
    return !text || parseNumber(*text, option, low, high, value, context);
}

bool optionWholeNumber(const CliArgs &args, const QString &option, int low, int high, int &value, CliContext &context)
{
    const auto text = args.value(option);
    return !text || parseWholeNumber(*text, option, low, high, value, context);
}

int transformImageFile(const QString &input, const QString &output, CliContext &context,
                       const std::function<std::unique_ptr<ImageBuffer>(std::unique_ptr<ImageBuffer>)> &work)
{
    if (const int refused = refuseFitsTarget(output, context))
        return refused;
    int status = kExitFailure;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        auto image = loadImageOrFail(input, context);
        if (!image)
            return;
        auto result = work(std::move(image));
        if (result)
            status = saveFitsOrFail(*result, output, context);
    });
    if (!enoughMemory)
        return failWith(context, QStringLiteral("not enough memory"), kExitFailure, kNotEnoughMemory);
    if (status == kExitOk && context.json)
        printJson(context, QJsonObject{{QStringLiteral("input"), input}, {QStringLiteral("output"), output}});
    return status;
}
