#include "starfinder.h"

#include "autothreshold.h"
#include "grayimage.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"
#include "starmapping.h"
#include "starmarks.h"
#include "starmeasure.h"

#include <algorithm>

starFinder::starFinder(const ImageBuffer *searchedImage, MessageLog *messageLogTarget, QObject *parent)
    : QThread(parent), image(searchedImage), log(messageLogTarget)
{
}

starFinder::~starFinder() = default;

int starFinder::searchStars(int s, float thresholdValue, float maxBrightnessValue)
{
    return searchStars(StarSearchParameters{s, thresholdValue, maxBrightnessValue});
}

int starFinder::searchStars(const StarSearchParameters &parameters)
{
    MessageLog &out = log ? *log : messageLog();
    patterns.clear();
    patternCount = 0;
    starCount = 0;
    averageFwhm = 0.0f;
    accepted.clear();
    outputImage.reset();
    thresholdUsed = parameters.threshold;

    static const ImageBuffer noImage(0, 0);
    const ImageBuffer &source = image ? *image : noImage;

    out.logMessage(QStringLiteral("Calculating background color..."));
    const float background = starBackgroundLevel(source);
    if (source.channels >= 3)
        out.logMessage(QStringLiteral("Converting buffer to grayscale..."));
    const GrayImage gray = makeGrayImage(source);

    StarSearchParameters searched = parameters;
    if (parameters.autoThreshold) {
        const AutomaticThreshold automatic = automaticStarThreshold(gray, background, parameters.maxStarSize);
        searched.threshold = automatic.threshold;
        thresholdUsed = automatic.threshold;
        out.logMessage(QStringLiteral("Automatic threshold: %1 (sky %2, noise %3)")
                           .arg(logNumber(automatic.threshold), logNumber(automatic.sky), logNumber(automatic.noise)));
    }

    out.logMessage(QStringLiteral("Phase 1: Mapping stars..."));
    std::vector<StarRecord> candidates;
    {
        std::vector<std::uint8_t> marks;
        candidates = mapStars(gray, background, searched, marks);
    }
    out.logMessage(QStringLiteral("Mapping done."));
    out.logMessage(QStringLiteral("Detected %1 star candidates.").arg(static_cast<qint64>(candidates.size())));

    out.logMessage(QStringLiteral("Phase 2: Star matching"));
    accepted = measureStars(gray, candidates, searched.maxStarSize);
    candidates = std::vector<StarRecord>();
    // Summed in float, in list order; with no star this is 0 / 0, not a number, as the log
    // then shows.
    float fwhmSum = 0.0f;
    for (const StarRecord &star : accepted)
        fwhmSum += star.fwhm;
    const int passed = static_cast<int>(accepted.size());
    averageFwhm = fwhmSum / static_cast<float>(passed);
    out.logMessage(QStringLiteral("Search done. Stars remaining: %1").arg(passed));
    out.logMessage(QStringLiteral("Average FWHM: ") + logNumber(averageFwhm));

    if (passed > 0) {
        out.logMessage(QStringLiteral("Phase 3: Triangulation"));
        // Stable, so that stars of equal brightness keep the order in which they were found.
        std::stable_sort(accepted.begin(), accepted.end(),
                         [](const StarRecord &a, const StarRecord &b) { return a.brightness > b.brightness; });
        starCount = passed;
        const std::size_t kept = std::min(accepted.size(), static_cast<std::size_t>(std::max(0, maxStars)));
        int steps = 0;
        if (kept == accepted.size()) {
            patterns = buildPatterns(accepted, patternMode, &steps);
        } else {
            const std::vector<StarRecord> brightest(accepted.begin(), accepted.begin() + kept);
            patterns = buildPatterns(brightest, patternMode, &steps);
        }
        patternCount = static_cast<int>(patterns.size());
        out.logMessage(QStringLiteral("List generation done (i=%1).").arg(steps));
    }

    if (markStars)
        outputImage = markedStarImage(source, accepted);
    return 0;
}

void starFinder::run()
{
    // Nothing may escape a thread: running out of memory becomes a log line and the result.
    try {
        result = searchStars(maxStarSize, threshold, maxBrightness);
    } catch (const std::bad_alloc &failure) {
        (log ? *log : messageLog()).logMessage(notEnoughMemoryText(failure));
        result = kNotEnoughMemory;
    }
}
