#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/outofmemory.h"
#include "process/regionstats.h"

#include <QJsonObject>

namespace {

// A statistic of no pixel is null.
QJsonValue colourJson(const std::optional<FloatRGB> &colour)
{
    if (!colour)
        return QJsonValue();
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

// The clipped mean's K: any sensible number of sigmas.
constexpr double kMaxClip = 100.0;

int runStats(const CliArgs &args, CliContext &context)
{
    if (args.positionals().size() != 1)
        return failWith(context, QStringLiteral("stats needs one image file"), kExitUsage);
    int region[4] = {0, 0, -1, 0};
    const auto regionText = args.value(QStringLiteral("--region"));
    if (regionText && !parseRegion(*regionText, region))
        return failWith(context, QStringLiteral("--region takes X,Y,W,H with a positive width and height"), kExitUsage);
    double clip = 1.0;
    if (!optionNumber(args, QStringLiteral("--clip"), 0.0, kMaxClip, clip, context))
        return kExitUsage;
    const QString input = args.positionals().first();
    // The region is checked against the image before anything is read: one that reaches past
    // it would be measured pixel by pixel, outside ones as black, for as long as it is.
    if (regionText) {
        int width = 0;
        int height = 0;
        ImageLoader().querySize(input, width, height);
        const bool inside = region[0] >= 0 && region[1] >= 0 && qint64(region[0]) + region[2] <= width
                            && qint64(region[1]) + region[3] <= height;
        if (width > 0 && !inside)
            return failWith(context, QStringLiteral("--region %1 does not lie within the %2 x %3 image")
                                         .arg(*regionText)
                                         .arg(width)
                                         .arg(height),
                            kExitUsage);
    }

    std::unique_ptr<ImageBuffer> image;
    std::optional<FloatRGB> mean, sigma, clipped, background;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        image = loadImageOrFail(input, context);
        if (!image)
            return;
        const PixelRegion pixels = selectionRegion(*image, region[0], region[1], region[2], region[3]);
        mean = regionMean(*image, pixels);
        sigma = regionSigma(*image, pixels);
        clipped = regionClippedMean(*image, static_cast<float>(clip), pixels);
        background = estimateBackgroundColor(*image);
    });
    if (!enoughMemory)
        return failWith(context, QStringLiteral("not enough memory"), kExitFailure, kNotEnoughMemory);
    if (!image)
        return kExitFailure;

    if (context.json) {
        printJson(context, QJsonObject{{QStringLiteral("mean"), colourJson(mean)},
                                       {QStringLiteral("sigma"), colourJson(sigma)},
                                       {QStringLiteral("clippedMean"), colourJson(clipped)},
                                       {QStringLiteral("backgroundColor"), colourJson(background)}});
    } else {
        context.out << "mean:             " << colourText(mean) << "\n"
                    << "sigma:            " << colourText(sigma) << "\n"
                    << "clipped mean:     " << colourText(clipped) << " (k = " << logNumber(clip) << ")\n"
                    << "background color: " << colourText(background) << "\n";
    }
    return kExitOk;
}
