#pragma once
// The light-frame calibration run: every light frame is loaded, calibrated with the masters
// given (bias, dark, flat) and written as a new FITS file "<folder>/<complete base name>.fts".
// One calibrationThread per frame, at most `threads` at a time, the count lowered when the
// frames would not fit in the memory limit (resourcelimits.h).
//
// Threads: construct, load the masters and call calibrate() on the GUI thread (any thread
// with a Qt event loop will do; the command line uses its main thread). calibrate() returns
// when the run has ended, processing events while it waits, and emits exactly one of
// allWritten or calibrateError just before it returns. Their receivers may delete the
// controller only with deleteLater(), since calibrate() is still on the stack then.
// The abort flag may be set from any thread (the main window's Abort button holds its address
// during the run): frames not yet started are skipped, running ones finish.
//
// Ownership: the controller owns the masters and its threads; the threads borrow the masters
// read-only. Masters are freed when the run ends, at the latest with the controller.
#include "calib/calibrationthread.h"
#include "calib/resourcelimits.h"
#include "log/messagelog.h"
#include "platform/workdriver.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class ImageBuffer;

// The run's error code after abort: kCalibrationAborted (errorcodes.h).

// What one calibration run is asked to do. The dialog, the console and the command line fill
// it; `preferences` come from readRunPreferences() (the command line may override maxThreads).
struct CalibrationParameters {
    QStringList lightFrames; // paths, calibrated in this order
    QString outputFolder;    // must exist; existing files in it are never overwritten
    QString biasPath;        // empty: no master of that kind
    QString darkPath;
    QString flatPath;
    ResourcePreferences preferences;
};

// Loaded masters; a null buffer is a master that was not given or did not load.
struct CalibrationMasters {
    std::unique_ptr<ImageBuffer> bias;
    std::unique_ptr<ImageBuffer> dark;
    std::unique_ptr<ImageBuffer> flat;
    int errorCode = 0; // the first failed load's code, 0 when every given master loaded
};

// Loads the non-empty paths in the order bias, dark, flat (not verbose), logging "Setting bias
// frame to: <path>" and so on for each. A master whose white level is not 1.0 is normalised
// like the frames, with one log line saying so. A failed load keeps its code unless an earlier
// one failed already; the loader logs why.
CalibrationMasters loadCalibrationMasters(const QString &biasPath, const QString &darkPath, const QString &flatPath,
                                          MessageLog &log);

// Why a request cannot start, as the warning to log ("" when it can): no light frames, no
// output folder, or an output folder that does not exist.
QString calibrationRequestProblem(const CalibrationParameters &parameters);

// "<outputFolder>/<complete base name of input>.fts": M42.light.cr2 becomes M42.light.fts.
QString calibratedFramePath(const QString &inputPath, const QString &outputFolder);

// The end-of-run texts for an error code: "Could not create FITS file (may be it already
// exists?)" for 105, "error writing to FITS file" for 106, own texts for not enough memory
// (1103), a frame without a value range (1107) and abort (1011), "Unknown error" otherwise.
QString calibrationErrorText(int code);

// How a run that ended with `code` is reported: the log line and the status text.
// 0: "Calibration done." / "Ready."; 1011: "Calibration aborted." / "Aborted.";
// else "Error during frame calibration: <text>" / "Error <code>", shown as a warning (the
// light red the console has always given it).
struct CalibrationOutcome {
    QString logLine;
    QString statusText;
    Severity logSeverity = Severity::Info;
};
CalibrationOutcome calibrationOutcome(int code);

class frameCalibration : public QObject {
    Q_OBJECT
public:
    explicit frameCalibration(const CalibrationParameters &parameters, QObject *parent = nullptr,
                              MessageLog &log = messageLog());
    ~frameCalibration() override;

    // Loads the masters named in the parameters (loadCalibrationMasters); a failed load
    // becomes the run's error code, which makes calibrate() end with calibrateError before
    // any frame starts. Returns that code.
    int loadMasters();
    // Masters loaded elsewhere (the error code of the set is kept like loadMasters does).
    void setMasters(CalibrationMasters masters);

    // Runs the batch to its end; see the note at the top of this file.
    void calibrate();

    // The flag that Abort sets; false at construction.
    std::atomic<bool> *abortFlag() { return &abortRequested; }
    // 0, kCalibrationAborted, a master's or a frame's load code, or a FITS status. When
    // several frames fail, the code of the last one reported.
    int errorCode() const { return error; }
    // Threads the run used at most, after the memory rule (valid once calibrate() started).
    int threadLimit() const { return maxThreads; }
    int framesFinished() const { return finished; }

signals:
    void allWritten(QObject *sender);
    void calibrateError(QObject *sender);
    // After each frame, on the controller's thread: frames finished so far, the frame's
    // output path and its error code (0 when written).
    void frameFinished(int finishedFrames, int totalFrames, const QString &outputPath, int frameError);

public slots:
    void sFileWritten(QObject *sender);

private:
    enum MasterKind { Bias, Dark, Flat, MasterKinds };

    // Waits while `busy` holds, processing events; woken by every finished frame.
    void waitWhile(const std::function<bool()> &busy);
    void startThread(const QString &inputPath);
    void warnAboutMasterSizes(int frameWidth, int frameHeight);
    void freeMasters();
    void finish(bool success);
    CalibrationMasterSet masterSet() const;

    const CalibrationParameters parameters;
    MessageLog &log;
    std::unique_ptr<ImageBuffer> masters[MasterKinds];
    bool sizeWarned[MasterKinds] = {false, false, false};
    int error = 0;
    int maxThreads = 1;
    int threadsRunning = 0;
    int finished = 0;
    std::atomic<bool> abortRequested{false};
    RunWaiter waiter;
    // Declared after the masters: threads go first, and the destructor waits for them.
    std::vector<std::unique_ptr<calibrationThread>> threads;
};
