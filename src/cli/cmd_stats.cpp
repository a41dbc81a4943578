#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "process/regionstats.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

QJsonObject colourJson(const std::optional<FloatRGB> &colour)
{
    if (!colour)
        return {};
    return QJsonObject{{QStringLiteral("r"), double(colour->r)},
                       {QStringLiteral("g"), double(colour->g)},
                       {QStringLiteral("b"), double(colour->b)}};
}

QString colourText(const std::optional<FloatRGB> &colour)
{
    if (!colour)
        return QStringLiteral("(no pixels)");
    return QStringLiteral("R=%1 G=%2 B=%3").arg(logNumber(colour->r), logNumber(colour->g), logNumber(colour->b));
}

bool parseRegion(const QString &text, int values[4])
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return false;
    }
    return values[2] > 0 && values[3] > 0;
}

} // namespace

int runStats(const QStringList &arguments, CliContext &context)
{
    const CliArgs args(arguments, {QStringLiteral("--json")}, {QStringLiteral("--region"), QStringLiteral("--clip")});
    if (!args.ok())
        return failWith(context, args.error(), kExitUsage);
    if (args.positionals().size() != 1)
        return failWith(context, QStringLiteral("stats needs one image file"), kExitUsage);
    int region[4] = {0, 0, -1, 0};
    if (const auto text = args.value(QStringLiteral("--region")); text && !parseRegion(*text, region))
        return failWith(context, QStringLiteral("--region takes X,Y,W,H with a positive width and height"), kExitUsage);
    double clip = 1.0;
    if (const auto text = args.value(QStringLiteral("--clip"));
        text && !parseNumber(*text, QStringLiteral("--clip"), clip, context))
        return kExitUsage;

    std::unique_ptr<ImageBuffer> image;
    std::optional<FloatRGB> mean, sigma, clipped, background;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        image = loadImageOrFail(args.positionals().first(), context);
        if (!image)
            return;
        const PixelRegion pixels = selectionRegion(*image, region[0], region[1], region[2], region[3]);
        mean = regionMean(*image, pixels);
        sigma = regionSigma(*image, pixels);
        clipped = regionClippedMean(*image, static_cast<float>(clip), pixels);
        background = estimateBackgroundColor(*image);
    });
    if (!enoughMemory)
        return failWith(context, QStringLiteral("not enough memory"));
    if (!image)
        return kExitFailure;

    if (args.has(QStringLiteral("--json"))) {
        const QJsonObject result{{QStringLiteral("mean"), colourJson(mean)},
                                 {QStringLiteral("sigma"), colourJson(sigma)},
                                 {QStringLiteral("clippedMean"), colourJson(clipped)},
                                 {QStringLiteral("backgroundColor"), colourJson(background)}};
        context.out << QJsonDocument(result).toJson(QJsonDocument::Indented);
    } else {
        context.out << "mean:             " << colourText(mean) << "\n"
                    << "sigma:            " << colourText(sigma) << "\n"
                    << "clipped mean:     " << colourText(clipped) << " (k = " << logNumber(clip) << ")\n"
                    << "background color: " << colourText(background) << "\n";
    }
    return kExitOk;
}
