#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "process/flattenpipeline.h"

#include <QFile>
#include <QRegularExpression>

namespace {

constexpr int kDefaultMarkerSize = 21;
constexpr int kDefaultBoxCount = 100;
constexpr double kDefaultSigma = 0.1;

// A markers file holds one "x y" (or "x,y") per line; '#' starts a comment.
bool readMarkers(const QString &path, QVector<int> &xs, QVector<int> &ys, CliContext &context)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        failWith(context, QStringLiteral("cannot read the markers file %1").arg(path));
        return false;
    }
    static const QRegularExpression separator(QStringLiteral("[\\s,]+"));
    int lineNumber = 0;
    while (!file.atEnd()) {
        ++lineNumber;
        const QString line = QString::fromUtf8(file.readLine()).section(QLatin1Char('#'), 0, 0).trimmed();
        if (line.isEmpty())
            continue;
        const QStringList parts = line.split(separator, Qt::SkipEmptyParts);
        bool okX = false;
        bool okY = false;
        const int x = parts.value(0).toInt(&okX);
        const int y = parts.value(1).toInt(&okY);
        if (parts.size() != 2 || !okX || !okY) {
            failWith(context, QStringLiteral("%1:%2: expected two whole numbers, x and y").arg(path).arg(lineNumber),
                     kExitUsage);
            return false;
        }
        xs.append(x);
        ys.append(y);
    }
    return true;
}

bool readInt(const CliArgs &args, const char *option, int &value, CliContext &context)
{
    const auto text = args.value(QString::fromLatin1(option));
    if (!text)
        return true;
    bool ok = false;
    value = text->toInt(&ok);
    if (!ok)
        failWith(context, QStringLiteral("%1 takes a whole number").arg(QString::fromLatin1(option)), kExitUsage);
    return ok;
}

bool readDouble(const CliArgs &args, const char *option, double &value, CliContext &context)
{
    const auto text = args.value(QString::fromLatin1(option));
    return !text || parseNumber(*text, QString::fromLatin1(option), value, context);
}

} // namespace

int runFlatten(const QStringList &arguments, CliContext &context)
{
    const CliArgs args(arguments, {},
                       {QStringLiteral("--model"), QStringLiteral("--grid"), QStringLiteral("--sigma"),
                        QStringLiteral("--markers"), QStringLiteral("--size"), QStringLiteral("--exponent"),
                        QStringLiteral("--distance"), QStringLiteral("--multiplier")});
    if (!args.ok())
        return failWith(context, args.error(), kExitUsage);
    if (args.positionals().size() != 2)
        return failWith(context, QStringLiteral("flatten needs an input file and an output .fits file"), kExitUsage);
    if (args.has(QStringLiteral("--markers")) && (args.has(QStringLiteral("--grid")) || args.has(QStringLiteral("--sigma"))))
        return failWith(context, QStringLiteral("--markers cannot be combined with --grid or --sigma"), kExitUsage);

    FlattenParams params;
    params.boxSize = kDefaultMarkerSize;
    int boxCount = kDefaultBoxCount;
    double sigma = kDefaultSigma;
    if (!readInt(args, "--size", params.boxSize, context) || !readInt(args, "--grid", boxCount, context)
        || !readDouble(args, "--sigma", sigma, context) || !readDouble(args, "--exponent", params.exponent, context)
        || !readInt(args, "--distance", params.distance, context)
        || !readDouble(args, "--multiplier", params.multiplier, context))
        return kExitUsage;
    if (params.boxSize < 1 || boxCount < 1)
        return failWith(context, QStringLiteral("--size and --grid take positive numbers"), kExitUsage);

    const QString output = args.positionals().at(1);
    const auto modelPath = args.value(QStringLiteral("--model"));
    if (!checkFitsTarget(output, context) || (modelPath && !checkFitsTarget(*modelPath, context)))
        return kExitFailure;
    QVector<int> xs;
    QVector<int> ys;
    if (const auto markersPath = args.value(QStringLiteral("--markers"));
        markersPath && !readMarkers(*markersPath, xs, ys, context))
        return kExitUsage;

    int status = kExitFailure;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        auto image = loadImageOrFail(args.positionals().at(0), context);
        if (!image)
            return;
        if (!args.has(QStringLiteral("--markers"))) {
            float step = 0.0f;
            for (const GridMarker &marker : gridMarkerPositions(*image, params.boxSize, boxCount, sigma, step)) {
                xs.append(marker.x);
                ys.append(marker.y);
            }
            params.autoStep = step;
            messageLog().logMessage(QString::number(xs.size()) + QStringLiteral(" markers set."));
        }
        FlattenResult result = flattenImage(*image, xs, ys, params, messageLog());
        if (result.status != FlattenStatus::Done) {
            status = failWith(context, flattenRefusalLines(result.status).join(QLatin1Char(' ')));
            return;
        }
        status = saveFitsOrFail(*result.flat, output, context);
        if (status == kExitOk && modelPath)
            status = saveFitsOrFail(*result.background, *modelPath, context);
    });
    return enoughMemory ? status : failWith(context, QStringLiteral("not enough memory"));
}
