#include "starcollector.h"

#include "calib/calibarithmetic.h"
#include "calib/calibrationthread.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/outofmemory.h"
#include "platform/machine.h"
#include "stars/starcompare.h"
#include "stars/transformrefinement.h"

#include <algorithm>
#include <limits>

namespace {

constexpr std::int64_t kBytesPerMB = std::int64_t{1} << 20;
constexpr int kPercent = 100;

const char *const kMasterNames[] = {"bias", "dark", "flat"};

QString sizeText(int width, int height)
{
    return QStringLiteral("%1 x %2").arg(width).arg(height);
}

} // namespace

RegistrationThreads registrationThreads(const ResourcePreferences &prefs, std::uint64_t availableBytes, int width,
                                        int height)
{
    RegistrationThreads result;
    const int configured = std::max(prefs.maxThreads, 1);
    const auto availableMB = static_cast<std::int64_t>(bytesToMegabytes(availableBytes));
    // Integer percent, as the other runs take it: a float factor of 0.29 would make 29 % of
    // 100 MB come out as 28 MB.
    result.budgetMB = prefs.maxMem > availableMB ? availableMB * prefs.memPercent / kPercent : prefs.maxMem;
    const std::int64_t pixels = std::int64_t{std::max(width, 0)} * std::max(height, 0);
    result.threads = configured;
    if (pixels == 0)
        return result;
    // budget x 2^20 / width / height / 28 in whole numbers equals budget x 2^20 / (pixels x 28);
    // 128 bits so that no preference, however absurd, overflows the product.
    const __int128 budgetBytes = static_cast<__int128>(std::max<std::int64_t>(result.budgetMB, 0)) * kBytesPerMB;
    const __int128 fitting = budgetBytes / pixels / kRegistrationBytesPerPixel;
    const int threads = static_cast<int>(std::clamp<__int128>(fitting, 1, std::numeric_limits<int>::max()));
    if (threads < configured) {
        result.threads = threads;
        result.reduced = true;
    }
    return result;
}

StarCollector::StarCollector(QObject *parent)
    : QObject(parent), maxThreads(0), log(&messageLog()), preferences(readRunPreferences())
{
    maxThreads = preferences.maxThreads;
}

StarCollector::StarCollector(const ResourcePreferences &prefs, std::uint64_t availableBytes, QObject *parent)
    : QObject(parent), maxThreads(prefs.maxThreads), log(&messageLog()), preferences(prefs),
      fixedAvailableBytes(availableBytes)
{
}

StarCollector::~StarCollector() = default;

void StarCollector::configure(const RegistrationParameters &parameters)
{
    files = parameters.files;
    threshold = parameters.threshold;
    maxBrightness = parameters.maxBrightness;
    maxStarSize = parameters.maxStarSize;
    refine = parameters.refine;
    autoThreshold = parameters.autoThreshold;
    loadMasters(parameters.biasPath, parameters.darkPath, parameters.flatPath, *log);
}

void StarCollector::loadMasters(const QString &biasPath, const QString &darkPath, const QString &flatPath,
                                MessageLog &messageLog)
{
    const QString *paths[MasterKinds] = {&biasPath, &darkPath, &flatPath};
    QString *loadedPaths[MasterKinds] = {&biasFile, &darkFile, &flatFile};
    for (int kind = 0; kind < MasterKinds; ++kind) {
        const QString &path = *paths[kind];
        if (path.isEmpty())
            continue;
        const QString name = QLatin1String(kMasterNames[kind]);
        int code = 0;
        std::unique_ptr<ImageBuffer> master;
        try {
            ImageLoader loader;
            loader.log = &messageLog;
            master = loader.loadFile(path, false);
            code = loader.errorCode;
            // Frames are normalised before the masters are applied, so a master in other
            // units (a 16-bit FITS master, a camera RAW file) must be brought to 0 ... 1 too.
            if (master && master->whiteLevel != 1.0f) {
                messageLog.logMessage(
                    QStringLiteral("Master %1 %2 is not normalised (white level %3): normalising it like the frames.")
                        .arg(name, path, logNumber(master->whiteLevel)));
                if (!normalizeImage(*master)) {
                    master.reset();
                    code = kFrameNotNormalizable;
                }
            }
        } catch (const std::bad_alloc &) {
            master.reset();
            code = kNotEnoughMemory;
        }
        if (!master) {
            if (errorCode == 0) {
                errorCode = code;
                errorFile = path;
            }
            messageLog.logMessage(QStringLiteral("Cannot load master %1 %2: %3 (error %4)")
                                                .arg(name, path, errorCodeText(code))
                                                .arg(code), Severity::Error);
            continue;
        }
        masters[kind] = std::move(master);
        *loadedPaths[kind] = path;
    }
}

RegistrationMasters StarCollector::masterSet() const
{
    return RegistrationMasters{masters[Bias].get(), masters[Dark].get(), masters[Flat].get()};
}

void StarCollector::freeMasters()
{
    for (auto &master : masters)
        master.reset();
}

void StarCollector::run()
{
    log->setStatusText(QStringLiteral("Frame registration..."));
    results.clear();
    remaining = static_cast<int>(files.size());
    if (files.size() < 2) {
        log->logMessage(QStringLiteral("You need at least two images for frame registration!"), Severity::Error);
        if (errorCode == 0)
            errorCode = kRegistrationTooFewFrames;
        return;
    }

    int width = 0;
    int height = 0;
    {
        ImageLoader loader;
        loader.querySize(files.first(), width, height);
        if (width <= 0 || height <= 0) {
            errorCode = loader.errorCode != 0 ? loader.errorCode : kUnreadableExtension;
            errorFile = files.first();
            log->logMessage(QStringLiteral("Error while getting info for first frame. Calculation aborted."));
            return;
        }
    }

    ResourcePreferences prefs = preferences;
    prefs.maxThreads = std::max(maxThreads, 1);
    const std::uint64_t available =
        fixedAvailableBytes ? *fixedAvailableBytes : queryPhysicalMemory().availableBytes;
    const RegistrationThreads plan = registrationThreads(prefs, available, width, height);
    if (plan.reduced)
        log->logMessage(QStringLiteral("[Info] Memory limit reached. Decreasing max. threads from %1 to %2")
                            .arg(prefs.maxThreads)
                            .arg(plan.threads));
    maxThreads = plan.threads;
    if (errorCode == 0)
        for (int kind = 0; kind < MasterKinds; ++kind)
            warnAboutMasterSize(static_cast<MasterKind>(kind), width, height, files.first());

    try {
        if (!dispatchFrames(width, height))
            return;
        computeResults();
    } catch (const std::bad_alloc &failure) {
        errorCode = kNotEnoughMemory;
        log->logMessage(notEnoughMemoryText(failure), Severity::Error);
        stopAfterError();
        return;
    }
    freeMasters();
    compare.reset();
    log->setStatusText(QStringLiteral("Registration done."));
    // Nothing of this object may be touched after the signal: its receiver may schedule the
    // collector's deletion.
    emit collectFinished(this);
}

bool StarCollector::dispatchFrames(int width, int height)
{
    const int frameCount = static_cast<int>(files.size());
    quietLog = std::make_unique<TraceOnlyLog>(*log);
    compare = std::make_unique<StarCompare>(frameCount, width, height, quietLog.get());
    fwhmByFrame.assign(static_cast<std::size_t>(frameCount), 0.0f);
    starsByFrame.assign(static_cast<std::size_t>(frameCount), 0.0f);
    thresholdByFrame.assign(static_cast<std::size_t>(frameCount), std::numeric_limits<float>::quiet_NaN());
    preciseByFrame.assign(static_cast<std::size_t>(refine ? frameCount : 0), {});
    running = 0;
    framesDone = 0;

    while (remaining >= 1) {
        // Wakes the moment a worker reports (the slots wake the waiter) or the user aborts.
        waiter.waitUntil([this] { return running < maxThreads || errorCode != 0 || abortRequested(); });
        if (abortRequested()) {
            stopAfterAbort();
            return false;
        }
        if (errorCode != 0) {
            stopAfterError();
            return false;
        }
        const int frameIndex = frameCount - remaining;
        log->logMessage(QStringLiteral("Processing ") + files.at(frameIndex) + QStringLiteral("..."));
        startThread(frameIndex);
    }
    waiter.waitUntil([this] { return running == 0; });
    // A frame that fails or an abort while the last frames finish ends the run as well: the
    // results would be missing that frame.
    if (abortRequested()) {
        stopAfterAbort();
        return false;
    }
    if (errorCode != 0) {
        stopAfterError();
        return false;
    }
    return true;
}

void StarCollector::startThread(int frameIndex)
{
    StarSearchParameters search{maxStarSize, threshold, maxBrightness};
    search.autoThreshold = autoThreshold;
    auto thread = std::make_unique<StarCollectorThread>(files.at(frameIndex), frameIndex, masterSet(), search, log,
                                                        quietLog.get());
    thread->refine = refine;
    connect(thread.get(), SIGNAL(resultReady(QObject *)), this, SLOT(collectResult(QObject *)), Qt::QueuedConnection);
    connect(thread.get(), SIGNAL(errorRaised(QObject *)), this, SLOT(handleError(QObject *)), Qt::QueuedConnection);
    threads.push_back(std::move(thread));
    ++running;
    --remaining;
    threads.back()->start();
}

std::unique_ptr<StarCollectorThread> StarCollector::takeThread(QObject *sender)
{
    const auto it = std::find_if(threads.begin(), threads.end(),
                                 [sender](const std::unique_ptr<StarCollectorThread> &t) { return t.get() == sender; });
    if (it == threads.end())
        return nullptr;
    std::unique_ptr<StarCollectorThread> thread = std::move(*it);
    threads.erase(it);
    thread->quit();
    thread->wait();
    return thread;
}

void StarCollector::collectResult(QObject *sender)
{
    std::unique_ptr<StarCollectorThread> thread = takeThread(sender);
    if (!thread)
        return;
    const int index = thread->frameIndex;
    // A slot must not throw into the event loop: a copy that does not fit in memory fails the run.
    try {
        if (compare)
            compare->setFrame(index, thread->patterns.data(), thread->patternCount);
    } catch (const std::bad_alloc &failure) {
        if (errorCode == 0)
            errorCode = kNotEnoughMemory;
        log->logMessage(notEnoughMemoryText(failure), Severity::Error);
    }
    if (index >= 0 && static_cast<std::size_t>(index) < starsByFrame.size()) {
        starsByFrame[static_cast<std::size_t>(index)] = static_cast<float>(thread->starCount);
        fwhmByFrame[static_cast<std::size_t>(index)] = thread->averageFwhm;
        if (autoThreshold)
            thresholdByFrame[static_cast<std::size_t>(index)] = thread->thresholdUsed;
        if (refine)
            preciseByFrame[static_cast<std::size_t>(index)] = std::move(thread->preciseStars);
    }
    const bool skipped[MasterKinds] = {thread->skippedBias, thread->skippedDark, thread->skippedFlat};
    for (int kind = 0; kind < MasterKinds; ++kind)
        if (skipped[kind])
            warnAboutMasterSize(static_cast<MasterKind>(kind), thread->frameWidth, thread->frameHeight,
                                thread->fileName);
    ++framesDone;
    log->setProgress(static_cast<float>(framesDone * 100 / std::max<int>(static_cast<int>(files.size()), 1)));
    --running;
    waiter.wake();
}

void StarCollector::handleError(QObject *sender)
{
    std::unique_ptr<StarCollectorThread> thread = takeThread(sender);
    if (!thread)
        return;
    if (errorCode != kRegistrationAborted) {
        errorCode = thread->errorCode;
        errorFile = thread->fileName;
    }
    --running;
    waiter.wake();
}

void StarCollector::computeResults()
{
    const std::size_t frameCount = static_cast<std::size_t>(files.size());
    std::vector<RegistrationResult> computed(frameCount);
    for (std::size_t i = 0; i < frameCount; ++i) {
        RegistrationResult &result = computed[i];
        result.fwhm = fwhmByFrame[i];
        result.stars = starsByFrame[i];
        result.threshold = thresholdByFrame[i];
        if (i == 0) {
            result.stackable = true;
            continue;
        }
        Transformation t = compare->computeTransformation(compare->matchPatterns(static_cast<int>(i)));
        if (refine && t.stackable())
            refineFrame(static_cast<int>(i), t, result);
        result.offsetX = t.offsetX;
        result.offsetY = t.offsetY;
        result.angle = t.angle;
        result.stackable = t.stackable();
    }
    results = std::move(computed);
}

void StarCollector::refineFrame(int index, Transformation &t, RegistrationResult &result)
{
    const RefinedTransformation refined =
        refineTransformation(preciseByFrame[0], preciseByFrame[static_cast<std::size_t>(index)], t,
                             compare->frameWidth, compare->frameHeight);
    log->logMessage(refinementLine(index, files.at(index), refined));
    if (!refined.refined)
        return;
    t = refined.transformation;
    result.starPairs = refined.pairs;
    result.residualRms = static_cast<float>(refined.residualRms);
}

void StarCollector::stopAfterError()
{
    log->logMessage(QStringLiteral("Error raised (Code: %1) while scanning frames. Stopping threads, %2 to go.")
                        .arg(errorCode)
                        .arg(running));
    waiter.waitUntil([this] { return running == 0; });
    compare.reset();
}

void StarCollector::stopAfterAbort()
{
    errorCode = kRegistrationAborted;
    log->logMessage(QStringLiteral("Aborting frame registration, please wait..."), Severity::Notice);
    waiter.waitUntil([this] { return running == 0; });
    compare.reset();
    log->logMessage(QStringLiteral("Frame registration aborted."));
    log->setStatusText(QStringLiteral("Aborted."));
}

void StarCollector::warnAboutMasterSize(MasterKind kind, int frameWidth, int frameHeight, const QString &frame)
{
    const ImageBuffer *master = masters[kind].get();
    if (!master || sizeWarned[kind] || frameWidth <= 0 || frameHeight <= 0
        || (master->width == frameWidth && master->height == frameHeight))
        return;
    sizeWarned[kind] = true;
    log->logMessage(QStringLiteral("Warning: master %1 is %2 pixels, %3 is %4 pixels; the master is not applied "
                                   "to frames of that size.")
                        .arg(QLatin1String(kMasterNames[kind]), sizeText(master->width, master->height), frame,
                             sizeText(frameWidth, frameHeight)));
}
