#pragma once
// The frame buffer of a stack: N frames of equal size combined pixel by pixel without holding
// N whole frames in memory. For every frame it holds one band of consecutive rows (all frames'
// bands cover the same rows); MultiFBThread loaders fill the bands of all frames, at most
// maxThreads at a time, each calibrating its band; MFBWorker threads then combine the band's
// rows. Bands are loaded in order, band k holding rows k x maxScanlines onward. In registered
// mode (setTransform) every frame is resampled into the common output frame of all frames
// (registeredgeometry.h) and the bands are output rows.
//
// Threads: construct the MultiFB, set masters and options, and run one driver on a thread
// with a Qt event dispatcher (the GUI thread, or the main thread of a QCoreApplication): the
// driver processes that thread's events while it waits, and the loaders' and workers' queued
// signals reach the slots there. The abort flag may be set from any thread (the main window's
// Abort button, an interrupt handler): no loader starts after it, workers take no further
// row, and the driver ends within a band load of one frame.
//
// Ownership: the MultiFB owns the bands, the masters, its loaders and workers; a driver's
// result belongs to the caller. Reports go to the MessageLog given at construction, which
// must outlive the MultiFB.
//
// The result: a buffer of outputWidth() x outputHeight() pixels (r, g, b, 1.0), white level
// 1.0, black level 0.0, channels 3; a pixel without any sample is NaN. The same bits for any
// thread count and any band size.
#include "bandcalibration.h"
#include "framenormalization.h"
#include "frameweights.h"
#include "calib/resourcelimits.h"
#include "log/errorcodes.h"
#include "mfbworker.h"
#include "registeredgeometry.h"
#include "subpixelresample.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class ImageBuffer;
class MessageLog;
class MultiFBThread;
class RunWaiter;

// Error codes of a stack besides 0 and the loaders' codes: kStackTransformIndexInvalid,
// kStackTooFewFrames, kStackBudgetTooSmall and kStackAborted (log/errorcodes.h).

class MultiFB : public QObject {
    Q_OBJECT
public:
    // Reads the preferences (readRunPreferences) and the available physical memory once.
    MultiFB(MessageLog &log, const QStringList &paths, QObject *parent = nullptr);
    // With the preferences and the available memory given (tests, the command line).
    MultiFB(MessageLog &log, const QStringList &paths, const ResourcePreferences &prefs,
            std::uint64_t availableBytes, QObject *parent = nullptr);
    ~MultiFB() override;

    // Masters: loaded whole (not verbose). A master that fails to load, or whose size differs
    // from the frames' (one warning naming both sizes), is not applied; false then. One that is
    // not normalised (white level other than 1.0) is normalised like the frames, with a line
    // saying so.
    bool setFlat(const QString &path);
    bool setDark(const QString &path);
    bool setBias(const QString &path);
    bool setDarkFlat(std::unique_ptr<ImageBuffer> master);
    bool setDarkFlat(const QString &path);

    // Registered mode: frame `frame`'s offset and angle (degrees) as registered. Widens the
    // output frame and recomputes its size and maxScanlines (28 bytes per pixel and frame).
    // An index outside 0 .. N - 1 sets errorCode 1 and changes nothing else.
    void setTransform(int frame, float tx, float ty, float angle);
    // Registered mode: how every frame is sampled at the output pixels (subpixelresample.h).
    // Nearest, the default, takes the source pixel at the truncated position; Bilinear and
    // Lanczos3 interpolate at the exact position. Set before a driver runs; an unregistered
    // stack does not use it.
    void setInterpolation(StackInterpolation mode) { interpolationMode = mode; }
    StackInterpolation interpolation() const { return interpolationMode; }
    // Bringing every frame to the first frame's sky before combining (framenormalization.h);
    // None (the default) reads nothing extra. Set before the stack runs.
    void setNormalization(StackNormalization mode) { normalizationMode = mode; }
    StackNormalization normalization() const { return normalizationMode; }
    // Registered stacks: a pixel outside a frame gives no sample, instead of a zero one, so each
    // output pixel combines only the frames that cover it; a pixel no frame covers is NaN.
    void setCoverage(bool on) { coverageMode = on; }
    // Frame weights (frameweights.h); NoiseFwhm takes each frame's FWHM from setFrameFwhm.
    void setWeighting(StackWeighting mode) { weightingMode = mode; }
    void setFrameFwhm(std::vector<float> fwhm) { frameFwhm = std::move(fwhm); }
    // Each frame's weight after a weighted stack started, in frame order.
    const std::vector<float> &weights() const { return frameWeightList; }
    bool coverage() const { return coverageMode; }
    // After a stack with coverage: pixels whose rejection fell back to the plain mean.
    std::int64_t fallbacks() const { return fallbackPixels; }
    // Each frame's factors after a normalised stack started, in frame order.
    const std::vector<NormalizationFactors> &normalizationFactors() const { return frameFactors; }

    // The drivers; each returns the stack, or null on error or abort (errorCode says which).
    std::unique_ptr<ImageBuffer> stackAverage();
    std::unique_ptr<ImageBuffer> stackMedian();
    std::unique_ptr<ImageBuffer> stackSigma();

    // The flag Abort sets; false at construction.
    std::atomic<bool> *abortFlag() { return &abortRequested; }

    int frameCount() const { return static_cast<int>(framePaths.size()); }
    const QStringList &paths() const { return framePaths; }
    bool registered() const { return registeredMode; }
    // The size of the result: the frames' size, or the common frame's in registered mode.
    int outputWidth() const { return registeredMode ? registeredWidth : width; }
    int outputHeight() const { return registeredMode ? registeredHeight : height; }
    // Bands the last driver loaded (or began to load), and the output rows of the band held
    // (-1 before the first load).
    int bandsLoaded() const { return bandCount; }
    int heldFirstRow() const { return bandFirst; }
    int heldLastRow() const { return bandLast; }
    // A band is being loaded (the driver is waiting for its loaders).
    bool loadingBand() const { return bandLoading; }
    // The masters as applied; null when not given or not applied.
    const ImageBuffer *flatMaster() const { return flat.get(); }
    const ImageBuffer *darkMaster() const { return dark.get(); }
    const ImageBuffer *biasMaster() const { return bias.get(); }
    const ImageBuffer *darkFlatMaster() const { return darkFlat.get(); }
    // Why the last master refused was not applied ("cannot read master flat F: ... (error N)",
    // or the two sizes); "" while none was refused.
    const QString &lastMasterProblem() const { return masterProblem; }

    // What errorCode means for this stack, as one phrase naming the file where one failed
    // ("could not load F: <reason>"); "" while errorCode is 0.
    QString errorText() const;

    // 0, or 1, 2, 1098, 1099, a load code of the first frame or of a band.
    int errorCode = 0;
    // The frames' size, from the first frame.
    int width = 0;
    int height = 0;
    // Rows per band; 0 when the budget holds not one row of every frame.
    int maxScanlines = 0;
    // Loaders at a time, and combining threads.
    int maxThreads = 1;
    // Options of the combination, set before a driver runs.
    int rejectionMode = 0; // 0 none, 1 winsorize, 2 trim
    float sigmaFactor = 1.0f;
    float rejectFraction = 0.1f;

public slots:
    // A loader has its band: it goes into the frame's slot.
    void collectResult(QObject *sender);
    // A worker has finished its share of the band's rows.
    void lineDone(QObject *sender);
    // A loader failed: its code becomes the stack's.
    void errorAbort(QObject *sender);

private:
    enum class RunEnd { Normal, Error, Abort };
    struct LoadFailure {
        QString path;
        int code = 0;
    };

    void construct(const ResourcePreferences &prefs, std::uint64_t availableBytes);
    bool loadMaster(std::unique_ptr<ImageBuffer> &slot, const QString &path, const char *kind);
    bool acceptMaster(std::unique_ptr<ImageBuffer> &slot, std::unique_ptr<ImageBuffer> master, const QString &name);
    std::unique_ptr<ImageBuffer> runDriver(int mode, const QString &startLine, const QString &endLine,
                                           bool traceAbortLine);
    std::unique_ptr<ImageBuffer> drive(int mode, const QString &startLine, const QString &endLine,
                                       bool traceAbortLine);
    bool startWorkers(ImageBuffer &output, int mode);
    void stopWorkers();
    void loadBand(int first);
    void startLoader(int frame, int first, int rows);
    void combineBand(int first, int rows);
    void finishLoader(MultiFBThread *loader);
    void reportFramesOfOtherSize();
    void releaseBands();
    BandMasters bandMasters() const;

    MessageLog &log;
    const QStringList framePaths;
    ResourcePreferences preferences;
    std::uint64_t availableMemory = 0;
    std::int64_t budgetMB = 0;
    QString masterProblem;

    std::unique_ptr<ImageBuffer> flat;
    std::unique_ptr<ImageBuffer> dark;
    std::unique_ptr<ImageBuffer> bias;
    std::unique_ptr<ImageBuffer> darkFlat;

    // Registered mode: each frame's placement and the common frame.
    bool registeredMode = false;
    std::vector<FramePlacement> placements;
    OutputBounds bounds;
    int registeredWidth = 0;
    int registeredHeight = 0;
    StackInterpolation interpolationMode = StackInterpolation::Nearest;
    StackNormalization normalizationMode = StackNormalization::None;
    bool coverageMode = false;
    StackWeighting weightingMode = StackWeighting::None;
    std::vector<float> frameFwhm;
    std::vector<float> frameWeightList;
    std::int64_t fallbackPixels = 0;
    std::vector<NormalizationFactors> frameFactors;
    // Measures every frame's sky when the stack is normalised or weighted and logs each frame's
    // factors and weight; false (errorCode set) when a frame fails.
    bool measureFrames();

    // One band slot per frame, and the rows the slots hold (-1 before the first load).
    std::vector<std::unique_ptr<ImageBuffer>> bands;
    int bandFirst = -1;
    int bandLast = -1;
    int bandCount = 0;

    // Loaders of the band being loaded, counted and reported on the driver's thread.
    std::vector<std::unique_ptr<MultiFBThread>> loaders;
    int loadersRunning = 0;
    int highestReported = -1;
    bool bandLoading = false;
    std::vector<LoadFailure> loadFailures;
    std::vector<int> framesOfOtherSize;
    std::vector<bool> sizeWarned;

    // Workers of the running driver.
    BandRowQueue rowQueue;
    std::vector<std::unique_ptr<MFBWorker>> workers;
    int workersDone = 0;

    std::atomic<bool> abortRequested{false};
    // The driver's wait; slots wake it.
    std::unique_ptr<RunWaiter> waiter;
};
