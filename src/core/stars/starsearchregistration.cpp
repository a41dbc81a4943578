#include "starsearchregistration.h"

#include "calib/calibarithmetic.h"
#include "calib/calibrationthread.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/outofmemory.h"
#include "stars/starcollectorthread.h"
#include "stars/starcompare.h"
#include "stars/grayimage.h"
#include "stars/starfinder.h"
#include "stars/transformrefinement.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <memory>
#include <vector>

namespace {

QString sizeText(const ImageBuffer &image)
{
    return QStringLiteral("%1 x %2").arg(image.width).arg(image.height);
}

bool sameSize(const ImageBuffer &a, const ImageBuffer &b)
{
    return a.width == b.width && a.height == b.height;
}

// One master: loaded, normalised when it is not, and whether the size warning was given.
struct Master {
    const char *name;
    std::unique_ptr<ImageBuffer> image;
    bool sizeWarned = false;
};

class StarSearchRun {
public:
    StarSearchRun(const StarSearchRegistrationRequest &request, MessageLog &log, std::atomic<bool> *abortFlag)
        : request(request), log(log), abortFlag(abortFlag)
    {
    }

    StarSearchRegistration run();

private:
    bool loadMaster(const QString &path, Master &master);
    void subtractBiasFrom(Master &master);
    // Subtracts or divides when the master fits the frame, else warns once and leaves it out.
    void apply(Master &master, ImageBuffer &frame, void (*operation)(ImageBuffer &, const ImageBuffer &));
    bool searchFrame(int index);
    void compareFrames();
    StarSearchRegistration fail(int code);

    const StarSearchRegistrationRequest &request;
    MessageLog &log;
    std::atomic<bool> *abortFlag;
    Master bias{"bias", nullptr};
    Master dark{"dark", nullptr};
    Master flat{"flat", nullptr};
    std::unique_ptr<StarCompare> compare;
    std::vector<std::vector<PreciseStar>> preciseStars;
    RegistrationTable table;
    int lastError = 0;
};

// Lets the window repaint (the status text) and take the Abort button between frames.
void processPendingEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

StarSearchRegistration StarSearchRun::fail(int code)
{
    StarSearchRegistration result;
    result.outcome = StarSearchOutcome::Failed;
    result.errorCode = code;
    return result;
}

bool StarSearchRun::loadMaster(const QString &path, Master &master)
{
    if (path.isEmpty())
        return true;
    ImageLoader loader;
    loader.log = &log;
    master.image = loader.loadFile(path, false);
    int code = loader.errorCode;
    if (master.image && master.image->whiteLevel != 1.0f) {
        log.logMessage(QStringLiteral("Master %1 %2 is not normalised (white level %3): normalising it like the "
                                      "frames.")
                           .arg(QLatin1String(master.name), path, logNumber(master.image->whiteLevel)));
        if (!normalizeImage(*master.image)) {
            master.image.reset();
            code = kFrameNotNormalizable;
        }
    }
    if (master.image)
        return true;
    log.logMessage(QStringLiteral("Cannot load master %1 %2: %3 (error %4)")
                                 .arg(QLatin1String(master.name), path, errorCodeText(code))
                                 .arg(code), Severity::Error);
    lastError = code;
    return false;
}

void StarSearchRun::subtractBiasFrom(Master &master)
{
    if (!master.image || !bias.image)
        return;
    if (sameSize(*master.image, *bias.image)) {
        subtractImage(*master.image, *bias.image);
        return;
    }
    log.logMessage(QStringLiteral("Warning: master bias is %1 pixels, master %2 is %3 pixels; the bias is not "
                                  "subtracted from it.")
                       .arg(sizeText(*bias.image), QLatin1String(master.name), sizeText(*master.image)));
}

void StarSearchRun::apply(Master &master, ImageBuffer &frame, void (*operation)(ImageBuffer &, const ImageBuffer &))
{
    if (!master.image)
        return;
    if (sameSize(*master.image, frame)) {
        operation(frame, *master.image);
        return;
    }
    if (master.sizeWarned)
        return;
    master.sizeWarned = true;
    log.logMessage(QStringLiteral("Warning: master %1 is %2 pixels, the frames are %3 pixels; the master is not "
                                  "applied to frames of that size.")
                       .arg(QLatin1String(master.name), sizeText(*master.image), sizeText(frame)));
}

bool StarSearchRun::searchFrame(int index)
{
    const QString &path = request.files.at(index);
    log.setStatusText(QStringLiteral("Searching stars in ") + QFileInfo(path).fileName());
    log.logMessage(QStringLiteral("================================================="));
    log.logMessage(QStringLiteral("Searching for stars in ") + path + QStringLiteral("..."));
    processPendingEvents();
    std::unique_ptr<ImageBuffer> frame;
    {
        ImageLoader loader;
        loader.log = &log;
        frame = loader.loadFile(path, false);
        if (!frame) {
            lastError = loader.errorCode;
            log.logMessage(QStringLiteral("Cannot register %1: %2 (error %3)")
                                         .arg(path, errorCodeText(lastError))
                                         .arg(lastError), Severity::Error);
            return false;
        }
    }
    if (frame->whiteLevel != 1.0f) {
        log.logMessage(QStringLiteral("Normalizing image..."));
        if (!normalizeImage(*frame)) {
            lastError = kFrameNotNormalizable;
            log.logMessage(QStringLiteral("Cannot register %1: %2 (error %3)")
                                         .arg(path, errorCodeText(lastError))
                                         .arg(lastError), Severity::Error);
            return false;
        }
    }
    apply(dark, *frame, subtractImage);
    apply(bias, *frame, subtractImage);
    apply(flat, *frame, divideImage);

    starFinder finder(frame.get(), &log);
    finder.searchStars(request.search);
    if (!compare)
        compare = std::make_unique<StarCompare>(static_cast<int>(request.files.size()), frame->width, frame->height,
                                                &log);
    compare->addFrame(finder.patterns);
    if (request.refine) {
        const GrayImage gray = makeGrayImage(*frame);
        preciseStars.push_back(measurePreciseStars(gray, refinementCandidates(gray)));
    }
    RegistrationTableRow row;
    row.file = path;
    row.stars = static_cast<float>(finder.starCount);
    row.fwhm = finder.averageFwhm;
    if (request.search.autoThreshold)
        row.threshold = finder.thresholdUsed;
    table.frames.push_back(row);
    return true;
}

void StarSearchRun::compareFrames()
{
    table.frames[0].stackable = true;
    for (int i = 1; i < compare->frameCount; ++i) {
        log.logMessage(QStringLiteral("Comparing reference with frame %1...").arg(i));
        Transformation t = compare->computeTransformation(compare->matchPatterns(i));
        RegistrationTableRow &row = table.frames[static_cast<std::size_t>(i)];
        if (request.refine && t.stackable()) {
            const RefinedTransformation refined = refineTransformation(
                preciseStars.front(), preciseStars[static_cast<std::size_t>(i)], t, compare->frameWidth,
                compare->frameHeight);
            log.logMessage(refinementLine(i, row.file, refined));
            if (refined.refined) {
                t = refined.transformation;
                row.starPairs = refined.pairs;
                row.residualRms = static_cast<float>(refined.residualRms);
            }
        }
        row.offsetX = t.offsetX;
        row.offsetY = t.offsetY;
        row.angle = t.angle;
        row.stackable = t.stackable();
    }
    for (const RegistrationTableRow &row : table.frames)
        if (row.stackable)
            log.logMessage(QStringLiteral("Appending ") + row.file);
}

StarSearchRegistration StarSearchRun::run()
{
    StarSearchRegistration result;
    if (request.files.size() < 2) {
        log.logMessage(QStringLiteral("Not enough frames to do registration!"));
        result.outcome = StarSearchOutcome::TooFewFrames;
        return result;
    }
    QElapsedTimer clock;
    clock.start();
    if (!loadMaster(request.biasPath, bias) || !loadMaster(request.flatPath, flat)
        || !loadMaster(request.darkPath, dark))
        return fail(lastError);
    subtractBiasFrom(flat);
    subtractBiasFrom(dark);

    for (int i = 0; i < request.files.size(); ++i) {
        if (!searchFrame(i))
            return fail(lastError);
        processPendingEvents();
        if (abortFlag && abortFlag->load()) {
            abortFlag->store(false);
            log.logMessage(QStringLiteral("Aborted image registration."));
            result.outcome = StarSearchOutcome::Aborted;
            return result;
        }
    }
    compareFrames();
    table.threshold = request.search.threshold;
    table.refined = request.refine;
    table.autoThreshold = request.search.autoThreshold;
    table.seconds = static_cast<double>(clock.nsecsElapsed()) * 1e-9;
    result.outcome = StarSearchOutcome::Registered;
    result.table = std::move(table);
    return result;
}

} // namespace

StarSearchRegistration runStarSearchRegistration(const StarSearchRegistrationRequest &request, MessageLog &log,
                                                 std::atomic<bool> *abortFlag)
{
    try {
        return StarSearchRun(request, log, abortFlag).run();
    } catch (const std::bad_alloc &failure) {
        log.logMessage(notEnoughMemoryText(failure), Severity::Error);
        StarSearchRegistration result;
        result.outcome = StarSearchOutcome::Failed;
        result.errorCode = kNotEnoughMemory;
        return result;
    }
}
