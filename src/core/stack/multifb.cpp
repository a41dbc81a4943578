#include "multifb.h"

#include "calib/calibarithmetic.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/errorcodes.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"
#include "multifbthread.h"
#include "platform/machine.h"
#include "platform/workdriver.h"
#include "stackbudget.h"
#include "stackstatistics.h"
#include "stars/starcollectorthread.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

constexpr std::int64_t kNanosecondsPerMillisecond = 1000000;

QString sizeText(int width, int height)
{
    return QStringLiteral("%1 x %2").arg(width).arg(height);
}

} // namespace

MultiFB::MultiFB(MessageLog &messageLog, const QStringList &paths, QObject *parent)
    : QObject(parent), log(messageLog), framePaths(paths)
{
    if (framePaths.size() < 2) {
        errorCode = kStackTooFewFrames;
        return;
    }
    construct(readRunPreferences(), queryPhysicalMemory().availableBytes);
}

MultiFB::MultiFB(MessageLog &messageLog, const QStringList &paths, const ResourcePreferences &prefs,
                 std::uint64_t availableBytes, QObject *parent)
    : QObject(parent), log(messageLog), framePaths(paths)
{
    if (framePaths.size() < 2) {
        errorCode = kStackTooFewFrames;
        return;
    }
    construct(prefs, availableBytes);
}

MultiFB::~MultiFB()
{
    stopWorkers();
    // The loaders' destructors wait for them; they read the masters, which go after them.
    loaders.clear();
}

void MultiFB::construct(const ResourcePreferences &prefs, std::uint64_t availableBytes)
{
    preferences = prefs;
    availableMemory = availableBytes;
    maxThreads = std::max(prefs.maxThreads, 1);

    ImageLoader loader;
    loader.log = &log;
    loader.querySize(framePaths.first(), width, height);
    if (width <= 0 || height <= 0) {
        log.logMessage(QStringLiteral("An error occured while loading image:"));
        log.logMessage(framePaths.first());
        errorCode = loader.errorCode != 0 ? loader.errorCode : kStandardImageUnreadable;
        log.logMessage(QStringLiteral("Error code: ") + QString::number(errorCode));
        width = height = 0;
        return;
    }
    const int frames = frameCount();
    log.logMessage(QStringLiteral("[MultiBuffer] Image size: %1x%2, %3 images").arg(width).arg(height).arg(frames));
    log.logMessage(QStringLiteral("[MultiBuffer] Available physical memory: %1 MB")
                       .arg(bytesToMegabytes(availableBytes)));
    const StackBandPlan plan = planStackBands(prefs, availableBytes, frames, width, height);
    budgetMB = plan.budgetMB;
    log.logMessage(QStringLiteral("[MultiBuffer] using up to %1 MB for buffers").arg(plan.budgetMB));
    log.logMessage(
        QStringLiteral("[MultiBuffer] estimated memory usage for multi-threaded full-frame image loading: %1 MB")
            .arg(plan.fullFrameLoadMB));
    maxScanlines = plan.maxScanlines;
    log.logMessage(QStringLiteral("[MultiBuffer] Max scanlines: %1").arg(maxScanlines));
    bands.resize(static_cast<std::size_t>(frames));
    sizeWarned.assign(static_cast<std::size_t>(frames), false);
}

QString MultiFB::errorText() const
{
    switch (errorCode) {
    case 0: return QString();
    case kStackTransformIndexInvalid:
        return QStringLiteral("a registration was given for a frame that is not in the stack");
    case kStackTooFewFrames: return QStringLiteral("fewer than two frames to stack");
    case kStackBudgetTooSmall:
        return QStringLiteral("the memory budget of %1 MB does not hold one row of every frame").arg(budgetMB);
    case kStackAborted: return QStringLiteral("stacking aborted");
    default: break;
    }
    if (!loadFailures.empty())
        return QStringLiteral("could not load %1: %2")
            .arg(loadFailures.front().path, errorCodeText(loadFailures.front().code));
    if (width <= 0 && !framePaths.isEmpty())
        return QStringLiteral("could not read %1: %2").arg(framePaths.first(), errorCodeText(errorCode));
    return errorCodeText(errorCode);
}

// ---- masters ----

bool MultiFB::setFlat(const QString &path)
{
    return loadMaster(flat, path, "flat");
}

bool MultiFB::setDark(const QString &path)
{
    return loadMaster(dark, path, "dark");
}

bool MultiFB::setBias(const QString &path)
{
    return loadMaster(bias, path, "bias");
}

bool MultiFB::setDarkFlat(const QString &path)
{
    return loadMaster(darkFlat, path, "dark flat");
}

bool MultiFB::setDarkFlat(std::unique_ptr<ImageBuffer> master)
{
    if (!master) {
        darkFlat.reset();
        return false;
    }
    return acceptMaster(darkFlat, std::move(master), QStringLiteral("dark flat"));
}

bool MultiFB::loadMaster(std::unique_ptr<ImageBuffer> &slot, const QString &path, const char *kind)
{
    slot.reset();
    const QString name = QLatin1String(kind) + QLatin1Char(' ') + path;
    if (width <= 0) {
        masterProblem = QStringLiteral("master %1 not used: the frames could not be read").arg(name);
        return false;
    }
    ImageLoader loader;
    loader.log = &log;
    std::unique_ptr<ImageBuffer> master;
    if (!guardMemory(log, [&] { master = loader.loadFile(path, false); }) && loader.errorCode == 0)
        loader.errorCode = kNotEnoughMemory;
    if (!master) {
        masterProblem = QStringLiteral("cannot read master %1: %2 (error %3)")
                            .arg(name, errorCodeText(loader.errorCode))
                            .arg(loader.errorCode);
        log.logMessage(masterProblem + QStringLiteral("; it is not applied."), Severity::Error);
        return false;
    }
    return acceptMaster(slot, std::move(master), name);
}

bool MultiFB::acceptMaster(std::unique_ptr<ImageBuffer> &slot, std::unique_ptr<ImageBuffer> master,
                           const QString &name)
{
    slot.reset();
    if (master->width != width || master->height != height) {
        masterProblem = QStringLiteral("master %1 is %2 pixels, the frames are %3")
                            .arg(name, sizeText(master->width, master->height), sizeText(width, height));
        log.logMessage(QStringLiteral("Warning: ") + masterProblem + QStringLiteral("; it is not applied."));
        return false;
    }
    if (master->whiteLevel != 1.0f) {
        const float whiteLevel = master->whiteLevel;
        if (!normalizeImage(*master)) {
            masterProblem = QStringLiteral("master %1 has no value range (its white level equals its black level)")
                                .arg(name);
            log.logMessage(QStringLiteral("Warning: ") + masterProblem + QStringLiteral("; it is not applied."));
            return false;
        }
        log.logMessage(QStringLiteral("Master %1 was not normalised (white level %2); normalised like the frames.")
                           .arg(name, logNumber(whiteLevel)));
    }
    slot = std::move(master);
    return true;
}

BandMasters MultiFB::bandMasters() const
{
    return BandMasters{bias.get(), dark.get(), flat.get(), darkFlat.get()};
}

// ---- registered mode ----

void MultiFB::setTransform(int frame, float tx, float ty, float angle)
{
    if (frame < 0 || frame >= frameCount()) {
        errorCode = kStackTransformIndexInvalid;
        return;
    }
    if (width <= 0)
        return;
    if (!registeredMode) {
        registeredMode = true;
        placements.assign(static_cast<std::size_t>(frameCount()), FramePlacement{});
    }
    FramePlacement &placement = placements[static_cast<std::size_t>(frame)];
    placement = FramePlacement{tx, ty, angle};
    widenBounds(bounds, placement, width, height);
    registeredWidth = ::outputWidth(bounds, width);
    registeredHeight = ::outputHeight(bounds, height);
    const int rows = registeredBandRows(preferences, availableMemory, frameCount(), width);
    maxScanlines = std::min(rows, registeredHeight);
}

// ---- drivers ----

std::unique_ptr<ImageBuffer> MultiFB::stackAverage()
{
    // The average's abort line goes to the trace only.
    return runDriver(stackstats::CombineAverage, QStringLiteral("Averaging frames..."),
                     QStringLiteral("Stacking done."), true);
}

std::unique_ptr<ImageBuffer> MultiFB::stackMedian()
{
    return runDriver(stackstats::CombineMedian, QStringLiteral("Median frames..."), QStringLiteral("Stacking done."),
                     false);
}

std::unique_ptr<ImageBuffer> MultiFB::stackSigma()
{
    return runDriver(stackstats::CombineSigma, QStringLiteral("Sigma-Stacking frames..."),
                     QStringLiteral("Sigma-Stacking done."), false);
}

std::unique_ptr<ImageBuffer> MultiFB::runDriver(int mode, const QString &startLine, const QString &endLine,
                                                bool traceAbortLine)
{
    try {
        return drive(mode, startLine, endLine, traceAbortLine);
    } catch (const std::bad_alloc &failure) {
        // Bookkeeping that could not grow (a loader or its request); the loaders that run
        // finish their band first, since they read the masters.
        for (auto &loader : loaders)
            loader->wait();
        loaders.clear();
        loadersRunning = 0;
        stopWorkers();
        releaseBands();
        log.muted = false;
        log.logMessage(notEnoughMemoryText(failure));
        errorCode = kNotEnoughMemory;
        log.setProgress(0.0f);
        log.setStatusText(QStringLiteral("Error, aborted."));
        return nullptr;
    }
}

std::unique_ptr<ImageBuffer> MultiFB::drive(int mode, const QString &startLine, const QString &endLine,
                                            bool traceAbortLine)
{
    QElapsedTimer clock;
    clock.start();
    if (errorCode != 0)
        return nullptr;
    const int outW = outputWidth();
    const int outH = outputHeight();
    if (maxScanlines < 1) {
        const std::int64_t rowBytes = std::int64_t{frameCount()} * outW
                                      * (registeredMode ? kRegisteredBytesPerPixel : kStackBytesPerPixel);
        log.logMessage(QStringLiteral("[MultiBuffer] The memory budget of %1 MB does not hold one row of "
                                                "every frame: one row of the %2 frames needs %3 bytes. Allow more "
                                                "memory in the preferences or stack fewer frames.")
                                     .arg(budgetMB)
                                     .arg(frameCount())
                                     .arg(rowBytes), Severity::Error);
        errorCode = kStackBudgetTooSmall;
        log.setStatusText(QStringLiteral("Error, aborted."));
        return nullptr;
    }

    std::unique_ptr<ImageBuffer> output;
    try {
        // Every pixel is written by the workers before the result is handed out.
        output = ImageBuffer::createUnfilled(outW, outH);
    } catch (const AllocationFailure &failure) {
        log.logMessage(notEnoughMemoryText(failure));
        errorCode = kNotEnoughMemory;
        log.setStatusText(QStringLiteral("Error, aborted."));
        return nullptr;
    }
    log.logMessage(startLine);
    if (!measureFrames()) {
        log.setStatusText(QStringLiteral("Error, aborted."));
        return nullptr;
    }

    waiter = std::make_unique<RunWaiter>();
    bandCount = 0;
    loadFailures.clear();
    releaseBands();
    bands.resize(static_cast<std::size_t>(frameCount()));
    RunEnd end = RunEnd::Normal;
    if (!startWorkers(*output, mode))
        end = RunEnd::Error;
    for (int first = 0; end == RunEnd::Normal && first < outH; first += maxScanlines) {
        if (errorCode == 0 && !abortRequested)
            loadBand(first);
        if (errorCode != 0) {
            end = RunEnd::Error;
        } else if (abortRequested) {
            errorCode = kStackAborted;
            end = RunEnd::Abort;
        } else {
            combineBand(first, std::min(maxScanlines, outH - first));
        }
    }
    // Workers stop taking rows on abort, so a stack aborted in its last band is incomplete.
    if (end == RunEnd::Normal && abortRequested) {
        errorCode = kStackAborted;
        end = RunEnd::Abort;
    }
    log.muted = false;

    switch (end) {
    case RunEnd::Error:
        for (const LoadFailure &failure : loadFailures)
            log.logMessage(QStringLiteral("Could not load %1: %2 (error %3)")
                                         .arg(failure.path, errorCodeText(failure.code))
                                         .arg(failure.code), Severity::Error);
        log.logMessage(QStringLiteral("Error caught. Aborting..."));
        stopWorkers();
        releaseBands();
        log.logMessage(QStringLiteral("All worker threads ended."));
        log.setProgress(0.0f);
        log.setStatusText(QStringLiteral("Error, aborted."));
        return nullptr;
    case RunEnd::Abort: {
        stopWorkers();
        releaseBands();
        const QString line = QStringLiteral("Abort request received. All worker threads ended.");
        if (traceAbortLine)
            log.traceMessage(line);
        else
            log.logMessage(line);
        log.setProgress(0.0f);
        log.setStatusText(QStringLiteral("Aborted."));
        return nullptr;
    }
    case RunEnd::Normal: break;
    }

    stopWorkers();
    releaseBands();
    if (coverageMode)
        log.logMessage(QStringLiteral("Pixels whose frames were too few for the rejection (their plain mean used): %1")
                           .arg(fallbackPixels));
    log.logMessage(endLine);
    if (mode == stackstats::CombineSigma) {
        const std::int64_t milliseconds = clock.nsecsElapsed() / kNanosecondsPerMillisecond;
        log.logMessage(QStringLiteral("Duration: ") + logNumber(static_cast<float>(milliseconds) * 0.001f)
                       + QStringLiteral("s"));
    }
    log.setStatusText(QStringLiteral("Stacking done."));
    log.setProgress(0.0f);
    output->whiteLevel = 1.0f;
    output->blackLevel = 0.0f;
    output->channels = 3;
    return output;
}

bool MultiFB::startWorkers(ImageBuffer &output, int mode)
{
    const int count = std::max(1, std::min(maxThreads, output.height));
    CombineSettings settings{mode, rejectionMode, rejectFraction, sigmaFactor};
    settings.fallBackToMean = coverageMode;
    if (!frameWeightList.empty())
        settings.weights = frameWeightList.data();
    fallbackPixels = 0;
    {
        std::lock_guard<std::mutex> guard(rowQueue.lock);
        rowQueue.stop = false;
        rowQueue.bands.assign(static_cast<std::size_t>(frameCount()), nullptr);
    }
    rowQueue.abort = &abortRequested;
    rowQueue.nextRow = 0;
    rowQueue.rowsDone = 0;
    try {
        workers.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            workers.push_back(std::make_unique<MFBWorker>(rowQueue, output, frameCount(), settings, i));
            connect(workers.back().get(), &MFBWorker::workDone, this, &MultiFB::lineDone, Qt::QueuedConnection);
            workers.back()->start();
        }
    } catch (const std::bad_alloc &failure) {
        log.logMessage(notEnoughMemoryText(failure));
        errorCode = kNotEnoughMemory;
        return false;
    }
    return true;
}

void MultiFB::stopWorkers()
{
    {
        std::lock_guard<std::mutex> guard(rowQueue.lock);
        rowQueue.stop = true;
    }
    rowQueue.changed.notify_all();
    for (auto &worker : workers) {
        worker->wait();
        fallbackPixels += worker->fallbacks();
    }
    workers.clear();
}

void MultiFB::loadBand(int first)
{
    const int rows = std::min(maxScanlines, outputHeight() - first);
    const int last = first + rows - 1;
    bandLoading = true;
    highestReported = -1;
    ++bandCount;
    log.setStatusText(QStringLiteral("Buffering frames..."));
    log.traceMessage(QStringLiteral("Loading frames from scanline %1 to %2...").arg(first).arg(last));
    log.muted = true;
    // Every worker waits for this band, so each frame's loader may write its new band over the
    // old one (fresh memory is slow to touch): a stack never holds more than one band of every
    // frame.
    for (int frame = 0; frame < frameCount(); ++frame) {
        waiter->waitUntil([this] { return loadersRunning < maxThreads; });
        // After an abort or a failed frame no further frame starts.
        if (abortRequested || errorCode != 0)
            break;
        startLoader(frame, first, rows);
    }
    waiter->waitUntil([this] { return loadersRunning == 0; });
    log.muted = false;
    bandFirst = first;
    bandLast = last;
    log.traceMessage(QStringLiteral("Calculating..."));
    bandLoading = false;
    reportFramesOfOtherSize();
}

bool MultiFB::measureFrames()
{
    frameFactors.clear();
    frameWeightList.clear();
    if (normalizationMode == StackNormalization::None && weightingMode == StackWeighting::None)
        return true;
    if (normalizationMode != StackNormalization::None)
        log.logMessage(QStringLiteral("Measuring the sky of every frame for %1 normalization...")
                           .arg(normalizationName(normalizationMode)));
    if (weightingMode != StackWeighting::None)
        log.logMessage(QStringLiteral("Measuring the sky of every frame for weighting by %1...")
                           .arg(weightingName(weightingMode).toLower()));
    std::vector<FrameSky> skies(static_cast<std::size_t>(frameCount()));
    std::vector<int> codes(skies.size(), 0);
    const BandMasters masters = bandMasters();
    ParallelRunOptions options;
    options.threads = maxThreads;
    options.abort = &abortRequested;
    runParallel(frameCount(), options, [&](int frame) {
        try {
            codes[static_cast<std::size_t>(frame)] =
                measureFrameSky(framePaths.at(frame), width, height, masters, skies[static_cast<std::size_t>(frame)]);
        } catch (const std::bad_alloc &) {
            codes[static_cast<std::size_t>(frame)] = kNotEnoughMemory;
        }
    });
    if (abortRequested) {
        errorCode = kStackAborted;
        return false;
    }
    for (int frame = 0; frame < frameCount(); ++frame) {
        const int code = codes[static_cast<std::size_t>(frame)];
        if (code == 0)
            continue;
        log.logMessage(QStringLiteral("Could not measure the sky of %1: %2 (error %3)")
                                     .arg(framePaths.at(frame), errorCodeText(code))
                                     .arg(code), Severity::Error);
        errorCode = code;
        return false;
    }
    if (normalizationMode != StackNormalization::None)
        for (int frame = 0; frame < frameCount(); ++frame) {
            frameFactors.push_back(::normalizationFactors(normalizationMode, skies.front(),
                                                          skies[static_cast<std::size_t>(frame)]));
            log.logMessage(normalizationLine(framePaths.at(frame), frameFactors.back()));
        }
    if (weightingMode != StackWeighting::None) {
        frameWeightList = frameWeights(weightingMode, skies, frameFwhm);
        for (int frame = 0; frame < frameCount(); ++frame)
            log.logMessage(weightLine(framePaths.at(frame), frameWeightList[static_cast<std::size_t>(frame)]));
    }
    return true;
}

void MultiFB::startLoader(int frame, int first, int rows)
{
    FrameBandRequest request;
    request.frameIndex = frame;
    request.path = framePaths.at(frame);
    request.firstRow = first;
    request.rowCount = rows;
    request.frameWidth = width;
    request.frameHeight = height;
    request.masters = bandMasters();
    request.registered = registeredMode;
    if (registeredMode) {
        request.placement = placements[static_cast<std::size_t>(frame)];
        request.bounds = bounds;
        request.outputWidth = registeredWidth;
        request.interpolation = interpolationMode;
    }
    request.abort = &abortRequested;
    if (!frameFactors.empty())
        request.normalization = frameFactors[static_cast<std::size_t>(frame)];
    request.excludeOutside = coverageMode;

    loaders.push_back(std::make_unique<MultiFBThread>(request));
    MultiFBThread *loader = loaders.back().get();
    loader->band = std::move(bands[static_cast<std::size_t>(frame)]);
    ++loadersRunning;
    connect(loader, &MultiFBThread::resultReady, this, &MultiFB::collectResult, Qt::QueuedConnection);
    connect(loader, &MultiFBThread::procFailed, this, &MultiFB::errorAbort, Qt::QueuedConnection);
    log.muted = false;
    log.logMessage(QStringLiteral("Loading ") + request.path);
    // Once per frame: whether its mosaic is debayered as it is read (the loaders are quiet).
    if (bandCount == 1) {
        const QString note = ImageLoader().debayerNote(request.path);
        if (!note.isEmpty())
            log.logMessage(note);
    }
    // The loader's own time counts as quiet time: lines from elsewhere stay out of the log
    // until the band is loaded.
    log.muted = true;
    loader->start();
}

void MultiFB::collectResult(QObject *sender)
{
    auto it = std::find_if(loaders.begin(), loaders.end(),
                           [sender](const std::unique_ptr<MultiFBThread> &loader) { return loader.get() == sender; });
    if (it == loaders.end())
        return;
    MultiFBThread &loader = **it;
    const int frame = loader.request.frameIndex;
    bands[static_cast<std::size_t>(frame)] = std::move(loader.band);
    if (loader.sizeDiffers)
        framesOfOtherSize.push_back(frame);
    log.muted = true;
    if (frame > highestReported) {
        log.setStatusText(QStringLiteral("Buffering frames..."));
        log.setProgress(100.0f / static_cast<float>(frameCount()) * static_cast<float>(frame));
        highestReported = frame;
    }
    finishLoader(it->get());
}

void MultiFB::errorAbort(QObject *sender)
{
    auto it = std::find_if(loaders.begin(), loaders.end(),
                           [sender](const std::unique_ptr<MultiFBThread> &loader) { return loader.get() == sender; });
    if (it == loaders.end())
        return;
    errorCode = (*it)->errorCode;
    loadFailures.push_back(LoadFailure{(*it)->request.path, (*it)->errorCode});
    finishLoader(it->get());
}

void MultiFB::finishLoader(MultiFBThread *loader)
{
    loader->quit();
    loader->wait();
    loaders.erase(std::find_if(loaders.begin(), loaders.end(),
                               [loader](const std::unique_ptr<MultiFBThread> &l) { return l.get() == loader; }));
    --loadersRunning;
    waiter->wake();
}

void MultiFB::combineBand(int first, int rows)
{
    {
        std::lock_guard<std::mutex> guard(rowQueue.lock);
        rowQueue.bandFirst = first;
        rowQueue.bandEnd = first + rows;
        for (std::size_t i = 0; i < bands.size(); ++i)
            rowQueue.bands[i] = bands[i].get();
        rowQueue.nextRow = first;
        ++rowQueue.generation;
        workersDone = 0;
    }
    rowQueue.changed.notify_all();
    log.setStatusText(QStringLiteral("Calculating..."));
    const float percentPerRow = 100.0f / static_cast<float>(outputHeight());
    waiter->waitUntil([this] { return workersDone == static_cast<int>(workers.size()); },
                      [this, percentPerRow] {
                          log.setProgress(percentPerRow
                                          * static_cast<float>(rowQueue.rowsDone.load(std::memory_order_relaxed)));
                      });
    // Acquire: every row counted is fully written.
    rowQueue.rowsDone.load(std::memory_order_acquire);
}

void MultiFB::lineDone(QObject *sender)
{
    const bool ours = std::any_of(workers.begin(), workers.end(),
                                  [sender](const std::unique_ptr<MFBWorker> &worker) { return worker.get() == sender; });
    if (!ours)
        return;
    ++workersDone;
    waiter->wake();
}

void MultiFB::releaseBands()
{
    for (auto &band : bands)
        band.reset();
}

void MultiFB::reportFramesOfOtherSize()
{
    for (int frame : framesOfOtherSize) {
        if (sizeWarned[static_cast<std::size_t>(frame)])
            continue;
        sizeWarned[static_cast<std::size_t>(frame)] = true;
        log.logMessage(QStringLiteral("Warning: %1 is not the size of the first frame (%2); only the part they "
                                      "share is stacked.")
                           .arg(framePaths.at(frame), sizeText(width, height)));
    }
    framesOfOtherSize.clear();
}
