#pragma once
// One light frame's calibration on a worker thread: load it, normalise it when it is not
// normalised yet, subtract the dark, subtract the bias, divide by the flat, and write it as a
// new FITS file. Each thread handles one frame and is not reused.
//
// Ownership: the masters belong to the frameCalibration that starts the thread, which
// outlives it; the thread only reads them (null = not given). The thread owns its frame.
// Reporting: log lines from the worker thread, then fileWritten(this), delivered queued to
// the controller on the GUI thread. The result fields are written before that signal and
// read by the controller only after it, so they need no lock.
#include "log/errorcodes.h"

#include <QString>
#include <QThread>

class ImageBuffer;
class MessageLog;

// The masters a calibration applies, borrowed; any of them may be null.
struct CalibrationMasterSet {
    const ImageBuffer *bias = nullptr;
    const ImageBuffer *dark = nullptr;
    const ImageBuffer *flat = nullptr;
};

class calibrationThread : public QThread {
    Q_OBJECT
public:
    calibrationThread(const CalibrationMasterSet &masters, const QString &inputPath, const QString &outputPath,
                      MessageLog &log, QObject *parent = nullptr);

    const QString &inputPath() const { return input; }
    const QString &outputPath() const { return output; }
    // 0 when the frame was written; else the load code, the FITS status, kFrameNotNormalizable
    // or kNotEnoughMemory.
    int errorCode() const { return error; }
    // The frame's size as loaded; 0 x 0 when it could not be loaded.
    int frameWidth() const { return width; }
    int frameHeight() const { return height; }

signals:
    void fileWritten(QObject *sender);

protected:
    void run() override;

private:
    void calibrateFrame();

    const CalibrationMasterSet masters;
    const QString input;
    const QString output;
    MessageLog &log;
    int error = 0;
    int width = 0;
    int height = 0;
};
