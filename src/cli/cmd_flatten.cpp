#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "platform/machine.h"
#include "platform/settingsfile.h"
#include "process/flattenpipeline.h"

#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

constexpr int kDefaultMarkerSize = 21;
constexpr int kDefaultBoxCount = 100;
constexpr double kDefaultSigma = 0.1;
// The flatten window's bounds; the grid's count also bounds the boxes measured.
constexpr int kMaxMarkerSize = 99;
constexpr int kMaxBoxCount = 10000;
constexpr double kMaxSigma = 10.0;
constexpr double kMaxExponent = 100.0;
constexpr double kMaxMultiplier = 100.0;
constexpr int kMaxDistance = 10000;

// A markers file holds one "x y" (or "x,y") per line; '#' starts a comment. Every marker must
// lie on the image (width x height). Returns the exit status: a file that cannot be read is a
// failed run, a line that does not hold a marker on the image a usage error.
int readMarkers(const QString &path, int width, int height, QVector<int> &xs, QVector<int> &ys, CliContext &context)
{
    if (!checkInputFile(path, context))
        return kExitFailure;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return failWith(context, failureLine(QStringLiteral("cannot open"), path, file.errorString()));
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
        if (parts.size() != 2 || !okX || !okY)
            return failWith(context,
                            QStringLiteral("%1:%2: expected two whole numbers, x and y").arg(path).arg(lineNumber),
                            kExitUsage);
        if (x < 0 || y < 0 || x >= width || y >= height)
            return failWith(context, QStringLiteral("%1:%2: the marker %3 %4 lies outside the %5 x %6 image")
                                         .arg(path)
                                         .arg(lineNumber)
                                         .arg(x)
                                         .arg(y)
                                         .arg(width)
                                         .arg(height),
                            kExitUsage);
        xs.append(x);
        ys.append(y);
    }
    return kExitOk;
}

} // namespace

int runFlatten(const CliArgs &args, CliContext &context)
{
    if (args.positionals().size() != 2)
        return failWith(context, QStringLiteral("flatten needs an input file and an output .fits file"), kExitUsage);
    if (args.has(QStringLiteral("--markers")) && (args.has(QStringLiteral("--grid")) || args.has(QStringLiteral("--sigma"))))
        return failWith(context, QStringLiteral("--markers cannot be combined with --grid or --sigma"), kExitUsage);

    FlattenParams params;
    params.boxSize = kDefaultMarkerSize;
    params.threadCount = threadsAllowed(settingsfile::maxThreads());
    int boxCount = kDefaultBoxCount;
    double sigma = kDefaultSigma;
    if (!optionWholeNumber(args, QStringLiteral("--size"), 1, kMaxMarkerSize, params.boxSize, context)
        || !optionWholeNumber(args, QStringLiteral("--grid"), 1, kMaxBoxCount, boxCount, context)
        || !optionNumber(args, QStringLiteral("--sigma"), 0.0, kMaxSigma, sigma, context)
        || !optionNumber(args, QStringLiteral("--exponent"), 0.0, kMaxExponent, params.exponent, context)
        || !optionWholeNumber(args, QStringLiteral("--distance"), -1, kMaxDistance, params.distance, context)
        || !optionNumber(args, QStringLiteral("--multiplier"), -kMaxMultiplier, kMaxMultiplier, params.multiplier,
                         context))
        return kExitUsage;

    const QString input = args.positionals().at(0);
    const QString output = args.positionals().at(1);
    const auto modelPath = args.value(QStringLiteral("--model"));
    if (const int refused = refuseFitsTarget(output, context))
        return refused;
    if (modelPath) {
        if (const int refused = refuseFitsTarget(*modelPath, context))
            return refused;
    }
    const auto markersPath = args.value(QStringLiteral("--markers"));

    int status = kExitFailure;
    int markerCount = 0;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        auto image = loadImageOrFail(input, context);
        if (!image)
            return;
        QVector<int> xs;
        QVector<int> ys;
        if (markersPath) {
            status = readMarkers(*markersPath, image->width, image->height, xs, ys, context);
            if (status != kExitOk)
                return;
        } else {
            float step = 0.0f;
            for (const GridMarker &marker : gridMarkerPositions(*image, params.boxSize, boxCount, sigma, step)) {
                xs.append(marker.x);
                ys.append(marker.y);
            }
            params.autoStep = step;
            messageLog().logMessage(QString::number(xs.size()) + QStringLiteral(" markers set."));
        }
        markerCount = static_cast<int>(xs.size());
        FlattenResult result = flattenImage(*image, xs, ys, params, messageLog());
        if (result.status != FlattenStatus::Done) {
            status = failWith(context, flattenRefusalLines(result.status).join(QLatin1Char(' ')));
            return;
        }
        status = saveFitsOrFail(*result.flat, output, context);
        if (status == kExitOk && modelPath)
            status = saveFitsOrFail(*result.background, *modelPath, context);
    });
    if (!enoughMemory)
        return failWith(context, QStringLiteral("not enough memory"), kExitFailure, kNotEnoughMemory);
    if (status == kExitOk && context.json)
        printJson(context, QJsonObject{{QStringLiteral("output"), output},
                                       {QStringLiteral("model"), modelPath ? QJsonValue(*modelPath) : QJsonValue()},
                                       {QStringLiteral("markers"), markerCount}});
    return status;
}
