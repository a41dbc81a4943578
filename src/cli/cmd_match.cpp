// verdanix-cli match: how far a frame is shifted and turned against a reference frame, as the
// registration measures it.
#include "cliargs.h"
#include "cliimages.h"
#include "commands.h"
#include "image/imagebuffer.h"
#include "log/outofmemory.h"
#include "stars/starcompare.h"
#include "stars/starfinder.h"

#include <QJsonObject>

#include <cmath>

namespace {

QJsonValue jsonNumber(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

// What the registration keeps of one frame's search.
struct FrameStars {
    int width = 0;
    int height = 0;
    std::vector<StarPattern> patterns;
    int starCount = 0;
    float averageFwhm = 0.0f;
    float threshold = 0.0f;
};

// Loads, normalises and searches one frame; the image is freed before the next is loaded.
bool searchFrame(const QString &path, const StarSearchParameters &parameters, FrameStars &result, CliContext &context)
{
    std::unique_ptr<ImageBuffer> image = loadImageOrFail(path, context);
    if (!image || !normaliseForStarSearch(*image, path, context))
        return false;
    starFinder finder(image.get(), &messageLog());
    finder.searchStars(parameters);
    result.width = image->width;
    result.height = image->height;
    result.patterns = std::move(finder.patterns);
    result.starCount = finder.starCount;
    result.averageFwhm = finder.averageFwhm;
    result.threshold = finder.thresholdUsed;
    return true;
}

QJsonObject frameJson(const FrameStars &frame)
{
    return QJsonObject{{QStringLiteral("starCount"), frame.starCount},
                       {QStringLiteral("averageFwhm"), jsonNumber(frame.averageFwhm)},
                       {QStringLiteral("patternCount"), static_cast<int>(frame.patterns.size())},
                       {QStringLiteral("threshold"), jsonNumber(frame.threshold)}};
}

} // namespace

int runMatch(const CliArgs &args, CliContext &context)
{
    if (args.positionals().size() != 2)
        return failWith(context, QStringLiteral("match needs a reference frame and a frame"), kExitUsage);
    StarSearchParameters parameters;
    if (!parseStarSearchOptions(args, parameters, context))
        return kExitUsage;

    const QString referencePath = args.positionals().at(0);
    const QString framePath = args.positionals().at(1);
    FrameStars reference;
    FrameStars frame;
    bool searched = false;
    Transformation t;
    const bool enoughMemory = guardMemory(messageLog(), [&] {
        if (!searchFrame(referencePath, parameters, reference, context)
            || !searchFrame(framePath, parameters, frame, context))
            return;
        searched = true;
        // The reference's size sets the centre the frame is turned about, as in a registration.
        StarCompare compare(2, reference.width, reference.height, &messageLog());
        compare.addFrame(reference.patterns);
        compare.addFrame(frame.patterns);
        t = compare.computeTransformation(compare.matchPatterns(1));
    });
    if (!enoughMemory)
        return failWith(context,
                        QStringLiteral("not enough memory to match '%1' with '%2'").arg(framePath, referencePath),
                        kExitFailure, kNotEnoughMemory);
    if (!searched)
        return kExitFailure;

    if (context.json) {
        printJson(context, QJsonObject{{QStringLiteral("offsetX"), jsonNumber(t.offsetX)},
                                       {QStringLiteral("offsetY"), jsonNumber(t.offsetY)},
                                       {QStringLiteral("angle"), jsonNumber(t.angle)},
                                       {QStringLiteral("matchCount"), t.matchCount},
                                       {QStringLiteral("stackable"), t.stackable()},
                                       {QStringLiteral("reference"), frameJson(reference)},
                                       {QStringLiteral("frame"), frameJson(frame)}});
        return kExitOk;
    }
    // The automatic threshold differs from frame to frame, so each line names its own.
    const auto thresholdNote = [&](const FrameStars &searched) {
        return parameters.autoThreshold ? QStringLiteral(", threshold %1").arg(logNumber(searched.threshold))
                                        : QString();
    };
    context.out << "offset:     " << logNumber(t.offsetX) << ", " << logNumber(t.offsetY) << " px\n"
                << "angle:      " << logNumber(t.angle) << " degrees\n"
                << "matches:    " << t.matchCount << "\n"
                << "stackable:  " << (t.stackable() ? "yes" : "no") << "\n"
                << "reference:  " << reference.starCount << " stars, " << reference.patterns.size() << " patterns"
                << thresholdNote(reference) << "\n"
                << "frame:      " << frame.starCount << " stars, " << frame.patterns.size() << " patterns"
                << thresholdNote(frame) << "\n";
    return kExitOk;
}
