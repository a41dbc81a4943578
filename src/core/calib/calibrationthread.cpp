#include "calibrationthread.h"

#include "calib/calibarithmetic.h"
#include "image/fitswriter.h"
#include "image/imagebuffer.h"
#include "image/imageloader.h"
#include "log/messagelog.h"
#include "log/outofmemory.h"

calibrationThread::calibrationThread(const CalibrationMasterSet &masterSet, const QString &inputPath,
                                     const QString &outputPath, MessageLog &messageLog, QObject *parent)
    : QThread(parent), masters(masterSet), input(inputPath), output(outputPath), log(messageLog)
{
}

void calibrationThread::run()
{
    error = 0;
    log.logMessage(QStringLiteral("Calibrating ") + input + QStringLiteral("..."));
    // Nothing may escape a thread: running out of memory becomes this frame's error.
    try {
        calibrateFrame();
    } catch (const std::bad_alloc &failure) {
        error = kNotEnoughMemory;
        log.logMessage(QStringLiteral("%1 (calibrating %2)")
                           .arg(notEnoughMemoryText(failure), input), Severity::Error);
    }
    emit fileWritten(this);
}

void calibrationThread::calibrateFrame()
{
    std::unique_ptr<ImageBuffer> frame;
    {
        ImageLoader loader;
        loader.log = &log;
        frame = loader.loadFile(input, false);
        if (!frame) {
            error = loader.errorCode;
            log.logMessage(failureLine(QStringLiteral("cannot open"), input, fileFailureText(input, error), error));
            return;
        }
    }
    width = frame->width;
    height = frame->height;

    if (frame->whiteLevel != 1.0f && !normalizeImage(*frame)) {
        error = kFrameNotNormalizable;
        log.logMessage(QStringLiteral("Cannot calibrate %1: its white level equals its black "
                                      "level (%2), so it has no value range.")
                           .arg(input, logNumber(frame->whiteLevel)), Severity::Error);
        return;
    }
    if (masters.dark)
        subtractImage(*frame, *masters.dark);
    if (masters.bias)
        subtractImage(*frame, *masters.bias);
    if (masters.flat)
        divideImage(*frame, *masters.flat);

    FitsReader record(output);
    preparePlanes(record, *frame);
    // The planes hold everything the file needs; the frame's memory can go before the write.
    frame.reset();
    writeFits(record, width, height);
    if (record.status != 0) {
        error = record.status;
        log.logMessage(
            QStringLiteral("%1: %2").arg(output, fitsStatusText(record.status)), Severity::Error);
        if (!record.reason.isEmpty())
            log.logMessage(failureLine(QStringLiteral("cannot write"), output, record.reason));
        return;
    }
    log.logMessage(output + QStringLiteral(" done."));
}
