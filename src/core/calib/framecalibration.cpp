#include "framecalibration.h"

#include "calib/calibarithmetic.h"
#include "image/fitswriter.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "platform/machine.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const char *const kMasterNames[] = {"bias", "dark", "flat"};

std::unique_ptr<ImageBuffer> loadMaster(const QString &path, const char *kind, int &firstError, MessageLog &log)
{
    if (path.isEmpty())
        return nullptr;
    ImageLoader loader;
    loader.log = &log;
    auto master = loader.loadFile(path, false);
    if (!master && firstError == 0)
        firstError = loader.errorCode;
    log.logMessage(QStringLiteral("Setting %1 frame to: ").arg(QLatin1String(kind)) + path);
    if (!master)
        log.logMessage(failureLine(QStringLiteral("cannot open master %1").arg(QLatin1String(kind)), path,
                                   fileFailureText(path, loader.errorCode), loader.errorCode));
    // The frames are normalised before the masters are applied, so a master in other units
    // (a 16-bit FITS master as most programs write them, a RAW file) is brought to 0 ... 1 too.
    if (master && master->whiteLevel != 1.0f) {
        log.logMessage(QStringLiteral("Master %1 %2 is not normalised (white level %3): normalising it like the "
                                      "frames.")
                           .arg(QLatin1String(kind), path, logNumber(master->whiteLevel)));
        if (!normalizeImage(*master)) {
            log.logMessage(QStringLiteral("Cannot use master %1 %2: its white level equals its "
                                          "black level, so it has no value range.")
                               .arg(QLatin1String(kind), path), Severity::Error);
            master.reset();
            if (firstError == 0)
                firstError = kFrameNotNormalizable;
        }
    }
    return master;
}

QString sizeText(int width, int height)
{
    return QStringLiteral("%1 x %2").arg(width).arg(height);
}

} // namespace

CalibrationMasters loadCalibrationMasters(const QString &biasPath, const QString &darkPath, const QString &flatPath,
                                          MessageLog &log)
{
    CalibrationMasters loaded;
    loaded.bias = loadMaster(biasPath, "bias", loaded.errorCode, log);
    loaded.dark = loadMaster(darkPath, "dark", loaded.errorCode, log);
    loaded.flat = loadMaster(flatPath, "flat", loaded.errorCode, log);
    return loaded;
}

QString calibrationRequestProblem(const CalibrationParameters &parameters)
{
    if (parameters.lightFrames.isEmpty())
        return QStringLiteral("Not enough light frames for calibration!");
    if (parameters.outputFolder.isEmpty())
        return QStringLiteral("Please choose an output directory first!");
    if (!QFileInfo(parameters.outputFolder).isDir())
        return QStringLiteral("Output directory does not exist. Please create it first.");
    return QString();
}

QString calibratedFramePath(const QString &inputPath, const QString &outputFolder)
{
    return outputFolder + QLatin1Char('/') + QFileInfo(inputPath).completeBaseName() + QStringLiteral(".fts");
}

QString calibrationErrorText(int code)
{
    switch (code) {
    case kFitsFileNotCreated:
        return QStringLiteral("Could not create FITS file (may be it already exists?)");
    case kFitsWriteError:
        return QStringLiteral("error writing to FITS file");
    case kNotEnoughMemory:
        return QStringLiteral("Not enough memory for a light frame");
    case kFrameNotNormalizable:
        return QStringLiteral("A light frame has no value range (its white level equals its black level)");
    case kCalibrationAborted:
        return QStringLiteral("Calibration aborted");
    default:
        return QStringLiteral("Unknown error");
    }
}

CalibrationOutcome calibrationOutcome(int code)
{
    if (code == 0)
        return {QStringLiteral("Calibration done."), QStringLiteral("Ready.")};
    if (code == kCalibrationAborted)
        return {QStringLiteral("Calibration aborted."), QStringLiteral("Aborted.")};
    return {QStringLiteral("Error during frame calibration: ") + calibrationErrorText(code),
            QStringLiteral("Error ") + QString::number(code), Severity::Warning};
}

frameCalibration::frameCalibration(const CalibrationParameters &runParameters, QObject *parent, MessageLog &messageLog)
    : QObject(parent), parameters(runParameters), log(messageLog),
      maxThreads(std::max(runParameters.preferences.maxThreads, 1))
{
}

frameCalibration::~frameCalibration()
{
    // Only reached with threads alive if the owner destroys a run that has not ended; they
    // read the masters, so they finish before anything goes.
    abortRequested = true;
    for (auto &thread : threads)
        thread->wait();
}

int frameCalibration::loadMasters()
{
    setMasters(loadCalibrationMasters(parameters.biasPath, parameters.darkPath, parameters.flatPath, log));
    return error;
}

void frameCalibration::setMasters(CalibrationMasters loaded)
{
    masters[Bias] = std::move(loaded.bias);
    masters[Dark] = std::move(loaded.dark);
    masters[Flat] = std::move(loaded.flat);
    if (error == 0)
        error = loaded.errorCode;
}

CalibrationMasterSet frameCalibration::masterSet() const
{
    return CalibrationMasterSet{masters[Bias].get(), masters[Dark].get(), masters[Flat].get()};
}

void frameCalibration::waitWhile(const std::function<bool()> &busy)
{
    // Wakes the moment a thread reports (sFileWritten), handling the user's input meanwhile.
    waiter.waitUntil([&] { return !busy(); });
}

void frameCalibration::calibrate()
{
    log.setStatusText(QStringLiteral("Calibrating light frames..."));
    const QStringList &frames = parameters.lightFrames;
    if (frames.isEmpty()) {
        finish(error == 0);
        return;
    }

    const int limitMB = calibrationMemoryLimitMB(parameters.preferences, queryPhysicalMemory().availableBytes);
    int width = 0;
    int height = 0;
    ImageLoader().querySize(frames.first(), width, height);
    const CalibrationThreads plan = calibrationThreads(parameters.preferences, limitMB, width, height);
    log.logMessage(QStringLiteral("Estimated memory per frame: ") + QString::number(plan.perFrameMB)
                   + QStringLiteral(" MB"));
    if (plan.reduced)
        log.logMessage(QStringLiteral("Memory limit reached. Decreasing maximum threads from ")
                       + QString::number(parameters.preferences.maxThreads) + QStringLiteral(" to ")
                       + QString::number(plan.threads) + QStringLiteral("."));
    maxThreads = plan.threads;
    if (error == 0)
        warnAboutMasterSizes(width, height);

    for (const QString &frame : frames) {
        waitWhile([this] { return threadsRunning >= maxThreads; });
        if (abortRequested) {
            log.logMessage(QStringLiteral("Aborting, please wait..."), Severity::Notice);
            error = kCalibrationAborted;
            waitWhile([this] { return threadsRunning > 0; });
            finish(false);
            return;
        }
        if (error != 0) {
            waitWhile([this] { return threadsRunning > 0; });
            finish(false);
            return;
        }
        startThread(frame);
    }
    waitWhile([this] { return threadsRunning > 0; });
    // A frame that fails while the last ones finish fails the run as well.
    finish(error == 0);
}

void frameCalibration::startThread(const QString &inputPath)
{
    auto thread = std::make_unique<calibrationThread>(
        masterSet(), inputPath, calibratedFramePath(inputPath, parameters.outputFolder), log);
    connect(thread.get(), &calibrationThread::fileWritten, this, &frameCalibration::sFileWritten,
            Qt::QueuedConnection);
    thread->start();
    threads.push_back(std::move(thread));
    ++threadsRunning;
}

void frameCalibration::sFileWritten(QObject *sender)
{
    const auto it = std::find_if(threads.begin(), threads.end(),
                                 [sender](const std::unique_ptr<calibrationThread> &t) { return t.get() == sender; });
    if (it == threads.end())
        return;
    std::unique_ptr<calibrationThread> thread = std::move(*it);
    threads.erase(it);
    thread->quit();
    thread->wait();

    if (thread->errorCode() != 0)
        error = thread->errorCode();
    else
        warnAboutMasterSizes(thread->frameWidth(), thread->frameHeight());
    ++finished;
    --threadsRunning;
    const int total = static_cast<int>(parameters.lightFrames.size());
    log.setProgress(static_cast<float>(finished * 100 / total));
    emit frameFinished(finished, total, thread->outputPath(), thread->errorCode());
    waiter.wake();
}

void frameCalibration::warnAboutMasterSizes(int frameWidth, int frameHeight)
{
    if (frameWidth <= 0 || frameHeight <= 0)
        return;
    for (int kind = 0; kind < MasterKinds; ++kind) {
        const ImageBuffer *master = masters[kind].get();
        if (!master || sizeWarned[kind] || (master->width == frameWidth && master->height == frameHeight))
            continue;
        sizeWarned[kind] = true;
        QString consequence;
        if (master->width >= frameWidth && master->height >= frameHeight)
            consequence =
                QStringLiteral("only its top-left %1 pixels are used.").arg(sizeText(frameWidth, frameHeight));
        else if (kind == Flat)
            consequence = QStringLiteral("outside the master the frame is divided by zero (its samples become 1.0, "
                                         "or 0 where they are 0).");
        else
            consequence = QStringLiteral("outside the master nothing is subtracted.");
        log.logMessage(QStringLiteral("Warning: master %1 is %2 pixels, the light frames are %3; %4")
                           .arg(QLatin1String(kMasterNames[kind]), sizeText(master->width, master->height),
                                sizeText(frameWidth, frameHeight), consequence));
    }
}

void frameCalibration::freeMasters()
{
    for (auto &master : masters)
        master.reset();
}

void frameCalibration::finish(bool success)
{
    freeMasters();
    // Nothing of this object may be touched after the signal: its receiver may schedule the
    // controller's deletion.
    if (success)
        emit allWritten(this);
    else
        emit calibrateError(this);
}
