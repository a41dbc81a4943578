#pragma once
// One frame of a registration run on a worker thread: load it, normalise it when it is not
// normalised yet, subtract the bias and the dark, divide by the flat, find its stars and keep
// their patterns. Each thread handles one frame and is not reused.
//
// Ownership: the masters belong to the StarCollector that starts the thread, which outlives
// it; the thread only reads them (null = not given). The thread owns its frame while it runs
// and its pattern copy until the collector takes it.
// Reporting: "Finished <path>" from the worker thread, then resultReady(this) or, when the
// frame could not be loaded or calibrated, errorRaised(this); both are delivered queued to the
// collector on its thread. The result fields are written before the signal and read only after
// the collector has waited for the thread, so they need no lock.
#include "log/errorcodes.h"
#include "log/messagelog.h"
#include "stars/precisecentroid.h"
#include "stars/starpattern.h"
#include "stars/starrecord.h"

#include <QString>
#include <QThread>

#include <memory>
#include <vector>

class ImageBuffer;

// Masters that a registration applies, borrowed; any of them may be null.
struct RegistrationMasters {
    const ImageBuffer *bias = nullptr;
    const ImageBuffer *dark = nullptr;
    const ImageBuffer *flat = nullptr;
};

// Keeps the lines of a chatty step (the star finder, the transformation estimate) out of the
// console while a run logs its own progress: each line becomes a trace of `target`. Status
// texts and progress are dropped. Thread-safe as far as the target is.
class TraceOnlyLog : public MessageLog {
public:
    explicit TraceOnlyLog(MessageLog &target) : target(target) {}
    void setStatusText(const QString &) override {}
    void setProgress(float) override {}
    void traceMessage(const QString &text) override { target.traceMessage(text); }

protected:
    void appendLine(const QString &text, Severity) override { target.traceMessage(text); }

private:
    MessageLog &target;
};

class StarCollectorThread : public QThread {
    Q_OBJECT
public:
    // log: where "Finished" and failures go; finderLog: where the star finder reports.
    StarCollectorThread(const QString &fileName, int frameIndex, const RegistrationMasters &masters,
                        const StarSearchParameters &search, MessageLog *log, MessageLog *finderLog,
                        QObject *parent = nullptr);
    ~StarCollectorThread() override;

    // The frame being worked on, while the thread runs.
    std::unique_ptr<ImageBuffer> image;
    const ImageBuffer *dark;
    const ImageBuffer *bias;
    const ImageBuffer *flat;
    bool useDark;
    bool useBias;
    bool useFlat;
    MessageLog *log;
    MessageLog *finderLog;
    const QString fileName;
    const int frameIndex;
    // The finder's patterns, starCount and averageFwhm, valid after resultReady.
    std::vector<StarPattern> patterns;
    int patternCount = 0;
    int starCount = 0;
    float averageFwhm = 0.0f;
    // With refine set before the start, the stars measured precisely for refining the
    // registration (precisecentroid.h); empty otherwise.
    bool refine = false;
    std::vector<PreciseStar> preciseStars;
    float threshold;
    bool autoThreshold;
    // The threshold the search used (valid after resultReady).
    float thresholdUsed = 0.0f;
    float maxBrightness;
    int maxStarSize;
    // 0, the loader's code, kFrameNotNormalizable or kNotEnoughMemory (valid after errorRaised).
    int errorCode = 0;
    // Masters that were given but left out because their size differs from this frame's.
    bool skippedDark = false;
    bool skippedBias = false;
    bool skippedFlat = false;
    // The frame's size as loaded; 0 x 0 when it could not be loaded.
    int frameWidth = 0;
    int frameHeight = 0;

signals:
    void resultReady(QObject *thread);
    void errorRaised(QObject *thread);

protected:
    void run() override;

private:
    bool loadAndCalibrate();
};
