#pragma once
// The registration run: every frame is loaded, calibrated with the masters given and searched
// for stars by a StarCollectorThread, at most maxThreads at a time (fewer when the frames would
// not fit in the memory limit); then each frame's patterns are compared with those of frame 0,
// the reference, which gives its offset, angle and whether it can be stacked.
//
// Threads: construct, load the masters and call run() on a thread with a Qt event loop (the GUI
// thread; the command line uses its main thread). run() returns when the run has ended,
// processing events while it waits, so the interface stays live and the workers' queued
// signals reach collectResult / handleError. On success it emits collectFinished(this) just
// before it returns; its receiver may delete the collector only with deleteLater(). A run that
// fails or is aborted returns without collectFinished and leaves errorCode set.
// The abort flag given to setAbortFlag may be set from any thread: no further frame starts,
// running ones finish, and the run ends without results (kRegistrationAborted).
//
// Console: "Processing <path>..." as each frame starts and "Finished <path>" as it ends; the
// star finders' and the estimate's own lines go to the log's traces only (TraceOnlyLog), so
// nothing has to mute the shared log while other threads write to it.
//
// Ownership: the collector owns the masters, the threads and the comparison; the threads
// borrow the masters read-only. The log and the dialog are borrowed.
#include "calib/resourcelimits.h"
#include "log/messagelog.h"
#include "platform/workdriver.h"
#include "stars/registrationresult.h"
#include "stars/starcollectorthread.h"
#include "stars/starrecord.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class ImageBuffer;
class StarCompare;
struct Transformation;

// Error codes of a run besides the loader's (errorcodes.h): kRegistrationTooFewFrames and
// kRegistrationAborted.

// Memory a frame in flight is reckoned to need.
constexpr std::int64_t kRegistrationBytesPerPixel = 28;

// What one registration is asked to do; the dialog, the console and the command line fill it.
struct RegistrationParameters {
    QStringList files; // the first is the reference
    QString flatPath;  // empty: no master of that kind
    QString darkPath;
    QString biasPath;
    float threshold = kDefaultStarThreshold;
    float maxBrightness = kDefaultMaxBrightness;
    int maxStarSize = kDefaultStarSize;
    // Refine each stackable frame's transformation with all its stars (transformrefinement.h).
    bool refine = false;
    // Choose each frame's threshold from its sky noise (autothreshold.h); `threshold` unused.
    bool autoThreshold = false;
};

struct RegistrationThreads {
    std::int64_t budgetMB = 0; // maxMem, or memPercent of the available memory when that is less
    int threads = 1;           // threads to run at once, at least 1
    bool reduced = false;      // fewer than prefs.maxThreads: the run logs the decrease
};

// The thread count for frames of width x height: budget = maxMem MB when that is not above
// the available memory, else availableMB x memPercent / 100; threads = budget x 2^20 / width
// / height / 28 in integer division, at least 1; reduced when that is below maxThreads.
// 6000 x 4000 frames with maxMem 1024, 600 MB available and 50 % give a 300 MB budget, 1 thread.
RegistrationThreads registrationThreads(const ResourcePreferences &prefs, std::uint64_t availableBytes, int width,
                                        int height);

class StarCollector : public QObject {
    Q_OBJECT
public:
    // Reads the preferences now and the available memory when run() starts.
    explicit StarCollector(QObject *parent = nullptr);
    // Fixed figures, for tests and the command line's overrides.
    StarCollector(const ResourcePreferences &prefs, std::uint64_t availableBytes, QObject *parent = nullptr);
    ~StarCollector() override;

    // Copies the files and search parameters and loads the masters named in `parameters`.
    void configure(const RegistrationParameters &parameters);
    // Loads the non-empty paths in the order bias, dark, flat. A master that is not normalised
    // (a white level other than 1.0, such as a 16-bit FITS master) is normalised like the
    // frames, and the log says so. A failed load logs the path and the reason and sets
    // errorCode (the first failure's code), which ends run() before any frame starts.
    void loadMasters(const QString &biasPath, const QString &darkPath, const QString &flatPath, MessageLog &log);
    // The run; see the note at the top of this file.
    void run();
    // The main window's abort request (null: none). Read from the run only.
    void setAbortFlag(const std::atomic<bool> *flag) { abortFlag = flag; }

    QStringList files;
    QString flatFile; // paths of the masters that loaded
    QString darkFile;
    QString biasFile;
    float threshold = kDefaultStarThreshold;
    float maxBrightness = kDefaultMaxBrightness;
    int maxStarSize = kDefaultStarSize;
    bool refine = false;
    bool autoThreshold = false;
    // Frames at a time, from the preferences; run() may lower it by the memory rule.
    int maxThreads;
    // 0; the code of a failed load (master or frame), kFrameNotNormalizable, kNotEnoughMemory,
    // kRegistrationTooFewFrames or kRegistrationAborted.
    int errorCode = 0;
    // The master or frame whose failure set errorCode; empty for the other codes.
    QString errorFile;
    // One per file after a successful run, in file order.
    std::vector<RegistrationResult> results;
    // The dialog whose table receives the results; set and read by the GUI.
    QPointer<QObject> dialog;
    // Where the run reports; the process-wide log unless set.
    MessageLog *log;

signals:
    void collectFinished(QObject *collector);

public slots:
    void collectResult(QObject *thread);
    void handleError(QObject *thread);

private:
    enum MasterKind { Bias, Dark, Flat, MasterKinds };

    bool dispatchFrames(int width, int height);
    void startThread(int frameIndex);
    std::unique_ptr<StarCollectorThread> takeThread(QObject *thread);
    void computeResults();
    void refineFrame(int index, Transformation &t, RegistrationResult &result);
    void stopAfterError();
    void stopAfterAbort();
    void warnAboutMasterSize(MasterKind kind, int frameWidth, int frameHeight, const QString &frame);
    RegistrationMasters masterSet() const;
    bool abortRequested() const { return abortFlag && abortFlag->load(); }
    void freeMasters();

    const ResourcePreferences preferences;
    const std::optional<std::uint64_t> fixedAvailableBytes;
    const std::atomic<bool> *abortFlag = nullptr;
    std::unique_ptr<ImageBuffer> masters[MasterKinds];
    bool sizeWarned[MasterKinds] = {false, false, false};
    int running = 0;
    int remaining = 0;
    int framesDone = 0;
    std::vector<float> fwhmByFrame;
    std::vector<float> starsByFrame;
    std::vector<float> thresholdByFrame;
    std::vector<std::vector<PreciseStar>> preciseByFrame;
    std::unique_ptr<TraceOnlyLog> quietLog;
    std::unique_ptr<StarCompare> compare;
    RunWaiter waiter;
    // Declared last: threads go first, and their destructors wait for them.
    std::vector<std::unique_ptr<StarCollectorThread>> threads;
};
