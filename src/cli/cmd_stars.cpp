// verdanix-cli stars: the star finder on one image, as the registration runs it.
#include "calib/calibarithmetic.h"
#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "stars/starfinder.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace {

// JSON has no not-a-number: such a figure (the average FWHM of no star) becomes null.
QJsonValue jsonNumber(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

} // namespace

bool parseStarSearchOptions(const CliArgs &args, StarSearchParameters &parameters, CliContext &context)
{
    if (const auto text = args.value(QStringLiteral("--size"))) {
        bool ok = false;
        parameters.maxStarSize = text->toInt(&ok);
        if (!ok || parameters.maxStarSize < kMinStarSize || parameters.maxStarSize > kMaxStarSize) {
            failWith(context,
                     QStringLiteral("--size takes a whole number from %1 to %2").arg(kMinStarSize).arg(kMaxStarSize),
                     kExitUsage);
            return false;
        }
    }
    const auto fraction = [&](const QString &option, float &target) {
        const auto text = args.value(option);
        if (!text)
            return true;
        double value = 0.0;
        if (!parseNumber(*text, option, value, context))
            return false;
        if (!(value >= 0.0 && value <= 1.0)) {
            failWith(context, QStringLiteral("%1 takes a value from 0 to 1 of full scale").arg(option), kExitUsage);
            return false;
        }
        target = static_cast<float>(value);
        return true;
    };
    // "auto": each image's threshold follows from its own sky noise.
    parameters.autoThreshold = args.value(QStringLiteral("--threshold")) == QStringLiteral("auto");
    return (parameters.autoThreshold || fraction(QStringLiteral("--threshold"), parameters.threshold))
           && fraction(QStringLiteral("--max"), parameters.maxBrightness);
}

bool normaliseForStarSearch(ImageBuffer &image, const QString &path, CliContext &context)
{
    // As the registration does: only a frame that is not on the 0 ... 1 scale yet.
    if (image.whiteLevel == 1.0f || normalizeImage(image))
        return true;
    failWith(context, QStringLiteral("cannot normalise %1: its white level equals its black level").arg(path));
    return false;
}

int runStars(const QStringList &arguments, CliContext &context)
{
    const CliArgs args(arguments, {QStringLiteral("--json")},
                       {QStringLiteral("--size"), QStringLiteral("--threshold"), QStringLiteral("--max"),
                        QStringLiteral("--marked")});
    if (!args.ok())
        return failWith(context, args.error(), kExitUsage);
    if (args.positionals().size() != 1)
        return failWith(context, QStringLiteral("stars needs one image file"), kExitUsage);
    StarSearchParameters parameters;
    if (!parseStarSearchOptions(args, parameters, context))
        return kExitUsage;
    const std::optional<QString> marked = args.value(QStringLiteral("--marked"));
    if (marked && !checkFitsTarget(*marked, context))
        return QFileInfo::exists(*marked) ? kExitFailure : kExitUsage;

    const QString input = args.positionals().first();
    std::unique_ptr<ImageBuffer> image;
    std::unique_ptr<starFinder> finder;
    bool searched = false;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        image = loadImageOrFail(input, context);
        if (!image || !normaliseForStarSearch(*image, input, context))
            return;
        finder = std::make_unique<starFinder>(image.get(), &messageLog());
        finder->markStars = marked.has_value();
        finder->searchStars(parameters);
        searched = true;
    });
    if (!enoughMemory)
        return failWith(context, QStringLiteral("not enough memory to search %1").arg(input));
    if (!searched)
        return kExitFailure;
    if (marked && saveFitsOrFail(*finder->outputImage, *marked, context) != kExitOk)
        return kExitFailure;

    const std::vector<StarRecord> &stars = finder->acceptedStars();
    if (args.has(QStringLiteral("--json"))) {
        QJsonArray list;
        for (const StarRecord &star : stars)
            list.append(QJsonObject{{QStringLiteral("x"), jsonNumber(star.x)},
                                    {QStringLiteral("y"), jsonNumber(star.y)},
                                    {QStringLiteral("fwhm"), jsonNumber(star.fwhm)},
                                    {QStringLiteral("brightness"), jsonNumber(star.brightness)}});
        const QJsonObject result{{QStringLiteral("starCount"), finder->starCount},
                                 {QStringLiteral("averageFwhm"), jsonNumber(finder->averageFwhm)},
                                 {QStringLiteral("patternCount"), finder->patternCount},
                                 {QStringLiteral("threshold"), jsonNumber(finder->thresholdUsed)},
                                 {QStringLiteral("stars"), list}};
        context.out << QJsonDocument(result).toJson(QJsonDocument::Indented);
        return kExitOk;
    }
    if (parameters.autoThreshold)
        context.out << "threshold:    " << logNumber(finder->thresholdUsed) << "\n";
    context.out << "stars:        " << finder->starCount << "\n"
                << "average FWHM: " << logNumber(finder->averageFwhm) << "\n"
                << "patterns:     " << finder->patternCount << "\n";
    if (stars.empty())
        return kExitOk;
    context.out << "\n" << QStringLiteral("%1 %2 %3 %4\n").arg("x", 10).arg("y", 10).arg("fwhm", 8).arg("brightness", 12);
    for (const StarRecord &star : stars)
        context.out << QStringLiteral("%1 %2 %3 %4\n")
                           .arg(star.x, 10, 'f', 2)
                           .arg(star.y, 10, 'f', 2)
                           .arg(star.fwhm, 8, 'f', 3)
                           .arg(logNumber(star.brightness), 12);
    return kExitOk;
}
