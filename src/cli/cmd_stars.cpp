// verdanix-cli stars: the star finder on one image, as the registration runs it.
#include "calib/calibarithmetic.h"
#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "stars/starfinder.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace {

// JSON has no not-a-number: such a figure (the average FWHM of no star) becomes null.
QJsonValue jsonNumber(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

} // namespace

const CliOption kStarSizeOption = {
    "--size", "S", "10",
    "half width of the search window in pixels, 1 to 20; stars nearer than 2S to an edge are not searched"};
const CliOption kStarThresholdOption = {
    "--threshold", "L", "0.1; faint stars need less",
    "a star stands L above the background, 0 to 1; 'auto' takes L from the image's own sky noise and prints "
    "the value used"};
const CliOption kStarMaxOption = {"--max", "H", "0.98",
                                  "a star with a pixel at or above H is saturated and left out, 0 to 1"};

bool parseStarSearchOptions(const CliArgs &args, StarSearchParameters &parameters, CliContext &context)
{
    double threshold = parameters.threshold;
    double maxBrightness = parameters.maxBrightness;
    // "auto": each image's threshold follows from its own sky noise.
    parameters.autoThreshold = args.value(QStringLiteral("--threshold")) == QStringLiteral("auto");
    if (!optionWholeNumber(args, QStringLiteral("--size"), kMinStarSize, kMaxStarSize, parameters.maxStarSize, context)
        || (!parameters.autoThreshold
            && !optionNumber(args, QStringLiteral("--threshold"), 0.0, 1.0, threshold, context))
        || !optionNumber(args, QStringLiteral("--max"), 0.0, 1.0, maxBrightness, context))
        return false;
    parameters.threshold = static_cast<float>(threshold);
    parameters.maxBrightness = static_cast<float>(maxBrightness);
    return true;
}

bool normaliseForStarSearch(ImageBuffer &image, const QString &path, CliContext &context)
{
    // As the registration does: only a frame that is not on the 0 ... 1 scale yet.
    if (image.whiteLevel == 1.0f || normalizeImage(image))
        return true;
    failWith(context, failureLine(QStringLiteral("cannot normalise"), path, errorCodeText(kFrameNotNormalizable)),
             kExitFailure, kFrameNotNormalizable);
    return false;
}

int runStars(const CliArgs &args, CliContext &context)
{
    if (args.positionals().size() != 1)
        return failWith(context, QStringLiteral("stars needs one image file"), kExitUsage);
    StarSearchParameters parameters;
    if (!parseStarSearchOptions(args, parameters, context))
        return kExitUsage;
    const std::optional<QString> marked = args.value(QStringLiteral("--marked"));
    if (marked) {
        if (const int refused = refuseFitsTarget(*marked, context))
            return refused;
    }

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
        return failWith(context, QStringLiteral("not enough memory to search '%1'").arg(input), kExitFailure,
                        kNotEnoughMemory);
    if (!searched)
        return kExitFailure;
    if (marked && saveFitsOrFail(*finder->outputImage, *marked, context) != kExitOk)
        return kExitFailure;

    const std::vector<StarRecord> &stars = finder->acceptedStars();
    if (context.json) {
        QJsonArray list;
        for (const StarRecord &star : stars)
            list.append(QJsonObject{{QStringLiteral("x"), jsonNumber(star.x)},
                                    {QStringLiteral("y"), jsonNumber(star.y)},
                                    {QStringLiteral("fwhm"), jsonNumber(star.fwhm)},
                                    {QStringLiteral("brightness"), jsonNumber(star.brightness)}});
        printJson(context, QJsonObject{{QStringLiteral("starCount"), finder->starCount},
                                       {QStringLiteral("averageFwhm"), jsonNumber(finder->averageFwhm)},
                                       {QStringLiteral("patternCount"), finder->patternCount},
                                       {QStringLiteral("threshold"), jsonNumber(finder->thresholdUsed)},
                                       {QStringLiteral("marked"), marked ? QJsonValue(*marked) : QJsonValue()},
                                       {QStringLiteral("stars"), list}});
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
