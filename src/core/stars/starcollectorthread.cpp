#include "starcollectorthread.h"

#include "calib/calibarithmetic.h"
#include "calib/calibrationthread.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/outofmemory.h"
#include "stars/grayimage.h"
#include "stars/starfinder.h"


namespace {

// A master is applied only to frames of its own size; the arithmetic would otherwise treat
// the part of the frame outside the master as calibrated against zero.
bool fits(const ImageBuffer *master, const ImageBuffer &frame)
{
    return master->width == frame.width && master->height == frame.height;
}

} // namespace

StarCollectorThread::StarCollectorThread(const QString &path, int index, const RegistrationMasters &masters,
                                         const StarSearchParameters &search, MessageLog *messageLog,
                                         MessageLog *searchLog, QObject *parent)
    : QThread(parent), dark(masters.dark), bias(masters.bias), flat(masters.flat), useDark(masters.dark != nullptr),
      useBias(masters.bias != nullptr), useFlat(masters.flat != nullptr), log(messageLog), finderLog(searchLog),
      fileName(path), frameIndex(index), threshold(search.threshold),
      autoThreshold(search.autoThreshold), maxBrightness(search.maxBrightness),
      maxStarSize(search.maxStarSize)
{
}

StarCollectorThread::~StarCollectorThread()
{
    wait();
}

void StarCollectorThread::run()
{
    errorCode = 0;
    // Nothing may escape a thread: running out of memory becomes this frame's error.
    try {
        if (loadAndCalibrate()) {
            starFinder finder(image.get(), finderLog);
            StarSearchParameters search{maxStarSize, threshold, maxBrightness};
            search.autoThreshold = autoThreshold;
            finder.searchStars(search);
            thresholdUsed = finder.thresholdUsed;
            patterns = std::move(finder.patterns);
            patternCount = static_cast<int>(patterns.size());
            starCount = finder.starCount;
            averageFwhm = finder.averageFwhm;
            if (refine) {
                const GrayImage gray = makeGrayImage(*image);
                preciseStars = measurePreciseStars(gray, refinementCandidates(gray));
            }
        }
    } catch (const std::bad_alloc &failure) {
        errorCode = kNotEnoughMemory;
        log->logMessage(QStringLiteral("%1 (registering %2)")
                            .arg(notEnoughMemoryText(failure), fileName), Severity::Error);
    }
    image.reset();
    if (errorCode != 0) {
        emit errorRaised(this);
        return;
    }
    // The finder's own line went to the traces with its other lines.
    if (autoThreshold)
        log->logMessage(QStringLiteral("Automatic threshold for %1: %2").arg(fileName, logNumber(thresholdUsed)));
    log->logMessage(QStringLiteral("Finished ") + fileName);
    emit resultReady(this);
}

bool StarCollectorThread::loadAndCalibrate()
{
    {
        ImageLoader loader;
        loader.log = log;
        image = loader.loadFile(fileName, false);
        if (!image) {
            errorCode = loader.errorCode;
            log->logMessage(QStringLiteral("Cannot register %1: %2 (error %3)")
                                .arg(fileName, errorCodeText(errorCode))
                                .arg(errorCode), Severity::Error);
            return false;
        }
    }
    frameWidth = image->width;
    frameHeight = image->height;
    if (image->whiteLevel != 1.0f && !normalizeImage(*image)) {
        errorCode = kFrameNotNormalizable;
        log->logMessage(QStringLiteral("Cannot register %1: %2 (error %3)")
                            .arg(fileName, errorCodeText(errorCode))
                            .arg(errorCode), Severity::Error);
        return false;
    }
    // Bias, then dark, then flat; each an in-place pass over the frame with the same single-
    // precision results as the image combination's subtract and divide at full opacity.
    if (useBias) {
        skippedBias = !fits(bias, *image);
        if (!skippedBias)
            subtractImage(*image, *bias);
    }
    if (useDark) {
        skippedDark = !fits(dark, *image);
        if (!skippedDark)
            subtractImage(*image, *dark);
    }
    if (useFlat) {
        skippedFlat = !fits(flat, *image);
        if (!skippedFlat)
            divideImage(*image, *flat);
    }
    return true;
}
