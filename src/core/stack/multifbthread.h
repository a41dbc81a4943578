#pragma once
// Loads one frame's band for a stack on a worker thread: reads the rows, normalises them when
// they are not normalised yet, calibrates them by the masters and, for registered frames,
// resamples them into the common output frame. Each thread loads one band and is not reused.
//
// Ownership: the masters belong to the MultiFB that starts the thread and outlives it; the
// thread only reads them. The band it loads is its own until the MultiFB takes it.
// Reporting: resultReady(this) or procFailed(this), emitted last in run() and delivered queued
// to the MultiFB on its thread. The result fields are written before the signal and read only
// after it, so they need no lock. The thread logs nothing itself: the MultiFB reports.
#include "bandcalibration.h"
#include "framenormalization.h"
#include "registeredgeometry.h"
#include "subpixelresample.h"

#include <QString>
#include <QThread>

#include <atomic>
#include <memory>

class ImageBuffer;

// Everything one loader needs to know about its band.
struct FrameBandRequest {
    int frameIndex = 0;
    QString path;
    int firstRow = 0; // the first output row of the band
    int rowCount = 0; // output rows in the band
    int frameWidth = 0;
    int frameHeight = 0;
    BandMasters masters;
    // Registered frames: the frame's placement, the stack's bounds and its width.
    bool registered = false;
    FramePlacement placement;
    OutputBounds bounds;
    int outputWidth = 0;
    // How a registered band samples its frame (subpixelresample.h).
    StackInterpolation interpolation = StackInterpolation::Nearest;
    // The frame's normalization, applied to its calibrated pixels (identity: none).
    NormalizationFactors normalization;
    // Registered bands: pixels outside the frame get alpha 0 (no sample) instead of 1.
    bool excludeOutside = false;
    // Set by the MultiFB's Abort; a registered band stops resampling at the next row.
    const std::atomic<bool> *abort = nullptr;
};

class MultiFBThread : public QThread {
    Q_OBJECT
public:
    explicit MultiFBThread(const FrameBandRequest &request, QObject *parent = nullptr);
    ~MultiFBThread() override;

    const FrameBandRequest request;
    // 0 after a load, else the loader's code (kNotEnoughMemory, kFrameNotNormalizable, ...).
    int errorCode = 0;
    // The loaded band: output width x rowCount pixels; null after a failure. Before the start
    // the frame's previous band, if any: a registered band of the same size is written over
    // it, any other is freed first.
    std::unique_ptr<ImageBuffer> band;
    // Width of the frame as read; differs from frameWidth when the frame has another size.
    int sourceWidth = 0;
    // The frame was smaller or larger than the first frame in this band.
    bool sizeDiffers = false;

signals:
    void resultReady(QObject *sender);
    void procFailed(QObject *sender);

protected:
    void run() override;

private:
    std::unique_ptr<ImageBuffer> loadPlainBand(std::unique_ptr<ImageBuffer> previous);
    std::unique_ptr<ImageBuffer> loadRegisteredBand(std::unique_ptr<ImageBuffer> previous);
};
